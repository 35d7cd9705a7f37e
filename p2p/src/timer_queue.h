// Delayed work of the session, run on a thread of the queue's own.
//
// A job is due `delay_ms` after it was posted, on the P2P clock
// (p2p_clock.h). Jobs run one at a time, earliest first, with no lock of the
// queue held, so a job may post or cancel jobs. Stopping (or destroying) the
// queue waits for a running job and drops the others unrun; it must not be
// called from a job.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace p2p {

class TimerQueue {
  public:
    using Id = std::uint64_t;  // 0 is never a job

    TimerQueue();
    ~TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    Id post(std::uint64_t delay_ms, std::function<void()> job);
    // True when the job was still waiting; a job that already started runs on.
    bool cancel(Id id);
    void stop();

  private:
    void run();

    std::mutex mu_;
    std::condition_variable cv_;
    // Ordered by (due time, id): equal deadlines run in posting order.
    std::map<std::pair<std::uint64_t, Id>, std::function<void()>> jobs_;
    Id next_id_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace p2p
