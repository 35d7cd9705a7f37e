// What the player tests share: an X server of their own (Xvfb on a free
// display), one QApplication on it, ffmpeg-made test videos, and a way to let
// the GUI run while waiting for a condition.
//
// The environment starts once per test process; tests call `gui_or_skip` and
// skip with the reason when there is no Xvfb or no ffmpeg on this machine.
#pragma once

#include <QImage>
#include <chrono>
#include <functional>
#include <string>

#include "test_support.h"

namespace player_test {

// Empty when the GUI runs; otherwise why the tests cannot.
const std::string& gui_unavailable_reason();

// Keeps the GUI thread working (events, timers, repaints) until `done` is
// true or `timeout` passes; the last answer of `done` counts.
bool pump_until(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Lets the GUI run for about `ms` milliseconds.
void pump_for(int ms);

// Kinds of test video, each `seconds` long with a 440 Hz tone.
enum class Video {
    flv1_mp3,  // Sorenson Spark + MP3 in FLV
    h264_aac,  // H.264 + AAC in FLV
    mp4        // H.264 + AAC in MP4
};
const char* video_name(Video v);

// Makes a 320x240 SMPTE colour-bars video at `path` with ffmpeg. True on success.
bool make_video(Video v, const std::string& path, double seconds);

// The colour of pixel (x, y) is within `tolerance` of (r, g, b) per channel.
bool colour_near(const QImage& image, int x, int y, int r, int g, int b, int tolerance = 40);

// Where tests leave files for people to look at (made when missing).
std::string output_folder();

}  // namespace player_test

#define GUI_OR_SKIP()                                              \
    do {                                                           \
        if (!player_test::gui_unavailable_reason().empty())        \
            GTEST_SKIP() << player_test::gui_unavailable_reason(); \
    } while (0)
