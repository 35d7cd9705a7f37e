// What the desktop program's tests share: a private registry file and runtime
// folder, a program folder, and videos made by ffmpeg.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "speed/setting_data.h"
#include "test_support.h"

namespace speed_test {

class SpeedEnv {
  public:
    SpeedEnv() {
        ::setenv("TARVO_REGISTRY", dir.file("registry.reg").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir.str().c_str(), 1);
        ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
        ::setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
    }
    ~SpeedEnv() {
        for (const char* v :
             {"TARVO_REGISTRY", "XDG_RUNTIME_DIR", "GSETTINGS_BACKEND", "XDG_CONFIG_HOME"})
            ::unsetenv(v);
    }
    std::string keyfile() const {
        return tarvo_test::read_file(dir.file("xdg/glib-2.0/settings/keyfile"));
    }
    // The folder "cache/" here, made the cache folder in the registry; "" when
    // the registry cannot be written.
    std::string make_cache() const {
        std::string cache = dir.folder() + "cache/";
        std::filesystem::create_directories(cache);
        platform::RegKey key;
        if (platform::RegKey::create(platform::RegRoot::local_machine,
                                     tarvospeed::SETTINGS_REGISTRY_KEY, key) != 0 ||
            key.set_string("CachePath", cache) != 0)
            return "";
        return cache;
    }
    // A name no other test's process has, short enough to match by name.
    static std::string unique_name(const char* prefix) {
        return prefix + std::to_string(::getpid() % 100000);
    }
    tarvo_test::TempDir dir;
};

// A video of `seconds` of ffmpeg's test pattern (or a plain colour when
// `colour` is given) at `path`; the container follows the extension.
inline bool make_video(const std::string& path, int seconds, const std::string& colour = "") {
    std::string src =
        colour.empty()
            ? "testsrc=size=160x120:rate=10:duration=" + std::to_string(seconds)
            : "color=c=" + colour + ":size=160x120:rate=10:duration=" + std::to_string(seconds);
    std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-v", "error", "-y", "-f",
                                     "lavfi",           "-i", src};
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".flv") == 0) {
        argv.insert(argv.end(), {"-c:v", "flv1"});
    }
    argv.push_back(path);
    std::string out;
    return platform::run_program(argv, out, 120000) == 0;
}

// The proxy's end of "P2P_CLIENT_PIPE", as the proxy opens it (client role).
class ProxyEnd {
  public:
    // 0 once both pipes of the desktop are open, -1 while they do not exist.
    int open() {
        close();
        if (reads_.open(kOut, platform::PipeAccess::read) != 0) return -1;
        if (writes_.open(kIn, platform::PipeAccess::write) != 0) {
            reads_.close();
            return -1;
        }
        return 0;
    }
    void close() {
        reads_.close();
        writes_.close();
    }
    // Sends `len` bytes; 0, or -1.
    int send(const void* data, std::size_t len) {
        return writes_.write(data, len) == static_cast<long>(len) ? 0 : -1;
    }
    // What arrived within `wait_ms`: the bytes (> 0), 0 for none, -1 when the
    // desktop has gone.
    long read(char* buf, std::size_t cap, int wait_ms) {
        int r = reads_.wait_readable(wait_ms);
        if (r <= 0) return r;
        return reads_.read(buf, cap);
    }

  private:
    static constexpr const char* kIn = "\\\\.\\PIPE\\P2P_CLIENT_PIPE_in";
    static constexpr const char* kOut = "\\\\.\\PIPE\\P2P_CLIENT_PIPE_out";
    platform::NamedPipe reads_, writes_;
};

}  // namespace speed_test
