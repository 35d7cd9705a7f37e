// TDSPlayer: one media file played by an mpv core (libmpv), the twin of a
// media-framework filter graph with its sample grabber.
//
// Embedding: the picture is drawn through mpv's render API into a
// QOpenGLWidget (TVideoSurface, uFraVideoWindow.h), not by handing mpv a
// native window id. The render API keeps the picture inside Qt's own widget
// tree, so it is grabbed with the window, clipped, stacked and sized like any
// other widget, works the same under a compositor and Xvfb, and leaves no
// foreign X11 window to outlive or fight the widget. Qt's OpenGL widgets
// module (Qt6OpenGLWidgets) ships with Debian 12's qt6-base-dev (its CMake
// files with libqt6opengl6-dev). The price: Qt composes the widget's
// framebuffer into the window, one more pass per frame, which on software
// OpenGL shows as more CPU than mpv drawing its own window (bench/player).
//
// Threads: everything runs on the GUI thread. mpv wakes the player from its
// own threads only through a queued call, and the GUI thread is also the
// render thread; the player never waits on the render thread, except that a
// frame grab may wait for mpv's own bounded render time-out.
//
// Lifecycle: construct with the video surface that shows the picture (null:
// no picture at all, as for a sound-only or a measuring use); the surface
// must outlive the player, or be destroyed only after the player. `Open`
// replaces the file; destroying the player frees the render context and the
// mpv core. Times are media time: 64-bit units of 100 ns.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <string>

struct mpv_handle;
struct mpv_event;
class TVideoSurface;

// Units of media time per second.
constexpr std::int64_t kMediaTimeUnitsPerSecond = 10000000;

// Why the last `Open` failed, or what it found wrong with a file it opened.
enum class TDSOpenResult {
    ok,
    missing,       // no such file
    not_playable,  // the engine found no audio or video it can play
    truncated,     // an ".flv" that ends inside a tag: plays up to its end
    engine_failed  // mpv could not be started, or did not answer in time
};

// The player's listener, called on the GUI thread in this slot order.
class TDSPlayerListener {
  public:
    virtual ~TDSPlayerListener() = default;
    virtual void DSPlayerOpened(bool ok) = 0;
    virtual void DSPlayerPosition(std::int64_t position) = 0;
    virtual void DSPlayerPaused() = 0;
    // Kept for the slot order of the listener; the player never calls it.
    virtual void DSPlayerReserved() {}
    virtual void DSPlayerStopped() = 0;
};

// How the engine is set up. Production code keeps the defaults; tests and
// benchmarks choose the audio output (a machine without sound hardware).
struct TDSPlayerConfig {
    std::string audio_output;  // mpv "ao"; "" leaves mpv's own choice
};

// The engine objects of one player: the twin of the graph record.
struct TDSMP {
    mpv_handle* mpv = nullptr;
    bool has_video = false;
    bool has_audio = false;
};

class TDSPlayer : public QObject {
    Q_OBJECT
  public:
    enum State { stopped = 0, playing = 1, paused = 2 };

    TDSPlayer(TVideoSurface* video_window, TDSPlayerListener* listener,
              const TDSPlayerConfig& config = {});
    ~TDSPlayer() override;
    TDSPlayer(const TDSPlayer&) = delete;
    TDSPlayer& operator=(const TDSPlayer&) = delete;

    // Loads `path`, paused at its start. False when it is missing or cannot
    // be played (the listener hears the result either way); never waits
    // longer than the open time-out.
    bool Open(const std::string& path);
    void Play();
    void PauseResume();
    void Stop();
    // Unloads the file without a stop report.
    void Release() { Halt(); }
    void Seek(std::int64_t position);
    // 0-10000; the audio gain becomes (value - 10000) hundredths of a dB.
    void SetVolume(int value);
    // Playback speed factor (1.0 normal); `Play` goes back to 1.0.
    void SetSpeed(double speed);
    // Makes the video surface fill its parent's client area again.
    void SetVideoRect();
    // The current frame, 120x90 when `small`; a null image without video.
    QImage Snapshot(bool small);

    int State() const { return state_; }
    std::int64_t Duration() const { return duration_; }
    // The engine's current position (not the last report).
    std::int64_t Position() const;
    int Volume() const { return volume_; }
    // The gain the engine applies, read back as 0-10000 like `SetVolume`.
    int EngineVolume() const;
    double Speed() const;
    const std::string& FileName() const { return path_; }
    bool HasVideo() const { return graph_.has_video; }
    TDSOpenResult LastOpenResult() const { return open_result_; }

    // How long `Open` waits for the engine before it gives up.
    static constexpr int kOpenTimeoutMs = 20000;

  private:
    void CreateEngine();
    void DrainEvents();
    void HandleEvent(const mpv_event& event);
    void OnTimer();
    void Halt();
    bool WaitForLoad();
    void Fail(TDSOpenResult why);

    TDSPlayerListener* listener_;
    TDSPlayerConfig config_;
    QPointer<TVideoSurface> video_window_;
    TDSMP graph_;
    std::string path_;
    int state_ = stopped;
    std::int64_t duration_ = 0;
    std::int64_t position_ = 0;
    double speed_ = 1.0;
    int volume_ = 10000;
    QTimer timer_;
    TDSOpenResult open_result_ = TDSOpenResult::ok;
    // Playlist entry id of the file being loaded and of the loaded one, so that
    // the end of a replaced file is not taken for the end of the new one.
    std::int64_t loading_entry_ = -1;
    std::int64_t loaded_entry_ = -1;
    bool load_done_ = false;
    bool load_failed_ = false;
    bool end_reached_ = false;
};
