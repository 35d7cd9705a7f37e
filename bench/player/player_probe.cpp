// player_probe: plays one file with the built-in player for the player
// benchmark, the way mpv plays it beside it.
//
//   player_probe -display :N [--vo=null] [--frames=1 | --end=SECONDS] FILE
//
// With video the picture goes into a 1280x720 video window through the
// render API; with --vo=null there is no window at all. Audio goes to mpv's
// null output (the benchmark machine has no sound). Prints
// "first_frame_ms=<ms>" (from Open to the first frame shown, or to the first
// position report without video) and ends after the first frame (--frames=1)
// or when the position reaches --end.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "DSPlayClass.h"
#include "uFraVideoWindow.h"

namespace {

struct Quiet : TDSPlayerListener {
    void DSPlayerOpened(bool) override {}
    void DSPlayerPosition(std::int64_t) override {}
    void DSPlayerPaused() override {}
    void DSPlayerStopped() override { stopped = true; }
    bool stopped = false;
};

}  // namespace

int main(int argc, char** argv) {
    bool video = true;
    bool one_frame = false;
    double end = 0;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--vo=null") == 0)
            video = false;
        else if (std::strcmp(argv[i], "--frames=1") == 0)
            one_frame = true;
        else if (std::strncmp(argv[i], "--end=", 6) == 0)
            end = std::atof(argv[i] + 6);
        else if (std::strcmp(argv[i], "-display") == 0)
            ++i;  // for Qt
        else
            file = argv[i];
    }
    if (file.empty()) {
        std::fprintf(stderr,
                     "usage: player_probe -display :N [--vo=null] [--frames=1|--end=S] FILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    std::unique_ptr<TfraVideoWindow> window;
    if (video) {
        window = std::make_unique<TfraVideoWindow>();
        window->resize(1280, 720);
        window->show();
    }
    Quiet events;
    TDSPlayer player(window ? window->Surface() : nullptr, &events, TDSPlayerConfig{"null"});
    QElapsedTimer clock;
    clock.start();
    if (!player.Open(file)) {
        std::fprintf(stderr, "player_probe: cannot open %s\n", file.c_str());
        return 1;
    }
    player.Play();
    // Checked every 10 ms from the event loop, as a GUI would run it.
    bool first = false;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!first && (window ? window->Surface()->FramesDrawn() > 0 : player.Position() > 0)) {
            first = true;
            std::printf("first_frame_ms=%lld\n", static_cast<long long>(clock.elapsed()));
            std::fflush(stdout);
            if (one_frame) app.quit();
        }
        if (events.stopped || (end > 0 && player.Position() >= static_cast<std::int64_t>(
                                                                   end * kMediaTimeUnitsPerSecond)))
            app.quit();
    });
    check.start();
    app.exec();
    return 0;
}
