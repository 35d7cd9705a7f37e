// tarvospeed: the desktop program.
//
//     tarvospeed            runs the program with its windows (Qt)
//     tarvospeed stop       ends the monitor and the proxy, puts the browser's
//                           proxy setting back, and exits
//     tarvospeed --core     the headless face for tests: acceleration on,
//                           each finished download printed as a line
//                           "READY\t<caption>\t<path>\t<thumbnail>", ended by
//                           WM_USER+1 or WM_USER+5 (platform/message_endpoint.h)
//                           or the proxy's "CXT"

#include <cstdio>
#include <cstring>

#include "gui_main.h"
#include "platform/self.h"
#include "speed/speed_core.h"

int main(int argc, char** argv) {
    tarvospeed::TSpeedCore core(platform::program_folder());
    int created = core.Create();
    if (created != 0) return created > 0 ? 0 : 1;  // another instance: end silently
    if (argc > 1 && std::strcmp(argv[1], "stop") == 0) {
        core.Proxy.ServiceStop();
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "--core") != 0)
        return tarvospeed::run_gui(core, argc, argv);
    core.OnVideoReady = [](const std::string&, const std::string&, tarvospeed::TVideoItem& v) {
        std::printf("READY\t%s\t%s\t%s\n", v.Title.c_str(), v.Path.c_str(), v.GrabPath.c_str());
        std::fflush(stdout);
    };
    core.OnNotice = [](const std::string& text) {
        std::printf("NOTICE\t%s\n", text.c_str());
        std::fflush(stdout);
    };
    core.Log.Add("program starting:", "before start service.");
    core.StartAcceleration();
    core.Log.Add("program starting:", "after start service.");
    std::printf("STARTED\n");
    std::fflush(stdout);
    core.Log.Add("program starting:", "before application.run.");
    while (core.ProcessMessages(1000)) {
    }
    core.Log.Add("program starting:", "after application.run.");
    core.Finish();
    std::printf("STOPPED\n");
    std::fflush(stdout);
    return 0;
}
