// Test harness for the proxy: a real nginx on a free loopback port serving
// generated files, small scripted servers on raw sockets, a curl runner, and
// a tarvoproxy instance started from its own copy with its own ini file.
//
// Everything lives in one temporary folder that is removed at the end; every
// process started here is stopped by the object that started it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"
#include "test_support.h"

namespace proxy_test {

using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;

// nginx serving `root()` on 127.0.0.1:port(), loopback only, with its own pid,
// log and temp paths. Locations:
//   /redirect     302 to /small.html
//   /chunked/...  proxied to `chunk_upstream_port` (when set) without buffering,
//                 so an upstream reply without length reaches clients chunked
class Nginx {
  public:
    explicit Nginx(const std::filesystem::path& dir, int chunk_upstream_port = 0);
    ~Nginx();
    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::filesystem::path root() const { return dir_ / "www"; }
    std::string url(const std::string& path) const;

  private:
    std::filesystem::path dir_;
    int port_ = 0;
    bool ok_ = false;
    platform::ChildProcess child_;
};

// A server on a raw loopback socket: each accepted connection runs `handler`
// on its own thread. Counts the connections it accepted.
class ScriptedServer {
  public:
    using Handler = std::function<void(platform::TcpSocket&)>;
    explicit ScriptedServer(Handler handler);
    ~ScriptedServer();
    int port() const { return listener_.port(); }
    int accepted() const { return accepted_.load(); }
    // Waits up to `timeout_ms` until `n` connections were taken: the proxy may
    // answer its browser before this server's thread has accepted.
    bool wait_accepted(int n, int timeout_ms) const {
        return tarvo_test::wait_until([&] { return accepted_.load() >= n; },
                                      std::chrono::milliseconds(timeout_ms));
    }

  private:
    platform::TcpListener listener_;
    Handler handler_;
    std::atomic<bool> quit_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
    std::mutex mu_;
    std::vector<std::thread> workers_;
};

// Reads one request head (up to the blank line) and, when it carries a
// Content-Length, its body. Returns false on a close or time-out.
bool read_request(platform::TcpSocket& s, std::string& head, std::string& body,
                  int timeout_ms = 10000);

// The value of header `name` in a head, case-insensitive, or "".
std::string header_value(const std::string& head, const std::string& name);

// A tarvoproxy started from a copy of the built program with its own
// tarvoproxy.ini (listening on a free loopback port) and registry file.
class TarvoProxy {
  public:
    explicit TarvoProxy(const std::filesystem::path& dir);
    ~TarvoProxy();
    bool ok() const { return ok_; }
    int port() const { return port_; }
    int pid() const { return child_.pid(); }
    bool running() { return child_.running(); }
    std::string log() const;

  private:
    std::filesystem::path dir_;
    int port_ = 0;
    bool ok_ = false;
    platform::ChildProcess child_;
};

// Waits until something accepts connections on 127.0.0.1:port.
bool wait_listening(int port, int timeout_ms);

struct CurlResult {
    int status = -1;     // curl's exit status
    std::string output;  // what curl wrote to standard output
};

// Runs curl through the proxy on `proxy_port` (no proxy when 0) with the
// extra arguments, and the body written to `body_file` when not empty.
CurlResult curl(int proxy_port, const std::vector<std::string>& args, int timeout_ms = 60000);

// Sends `request` raw to 127.0.0.1:port and reads the answer until the
// connection closes (or nothing came for `idle_ms`). `closed` tells which.
std::string raw_exchange(int port, const std::string& request, bool* closed = nullptr,
                         int idle_ms = 10000);

}  // namespace proxy_test
