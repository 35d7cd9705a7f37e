// Shared pieces of the uploader tests: a private folder holding a copy of
// tarvologger (so its log lands there), and the stand-in logging server on a
// thread of the test.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logsvr.h"
#include "test_support.h"

namespace logger_test {

using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;

struct RunResult {
    int status = -1;  // exit status; -1 when it did not end in time
    std::string out;  // standard output
    std::string err;  // standard error
    std::string log;  // the program's log file
};

// A copy of tarvologger named `name` in `folder`, run with `args`.
// `env` adds environment variables (the connect time-out seam).
RunResult run_logger(const TempDir& folder, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {},
                     const std::string& name = "tarvologger");

// The stand-in logging server, serving on its own thread until destroyed.
class StandIn {
  public:
    explicit StandIn(const std::string& store_dir);
    ~StandIn();
    int port() const { return svr_.listener.port(); }
    std::string addr() const { return "127.0.0.1:" + std::to_string(port()); }

    // Sends a probe line and returns every report made before it. The server
    // serves in arrival order, so whatever an ended program sent is in there.
    std::vector<std::string> reports_so_far();

  private:
    LOGSVR svr_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace logger_test
