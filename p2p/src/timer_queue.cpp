#include "timer_queue.h"

#include <chrono>

#include "p2p_clock.h"

namespace p2p {

TimerQueue::TimerQueue() : thread_([this] { run(); }) {}

TimerQueue::~TimerQueue() { stop(); }

TimerQueue::Id TimerQueue::post(std::uint64_t delay_ms, std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mu_);
    Id id = next_id_++;
    jobs_.emplace(std::make_pair(p2p_now_ms() + delay_ms, id), std::move(job));
    cv_.notify_one();
    return id;
}

bool TimerQueue::cancel(Id id) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        if (it->first.second == id) {
            jobs_.erase(it);
            return true;
        }
    }
    return false;
}

void TimerQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        jobs_.clear();
        cv_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
}

void TimerQueue::run() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!stopping_) {
        std::uint64_t now = p2p_now_ms();
        if (!jobs_.empty() && jobs_.begin()->first.first <= now) {
            std::function<void()> job = std::move(jobs_.begin()->second);
            jobs_.erase(jobs_.begin());
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        // Wake at the deadline, and at least every poll interval to read a
        // clock that a test may have moved.
        std::uint64_t wait = P2P_CLOCK_POLL_MS;
        if (!jobs_.empty() && jobs_.begin()->first.first - now < wait)
            wait = jobs_.begin()->first.first - now;
        cv_.wait_for(lock, std::chrono::milliseconds(wait));
    }
}

}  // namespace p2p
