// player_bench: the built-in player beside the mpv program on one 720p H.264
// FLV (40 s, made by ffmpeg), under a private Xvfb, audio to mpv's null output.
//
//   1. open to first frame: the built-in player's own time from Open to the
//      first frame drawn (median of 5), and for both programs the time from
//      process start to exit after one frame (--frames=1, median of 5);
//   2. CPU: percent of one core over 20 s of steady playing (from 3 s to 23 s
//      after the start), read from the process's CPU time.
//
// Each is measured with --vo=null (no picture) and with video output (mpv
// its own window through --vo=gpu, the built-in player its 1280x720 video
// window through the render API; both on Mesa's software OpenGL, which mpv
// only accepts with --gpu-sw). The built-in player runs once more with Qt's
// EGL integration for X11 instead of its default GLX one.
//
// Usage: player_bench        (needs Xvfb, ffmpeg and mpv; see scripts/setup.sh --bench)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/process_cpu.h"
#include "test_support.h"
#include "xvfb.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string display;

std::string qt_gl_integration;

platform::ChildOptions with_display() {
    platform::ChildOptions o;
    o.env = {{"DISPLAY", display}};
    if (!qt_gl_integration.empty()) o.env.push_back({"QT_XCB_GL_INTEGRATION", qt_gl_integration});
    return o;
}

std::vector<std::string> command(bool builtin, bool video, const std::string& file,
                                 const std::string& how) {
    if (builtin) {
        std::vector<std::string> argv = {tarvo_test::program_file("player_probe"), "-display",
                                         display, how};
        if (!video) argv.push_back("--vo=null");
        argv.push_back(file);
        return argv;
    }
    return {"/usr/bin/mpv",
            "--no-config",
            "--no-terminal",
            "--ao=null",
            video ? "--vo=gpu" : "--vo=null",
            "--gpu-sw",
            "--hwdec=no",
            "--osc=no",
            "--ytdl=no",
            "--audio-display=no",
            how,
            file};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct FirstFrame {
    double in_process_ms = -1;  // built-in player only
    double start_to_exit_ms = 0;
};

FirstFrame first_frame(bool builtin, bool video, const std::string& file) {
    std::vector<double> inside, outside;
    for (int i = 0; i < 5; ++i) {
        std::string out;
        const auto t0 = Clock::now();
        const int rc = platform::run_program(command(builtin, video, file, "--frames=1"), out,
                                             120000, with_display());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (rc != 0) std::fprintf(stderr, "run failed (%d): %s\n", rc, out.c_str());
        outside.push_back(ms);
        const auto at = out.find("first_frame_ms=");
        if (at != std::string::npos) inside.push_back(std::stod(out.substr(at + 15)));
    }
    FirstFrame f;
    f.start_to_exit_ms = median(outside);
    if (!inside.empty()) f.in_process_ms = median(inside);
    return f;
}

double cpu_percent(bool builtin, bool video, const std::string& file) {
    platform::ChildProcess child;
    const auto t0 = Clock::now();
    if (child.start(command(builtin, video, file, "--end=30"), with_display()) != 0) return -1;
    std::this_thread::sleep_until(t0 + std::chrono::seconds(3));
    const long a = platform::process_cpu_ms(child.pid());
    const auto ta = Clock::now();
    std::this_thread::sleep_until(t0 + std::chrono::seconds(23));
    const long b = platform::process_cpu_ms(child.pid());
    const auto tb = Clock::now();
    child.stop();
    if (a < 0 || b < 0) return -1;
    return 100.0 * static_cast<double>(b - a) /
           std::chrono::duration<double, std::milli>(tb - ta).count();
}

}  // namespace

int main() {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/ffmpeg", "/usr/bin/mpv"})
        if (!fs::exists(tool)) {
            std::fprintf(stderr, "player_bench: %s is missing (scripts/setup.sh --bench)\n", tool);
            return 1;
        }
    tarvo_test::TempDir dir;
    const std::string file = dir.file("720p.flv");
    std::string out;
    if (platform::run_program({"/usr/bin/ffmpeg",
                               "-v",
                               "error",
                               "-y",
                               "-f",
                               "lavfi",
                               "-i",
                               "testsrc2=size=1280x720:rate=25",
                               "-f",
                               "lavfi",
                               "-i",
                               "sine=frequency=440:sample_rate=44100",
                               "-t",
                               "40",
                               "-c:v",
                               "libx264",
                               "-pix_fmt",
                               "yuv420p",
                               "-b:v",
                               "2M",
                               "-c:a",
                               "aac",
                               "-f",
                               "flv",
                               file},
                              out, 600000) != 0) {
        std::fprintf(stderr, "player_bench: ffmpeg failed: %s\n", out.c_str());
        return 1;
    }
    tarvo_test::XvfbDisplay xvfb;
    if (!xvfb.start("1920x1080x24")) {
        std::fprintf(stderr, "player_bench: Xvfb did not start\n");
        return 1;
    }
    display = xvfb.name();
    std::printf("720p H.264 + AAC FLV, 40 s, on Xvfb %s, audio to the null output\n\n",
                display.c_str());
    std::printf("%-22s %-14s %16s %18s %10s\n", "output", "program", "open->frame ms",
                "start->frame->exit", "CPU %");
    struct Run {
        const char* name;
        bool builtin;
        const char* qt_gl;  // Qt's X11 OpenGL integration, "" for its default (GLX)
    };
    for (bool video : {false, true}) {
        std::vector<Run> runs = {{"built-in", true, ""}};
        if (video) runs.push_back({"built-in, EGL", true, "xcb_egl"});
        runs.push_back({"mpv", false, ""});
        std::vector<double> cpu;
        for (const Run& run : runs) {
            qt_gl_integration = run.qt_gl;
            const FirstFrame f = first_frame(run.builtin, video, file);
            cpu.push_back(cpu_percent(run.builtin, video, file));
            char inside[32] = "-";
            if (f.in_process_ms >= 0) std::snprintf(inside, sizeof inside, "%.0f", f.in_process_ms);
            std::printf("%-22s %-14s %16s %15.0f ms %10.1f\n",
                        video ? "video (render / gpu)" : "--vo=null", run.name, inside,
                        f.start_to_exit_ms, cpu.back());
            std::fflush(stdout);
        }
        for (std::size_t i = 0; i + 1 < runs.size(); ++i)
            if (cpu.back() > 0)
                std::printf("%-22s %s / mpv CPU: %.2f\n", "", runs[i].name, cpu[i] / cpu.back());
        std::printf("\n");
    }
    return 0;
}
