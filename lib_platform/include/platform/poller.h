// Readiness of many descriptors at once: the wait of the event loop.
//
// Level-triggered: a descriptor stays reported while it is ready and its
// interest is set. An error or hang-up is reported as readable and writable
// (as select does), so that the next read or write meets the error itself and
// data that arrived before a close is still read.
#pragma once

#include <memory>
#include <vector>

namespace platform {

constexpr int POLLER_READ = 1;
constexpr int POLLER_WRITE = 2;

struct PollerReady {
    int fd;
    int what;  // POLLER_READ | POLLER_WRITE
};

class Poller {
  public:
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Whether the poller could be created (errno tells why not).
    bool valid() const;

    // Changes the interest in `fd` from `old_what` to `new_what` (0 = none:
    // the descriptor leaves the set). 0, or -1 with errno.
    int change(int fd, int old_what, int new_what);

    // Waits up to `timeout_ms` (0 = just look, below 0 = no limit) and puts
    // the ready descriptors into `out` (emptied first). Their count, or -1
    // with errno (EINTR when a signal cut the wait short).
    int wait(std::vector<PollerReady>& out, int timeout_ms);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
