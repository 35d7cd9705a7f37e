#include "player_env.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "platform/child_process.h"
#include "xvfb.h"

namespace fs = std::filesystem;

// mpv and the libraries below it (FFmpeg, Mesa's software OpenGL, the X and
// font libraries) keep allocations for the life of the process, which
// LeakSanitizer reports at exit. A suppression matches any frame of a leak's
// allocation stack, so only libraries that never call back into our code are
// named here: a leak allocated under Qt's event loop or by our own code is
// still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libmpv.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:libLLVM\n"
           "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libX11.so\n";
}

namespace player_test {
namespace {

const char* kFfmpeg = "/usr/bin/ffmpeg";

class GuiEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!tarvo_test::XvfbDisplay::available()) {
            reason = "no Xvfb binary at /usr/bin/Xvfb (package xvfb)";
            return;
        }
        if (!fs::exists(kFfmpeg)) {
            reason = "no ffmpeg at /usr/bin/ffmpeg (package ffmpeg)";
            return;
        }
        if (!xvfb_.start()) {
            reason = "Xvfb did not start on any free display";
            return;
        }
        KeepMesaDriverLoaded();
        args_ = {"player_tests", "-platform", "xcb", "-display", xvfb_.name()};
        for (std::string& a : args_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
        argc_ = static_cast<int>(args_.size());
        app_ = std::make_unique<QApplication>(argc_, argv_.data());
    }

    void TearDown() override { app_.reset(); }

    std::string reason;

  private:
    // Mesa unloads its software driver when the display closes, and a leak
    // report names a library that is gone as "<unknown module>", which no
    // suppression can match. Holding the driver for the life of the process
    // keeps its name in the stacks, so the narrow suppression above applies.
    static void KeepMesaDriverLoaded() {
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    }

    tarvo_test::XvfbDisplay xvfb_;
    std::vector<std::string> args_;
    std::vector<char*> argv_;
    int argc_ = 0;
    std::unique_ptr<QApplication> app_;
};

GuiEnvironment* environment() {
    static GuiEnvironment* env =
        static_cast<GuiEnvironment*>(::testing::AddGlobalTestEnvironment(new GuiEnvironment));
    return env;
}

// Registers the environment before main runs the tests.
[[maybe_unused]] GuiEnvironment* const registered = environment();

}  // namespace

const std::string& gui_unavailable_reason() { return environment()->reason; }

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout.count()) {
        if (done()) return true;
        // Runs the event loop for 10 ms: events, timers and repaints, no spinning.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void pump_for(int ms) {
    QElapsedTimer clock;
    clock.start();
    pump_until([&] { return clock.elapsed() >= ms; }, std::chrono::milliseconds(ms + 1000));
}

const char* video_name(Video v) {
    switch (v) {
        case Video::flv1_mp3:
            return "flv1_mp3";
        case Video::h264_aac:
            return "h264_aac";
        case Video::mp4:
            return "mp4";
    }
    return "?";
}

bool make_video(Video v, const std::string& path, double seconds) {
    std::vector<std::string> argv = {kFfmpeg, "-v",
                                     "error", "-y",
                                     "-f",    "lavfi",
                                     "-i",    "smptebars=size=320x240:rate=25",
                                     "-f",    "lavfi",
                                     "-i",    "sine=frequency=440:sample_rate=44100",
                                     "-t",    std::to_string(seconds)};
    if (v == Video::flv1_mp3) {
        argv.insert(argv.end(), {"-c:v", "flv1", "-q:v", "2", "-c:a", "libmp3lame", "-f", "flv"});
    } else {
        argv.insert(argv.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"});
        argv.insert(argv.end(), {"-f", v == Video::mp4 ? "mp4" : "flv"});
    }
    argv.push_back(path);
    std::string out;
    return platform::run_program(argv, out, 120000) == 0 && fs::exists(path);
}

bool colour_near(const QImage& image, int x, int y, int r, int g, int b, int tolerance) {
    const QColor c = image.pixelColor(x, y);
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

std::string output_folder() {
    const fs::path folder = fs::current_path() / "output";
    fs::create_directories(folder);
    return folder.string();
}

}  // namespace player_test
