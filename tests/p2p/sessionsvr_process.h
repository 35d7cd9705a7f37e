// A tarvo_sessionsvr process for tests: on a random loopback address
// 127.x.y.z (so its fixed STUN port 8002 never collides with another test's)
// and a random port, its report lines collected in a file of the test's
// folder. The object stops the process when it goes away.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/child_process.h"

namespace p2p_test {

// A random address of 127.0.0.0/8 other than 127.0.0.1 and a random high port.
struct LoopbackEndpoint {
    std::string ip;
    int port = 0;
};
LoopbackEndpoint random_loopback_endpoint();

class SessionServerProcess {
  public:
    // Starts the server at a random endpoint (trying others when one is taken).
    explicit SessionServerProcess(const std::filesystem::path& dir);
    ~SessionServerProcess() { stop(); }

    bool ok() const { return ok_; }
    const std::string& ip() const { return ep_.ip; }
    int port() const { return ep_.port; }

    // Starts it again on the same endpoint (after stop()); false on failure.
    bool start();
    void stop() { child_.stop(); }

    std::string output() const;
    // Number of report lines starting with `word` and holding `part`.
    int count(const std::string& word, const std::string& part = "") const;
    // Waits until count(word, part) >= n.
    bool wait_for(const std::string& word, const std::string& part, int n = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  private:
    std::filesystem::path out_;
    LoopbackEndpoint ep_;
    platform::ChildProcess child_;
    bool ok_ = false;
    int starts_ = 0;
};

}  // namespace p2p_test
