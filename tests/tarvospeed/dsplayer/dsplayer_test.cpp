// TDSPlayer on its own, over the three kinds of file the cache holds: opening,
// duration, playing, pausing, seeking, volume, speed and the frame grab.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "DSPlayClass.h"
#include "player_env.h"
#include "uFraVideoWindow.h"

using namespace player_test;

namespace {

constexpr double kSeconds = 4.0;

struct Events : TDSPlayerListener {
    std::vector<std::string> seen;
    std::int64_t last_position = -1;
    void DSPlayerOpened(bool ok) override { seen.push_back(ok ? "opened" : "failed"); }
    void DSPlayerPosition(std::int64_t p) override { last_position = p; }
    void DSPlayerPaused() override { seen.push_back("paused"); }
    void DSPlayerStopped() override { seen.push_back("stopped"); }
};

double seconds(std::int64_t media_time) {
    return static_cast<double>(media_time) / kMediaTimeUnitsPerSecond;
}

class DSPlayerTest : public ::testing::TestWithParam<Video> {
  protected:
    void SetUp() override {
        GUI_OR_SKIP();
        path_ = dir_.file(std::string("bars_") + video_name(GetParam()) +
                          (GetParam() == Video::mp4 ? ".mp4" : ".flv"));
        ASSERT_TRUE(make_video(GetParam(), path_, kSeconds));
        window_ = std::make_unique<TfraVideoWindow>();
        window_->resize(320, 240);
        window_->show();
        ASSERT_TRUE(pump_until([&] { return window_->isVisible(); }));
        player_ =
            std::make_unique<TDSPlayer>(window_->Surface(), &events_, TDSPlayerConfig{"null"});
    }
    void TearDown() override {
        player_.reset();
        window_.reset();
    }

    tarvo_test::TempDir dir_;
    std::string path_;
    Events events_;
    std::unique_ptr<TfraVideoWindow> window_;
    std::unique_ptr<TDSPlayer> player_;
};

TEST_P(DSPlayerTest, OpensPlaysPausesSeeksAndChangesVolumeAndSpeed) {
    ASSERT_TRUE(player_->Open(path_));
    EXPECT_EQ(events_.seen, std::vector<std::string>{"opened"});
    EXPECT_EQ(player_->LastOpenResult(), TDSOpenResult::ok);
    EXPECT_TRUE(player_->HasVideo());
    EXPECT_NEAR(seconds(player_->Duration()), kSeconds, 0.1);
    EXPECT_EQ(player_->State(), TDSPlayer::stopped);

    player_->Play();
    EXPECT_EQ(player_->State(), TDSPlayer::playing);
    // Position reports come from the 100 ms timer while it plays.
    ASSERT_TRUE(pump_until([&] { return seconds(events_.last_position) > 1.0; }))
        << "position stayed at " << seconds(player_->Position());

    player_->PauseResume();
    EXPECT_EQ(player_->State(), TDSPlayer::paused);
    EXPECT_EQ(events_.seen.back(), "paused");
    // The position settles once the pause has reached the engine.
    std::int64_t held = -1;
    ASSERT_TRUE(pump_until([&] {
        const std::int64_t now = player_->Position();
        const bool same = now == held;
        held = now;
        pump_for(300);
        return same;
    }));
    pump_for(500);
    EXPECT_EQ(player_->Position(), held) << "position moved while paused";

    player_->Seek(static_cast<std::int64_t>(kSeconds / 2 * kMediaTimeUnitsPerSecond));
    EXPECT_TRUE(pump_until([&] { return std::abs(seconds(player_->Position()) - 2.0) < 0.5; }))
        << "position after the seek: " << seconds(player_->Position());

    player_->SetVolume(7500);
    EXPECT_EQ(player_->Volume(), 7500);
    EXPECT_NEAR(player_->EngineVolume(), 7500, 5);
    player_->SetVolume(10000);
    EXPECT_NEAR(player_->EngineVolume(), 10000, 5);

    player_->PauseResume();  // resumes
    EXPECT_EQ(player_->State(), TDSPlayer::playing);
    player_->SetSpeed(2.0);
    EXPECT_DOUBLE_EQ(player_->Speed(), 2.0);
    const std::int64_t before = player_->Position();
    EXPECT_TRUE(pump_until([&] { return player_->Position() > before; }));
    // The file plays to its end: the end is a stop, back at the start.
    EXPECT_TRUE(pump_until([&] { return player_->State() == TDSPlayer::stopped; }));
    EXPECT_EQ(events_.seen.back(), "stopped");
    EXPECT_TRUE(pump_until([&] { return seconds(player_->Position()) < 0.5; }));
    // Play sets the speed back to normal.
    player_->Play();
    EXPECT_DOUBLE_EQ(player_->Speed(), 1.0);
}

TEST_P(DSPlayerTest, GrabbedFrameShowsTheColourBars) {
    ASSERT_TRUE(player_->Open(path_));
    player_->Seek(kMediaTimeUnitsPerSecond);
    QImage frame;
    // The frame is there once the video output has received its first picture.
    ASSERT_TRUE(pump_until([&] {
        frame = player_->Snapshot(false);
        return !frame.isNull();
    }));
    ASSERT_EQ(frame.width(), 320);
    ASSERT_EQ(frame.height(), 240);
    // The seven bars of the upper part, 75 % white, yellow, cyan, green,
    // magenta, red and blue, sampled in the middle of each.
    const int colours[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                               {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
    for (int bar = 0; bar < 7; ++bar) {
        const int x = (2 * bar + 1) * 320 / 14;
        EXPECT_TRUE(colour_near(frame, x, 60, colours[bar][0], colours[bar][1], colours[bar][2]))
            << "bar " << bar << " at x " << x << " is "
            << frame.pixelColor(x, 60).name().toStdString();
    }
    const QImage small = player_->Snapshot(true);
    EXPECT_EQ(small.size(), QSize(120, 90));
    EXPECT_TRUE(colour_near(small, (2 * 4 + 1) * 120 / 14, 20, 191, 0, 191));
}

INSTANTIATE_TEST_SUITE_P(Formats, DSPlayerTest,
                         ::testing::Values(Video::flv1_mp3, Video::h264_aac, Video::mp4),
                         [](const auto& info) { return std::string(video_name(info.param)); });

TEST(DSPlayerFailure, MissingAndUnplayableFilesFailWithTheirReason) {
    GUI_OR_SKIP();
    tarvo_test::TempDir dir;
    tarvo_test::write_file(dir.file("notes.flv"), "these are not video frames\n");
    const struct {
        std::string path;
        TDSOpenResult result;
    } cases[] = {{dir.file("gone.flv"), TDSOpenResult::missing},
                 {dir.file("notes.flv"), TDSOpenResult::not_playable}};
    Events events;
    // Without a video window: nothing to draw into, the engine still decides.
    TDSPlayer player(nullptr, &events, TDSPlayerConfig{"null"});
    for (const auto& c : cases) {
        events.seen.clear();
        EXPECT_FALSE(player.Open(c.path)) << c.path;
        EXPECT_EQ(player.LastOpenResult(), c.result) << c.path;
        EXPECT_EQ(events.seen, std::vector<std::string>{"failed"});
        EXPECT_EQ(player.State(), TDSPlayer::stopped);
        player.Play();  // nothing loaded: stays stopped
        EXPECT_EQ(player.State(), TDSPlayer::stopped);
    }
}

}  // namespace
