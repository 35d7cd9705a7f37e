#include "DSPlayClass.h"

#include <mpv/client.h>

#include <QElapsedTimer>
#include <clocale>
#include <cmath>
#include <utility>
#include <vector>

#include "FlvCheck.h"
#include "VideoSurface.h"
#include "platform/file.h"

namespace {

constexpr int kTimerMs = 100;

// The engine's fixed set-up: no user configuration, terminal, key bindings,
// on-screen controller or web-video helper of the mpv program.
constexpr std::pair<const char*, const char*> kEngineOptions[] = {
    {"config", "no"},
    {"terminal", "no"},
    {"input-default-bindings", "no"},
    {"osc", "no"},
    {"ytdl", "no"},
    {"idle", "yes"},
    {"pause", "yes"},
    // Stay on the last frame at the end, so that a stop can go back to the
    // start like a stopped graph, and the end is an event rather than an unload.
    {"keep-open", "yes"},
    {"audio-display", "no"},
    // Software decoding: the cached videos are small, and probing the
    // hardware interop paths only costs start-up time on machines without them.
    {"hwdec", "no"},
    {"gpu-hwdec-interop", "no"},
    // Grabs copy the decoded frame in software: the GPU path would have to
    // wait for the render thread, which is the thread asking.
    {"screenshot-sw", "yes"},
};

double to_seconds(std::int64_t media_time) {
    return static_cast<double>(media_time) / kMediaTimeUnitsPerSecond;
}

std::int64_t to_media_time(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * kMediaTimeUnitsPerSecond));
}

// mpv's volume is a percentage on a cubic scale: gain = (volume / 100)^3.
double mpv_volume_from_value(int value) {
    const double db = (value - 10000) / 100.0;
    return 100.0 * std::pow(10.0, db / 60.0);
}

int value_from_mpv_volume(double volume) {
    if (volume <= 0) return 0;
    return static_cast<int>(std::lround(10000 + 100 * 60 * std::log10(volume / 100.0)));
}

void command(mpv_handle* mpv, std::initializer_list<const char*> words) {
    std::vector<const char*> args(words);
    args.push_back(nullptr);
    mpv_command(mpv, args.data());
}

std::string string_property(mpv_handle* mpv, const char* name) {
    char* value = mpv_get_property_string(mpv, name);
    std::string out = value ? value : "";
    mpv_free(value);
    return out;
}

}  // namespace

TDSPlayer::TDSPlayer(TVideoSurface* video_window, TDSPlayerListener* listener,
                     const TDSPlayerConfig& config)
    : listener_(listener), config_(config), video_window_(video_window) {
    timer_.setInterval(kTimerMs);
    connect(&timer_, &QTimer::timeout, this, &TDSPlayer::OnTimer);
    CreateEngine();
}

TDSPlayer::~TDSPlayer() {
    timer_.stop();
    if (!graph_.mpv) return;
    mpv_set_wakeup_callback(graph_.mpv, nullptr, nullptr);
    // The render context must go before the core it draws for.
    if (video_window_) video_window_->Detach();
    mpv_terminate_destroy(graph_.mpv);
}

void TDSPlayer::CreateEngine() {
    // mpv refuses to start under a locale whose numbers are not written the
    // C way, and QApplication has just adopted the user's.
    std::setlocale(LC_NUMERIC, "C");
    graph_.mpv = mpv_create();
    if (!graph_.mpv) return;
    mpv_handle* mpv = graph_.mpv;
    for (const auto& [name, value] : kEngineOptions) mpv_set_option_string(mpv, name, value);
    mpv_set_option_string(mpv, "vo", video_window_ ? "libmpv" : "null");
    if (!config_.audio_output.empty())
        mpv_set_option_string(mpv, "ao", config_.audio_output.c_str());
    if (mpv_initialize(mpv) < 0) {
        mpv_terminate_destroy(mpv);
        graph_.mpv = nullptr;
        return;
    }
    mpv_observe_property(mpv, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        mpv,
        [](void* self) {
            // On one of mpv's threads: only queue the draining.
            auto* player = static_cast<TDSPlayer*>(self);
            QMetaObject::invokeMethod(
                player, [player] { player->DrainEvents(); }, Qt::QueuedConnection);
        },
        this);
    if (video_window_) video_window_->Attach(mpv);
}

void TDSPlayer::DrainEvents() {
    if (!graph_.mpv) return;
    for (;;) {
        mpv_event* event = mpv_wait_event(graph_.mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        HandleEvent(*event);
    }
}

void TDSPlayer::HandleEvent(const mpv_event& event) {
    switch (event.event_id) {
        case MPV_EVENT_START_FILE: {
            auto* start = static_cast<mpv_event_start_file*>(event.data);
            if (loading_entry_ == 0) loading_entry_ = start->playlist_entry_id;
            break;
        }
        case MPV_EVENT_FILE_LOADED:
            if (loading_entry_ > 0) {
                loaded_entry_ = loading_entry_;
                load_done_ = true;
            }
            break;
        case MPV_EVENT_END_FILE: {
            auto* end = static_cast<mpv_event_end_file*>(event.data);
            if (end->playlist_entry_id == loading_entry_ && !load_done_) {
                load_failed_ = true;
                load_done_ = true;
            }
            if (end->playlist_entry_id == loaded_entry_) loaded_entry_ = -1;
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            auto* prop = static_cast<mpv_event_property*>(event.data);
            if (prop->format == MPV_FORMAT_FLAG && std::string(prop->name) == "eof-reached")
                end_reached_ = *static_cast<int*>(prop->data) != 0;
            // The end is handled after the events are drained, never inside
            // the loop that waits for a file to load.
            if (end_reached_ && state_ != stopped)
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (end_reached_ && state_ != stopped) Stop();
                    },
                    Qt::QueuedConnection);
            break;
        }
        default:
            break;
    }
}

void TDSPlayer::Halt() {
    timer_.stop();
    if (graph_.mpv) command(graph_.mpv, {"stop"});
    state_ = stopped;
    graph_.has_video = false;
    graph_.has_audio = false;
    duration_ = 0;
    position_ = 0;
    end_reached_ = false;
}

void TDSPlayer::Fail(TDSOpenResult why) {
    open_result_ = why;
    if (graph_.mpv) command(graph_.mpv, {"stop"});
    if (listener_) listener_->DSPlayerOpened(false);
}

bool TDSPlayer::WaitForLoad() {
    QElapsedTimer clock;
    clock.start();
    while (!load_done_ && clock.elapsed() < kOpenTimeoutMs) {
        mpv_event* event = mpv_wait_event(graph_.mpv, 0.05);
        if (event->event_id != MPV_EVENT_NONE) HandleEvent(*event);
    }
    return load_done_ && !load_failed_;
}

bool TDSPlayer::Open(const std::string& path) {
    // A replaced file ends quietly: its stop is not a stop of the play list.
    Halt();
    path_ = path;
    open_result_ = TDSOpenResult::ok;
    if (platform::file_size(path.c_str()) < 0) {
        Fail(TDSOpenResult::missing);
        return false;
    }
    if (!graph_.mpv) {
        Fail(TDSOpenResult::engine_failed);
        return false;
    }
    if (video_window_) {
        video_window_->show();
        video_window_->MakeReady();
    }
    mpv_set_property_string(graph_.mpv, "pause", "yes");
    loading_entry_ = 0;
    load_done_ = false;
    load_failed_ = false;
    command(graph_.mpv, {"loadfile", path.c_str(), "replace"});
    const bool loaded = WaitForLoad();
    const bool timed_out = !load_done_;
    loading_entry_ = -1;
    if (!loaded) {
        Fail(timed_out ? TDSOpenResult::engine_failed : TDSOpenResult::not_playable);
        return false;
    }
    graph_.has_video = string_property(graph_.mpv, "vid") != "no";
    graph_.has_audio = string_property(graph_.mpv, "aid") != "no";
    if (!graph_.has_video && !graph_.has_audio) {
        Fail(TDSOpenResult::not_playable);
        return false;
    }
    double duration = 0;
    if (mpv_get_property(graph_.mpv, "duration", MPV_FORMAT_DOUBLE, &duration) < 0) duration = 0;
    duration_ = to_media_time(duration);
    if (video_window_) {
        video_window_->setVisible(graph_.has_video);
        if (graph_.has_video) SetVideoRect();
    }
    if (flv_check(path) == TFlvState::truncated) open_result_ = TDSOpenResult::truncated;
    if (listener_) listener_->DSPlayerOpened(true);
    return true;
}

void TDSPlayer::Play() {
    if (!graph_.mpv || loaded_entry_ < 0) return;
    SetSpeed(1.0);
    timer_.start();
    mpv_set_property_string(graph_.mpv, "pause", "no");
    state_ = playing;
}

void TDSPlayer::PauseResume() {
    if (!graph_.mpv) return;
    if (state_ == playing) {
        mpv_set_property_string(graph_.mpv, "pause", "yes");
        state_ = paused;
        if (listener_) listener_->DSPlayerPaused();
    } else if (state_ == paused) {
        Play();
    }
}

void TDSPlayer::Stop() {
    if (!graph_.mpv) return;
    mpv_set_property_string(graph_.mpv, "pause", "yes");
    if (loaded_entry_ >= 0) command(graph_.mpv, {"seek", "0", "absolute"});
    end_reached_ = false;
    state_ = stopped;
    timer_.stop();
    position_ = 0;
    if (listener_) listener_->DSPlayerStopped();
}

void TDSPlayer::Seek(std::int64_t position) {
    if (!graph_.mpv || loaded_entry_ < 0) return;
    const std::string seconds = std::to_string(to_seconds(position));
    command(graph_.mpv, {"seek", seconds.c_str(), "absolute"});
}

std::int64_t TDSPlayer::Position() const {
    double seconds = 0;
    if (!graph_.mpv || loaded_entry_ < 0 ||
        mpv_get_property(graph_.mpv, "time-pos", MPV_FORMAT_DOUBLE, &seconds) < 0)
        return position_;
    return to_media_time(seconds);
}

void TDSPlayer::SetVolume(int value) {
    volume_ = value < 0 ? 0 : (value > 10000 ? 10000 : value);
    if (!graph_.mpv) return;
    double volume = mpv_volume_from_value(volume_);
    mpv_set_property(graph_.mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
}

int TDSPlayer::EngineVolume() const {
    double volume = 0;
    if (!graph_.mpv || mpv_get_property(graph_.mpv, "volume", MPV_FORMAT_DOUBLE, &volume) < 0)
        return volume_;
    return value_from_mpv_volume(volume);
}

void TDSPlayer::SetSpeed(double speed) {
    if (speed <= 0) return;
    speed_ = speed;
    if (graph_.mpv) mpv_set_property(graph_.mpv, "speed", MPV_FORMAT_DOUBLE, &speed_);
}

double TDSPlayer::Speed() const {
    double speed = speed_;
    if (graph_.mpv) mpv_get_property(graph_.mpv, "speed", MPV_FORMAT_DOUBLE, &speed);
    return speed;
}

void TDSPlayer::SetVideoRect() {
    if (!video_window_ || !video_window_->parentWidget()) return;
    video_window_->setGeometry(video_window_->parentWidget()->rect());
}

void TDSPlayer::OnTimer() {
    if (state_ == playing) {
        position_ = Position();
        if (listener_) listener_->DSPlayerPosition(position_);
    }
    DrainEvents();
}

QImage TDSPlayer::Snapshot(bool small) {
    if (!graph_.mpv || !graph_.has_video || loaded_entry_ < 0) return {};
    mpv_node args_list[2];
    args_list[0].format = MPV_FORMAT_STRING;
    args_list[0].u.string = const_cast<char*>("screenshot-raw");
    args_list[1].format = MPV_FORMAT_STRING;
    args_list[1].u.string = const_cast<char*>("video");
    mpv_node_list list{2, args_list, nullptr};
    mpv_node args;
    args.format = MPV_FORMAT_NODE_ARRAY;
    args.u.list = &list;
    mpv_node result;
    if (mpv_command_node(graph_.mpv, &args, &result) < 0) return {};
    std::int64_t w = 0, h = 0, stride = 0;
    std::string format;
    const mpv_byte_array* data = nullptr;
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            const std::string key = result.u.list->keys[i];
            const mpv_node& v = result.u.list->values[i];
            if (key == "w" && v.format == MPV_FORMAT_INT64) w = v.u.int64;
            if (key == "h" && v.format == MPV_FORMAT_INT64) h = v.u.int64;
            if (key == "stride" && v.format == MPV_FORMAT_INT64) stride = v.u.int64;
            if (key == "format" && v.format == MPV_FORMAT_STRING) format = v.u.string;
            if (key == "data" && v.format == MPV_FORMAT_BYTE_ARRAY) data = v.u.ba;
        }
    }
    QImage frame;
    // "bgr0": blue, green, red and a filler byte per pixel, which is the
    // memory order of a 32-bit RGB image on a little-endian machine.
    if (data && format == "bgr0" && w > 0 && h > 0 && stride >= w * 4 &&
        data->size >= static_cast<std::size_t>(stride * h)) {
        frame = QImage(static_cast<const uchar*>(data->data), static_cast<int>(w),
                       static_cast<int>(h), static_cast<qsizetype>(stride), QImage::Format_RGB32)
                    .copy();
    }
    mpv_free_node_contents(&result);
    if (small && !frame.isNull())
        frame = frame.scaled(120, 90, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return frame;
}
