// The desktop program's side of the pipe channel, played by a test: the
// server role, created before or after the proxy's reader starts.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "named_pipe.h"

namespace resource_test {

class DesktopSide {
  public:
    // Creates both pipes of "P2P_CLIENT_PIPE". ok() tells whether it worked.
    DesktopSide();
    bool ok() const { return ok_; }

    // What arrived within `timeout_ms` (one read), or "" on a time-out.
    std::string read(int timeout_ms = 10000);
    // Reads until `n` bytes arrived or `timeout_ms` passed.
    std::string read_bytes(std::size_t n, int timeout_ms = 10000);
    int send(const std::string& bytes);
    void close();

  private:
    NAMED_PIPE pipe_;
    bool ok_ = false;
};

// The proxy's pipe reader on a thread of its own, as the pipe job runs it;
// the object stops it (with the stop message) and joins it.
class ProxyReader {
  public:
    explicit ProxyReader(DesktopSide* desktop);
    ~ProxyReader();
    int result() const { return result_; }
    bool done() const { return done_; }
    void join();

  private:
    DesktopSide* desktop_;
    int result_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Waits until the proxy's reader holds both pipes (messages sent before are
// lost).
bool proxy_pipe_open();

}  // namespace resource_test
