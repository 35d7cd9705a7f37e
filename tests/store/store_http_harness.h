// Harness of the HTTP store tests: nginx in a temporary folder with the
// locations the store meets in the wild, its access log parsed, a controller
// on its own work queue, and browsers played on that queue as the
// acceleration job would (connect upstream, prefetch, become a store client)
// with the test holding the browser's end of the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"
#include "store_http/http_ctrl.h"
#include "test_support.h"

struct ACL_WORKQ;
struct ACL_WORKER_ATTR;

namespace store_http_test {

// nginx on a free loopback port serving root() under:
//   /files/...    plain files with ranges
//   /slow/...     the same files at `rate` per connection (limit_rate)
//   /norange/...  the same files, ranges ignored (max_ranges 0: 200 to a ranged request)
//   /forbid/...   the same files, 403 to any ranged request
//   /loop/N       302 to /loop/N+1, and /loop/10 back to /loop/1
class StoreNginx {
  public:
    StoreNginx(const std::filesystem::path& dir, const std::string& rate);
    ~StoreNginx();
    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::filesystem::path root() const { return dir_ / "www"; }

    struct Hit {
        std::string connection;
        int status = 0;
        std::string range;  // "-" when none
        int64_t bytes = 0;
        std::string uri;
    };
    std::vector<Hit> hits() const;

  private:
    std::filesystem::path dir_;
    int port_ = 0;
    bool ok_ = false;
    platform::ChildProcess child_;
};

// A controller (with its loop running) on a work queue of `threads`.
struct Store {
    explicit Store(const std::string& cache_dir, int threads = 100);
    ~Store();
    ACL_WORKQ* wq = nullptr;
    HTTP_CTRL* ctrl = nullptr;
    STORE_CTRL* base() { return &ctrl->ctrl; }
};

struct BrowserOptions {
    int port = 0;               // origin port
    std::string path;           // what the upstream connection asks for
    std::string template_path;  // what later workers ask for ("" = path)
    std::string host;           // Host of the template ("" = 127.0.0.1:port)
    std::string id;             // resource id
    int max_thread = 5;
    int can_save = 1;
    int part_save = 1;
    int64_t close_after = -1;  // the browser hangs up after this many body bytes
};

// One diverted exchange. start() queues the job on the store's work queue;
// the browser's bytes are collected on a thread of the test.
class Browser {
  public:
    Browser(Store& store, BrowserOptions opts);
    ~Browser();
    void start();
    bool wait_done(int seconds);
    std::string body();  // what the browser received
    int result() const { return result_.load(); }

  private:
    static void job(int, ACL_WORKER_ATTR* attr);
    void run();
    Store& store_;
    BrowserOptions opts_;
    platform::TcpListener listener_;
    std::thread reader_;
    std::mutex mu_;
    std::string received_;
    std::atomic<bool> done_{false};
    std::atomic<int> result_{-2};
};

// The final cache path of `id` in `dir`.
std::string cache_path(const std::string& dir, const std::string& id);

// Open descriptors of this process.
int open_fds();

}  // namespace store_http_test
