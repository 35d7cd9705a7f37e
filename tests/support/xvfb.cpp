#include "xvfb.h"

#include <filesystem>
#include <random>

#include "platform/self.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace tarvo_test {

namespace {
const char* kXvfb = "/usr/bin/Xvfb";
}

bool XvfbDisplay::available() { return fs::exists(kXvfb); }

bool XvfbDisplay::start(const std::string& screen) {
    std::mt19937 random(static_cast<unsigned>(platform::process_id()) ^ std::random_device{}());
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string n = std::to_string(200 + random() % 20000);
        const std::string socket = "/tmp/.X11-unix/X" + n;
        // A display another server holds (or held and left its lock) is skipped;
        // one taken between this check and the start makes Xvfb end at once.
        if (fs::exists(socket) || fs::exists("/tmp/.X" + n + "-lock")) continue;
        std::string name = ":";
        name += n;
        if (xvfb_.start({kXvfb, name, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}) != 0)
            return false;
        if (wait_until([&] { return fs::exists(socket) || !xvfb_.running(); },
                       std::chrono::seconds(30)) &&
            xvfb_.running()) {
            name_ = name;
            return true;
        }
        xvfb_.stop();
    }
    return false;
}

}  // namespace tarvo_test
