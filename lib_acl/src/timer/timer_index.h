// timer_index: the one timer mechanism of the runtime, shared by the event
// loop's timers and ACL_TIMER. Deadlines are kept in order beside an index
// by key, so that setting, moving and cancelling a timer cost O(log n) however
// many timers there are (the relay sets and cancels one per connection and
// pass).
//
// A key is listed at most once; setting it again moves it. Timers with equal
// deadlines leave in the order they were set: every set takes the next number
// of a sequence, and the order is (deadline, number).
//
// Not thread-safe: an index belongs to the thread of its owner.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

namespace acl_timer_internal {

template <typename Key, typename Hash = std::hash<Key>>
class TimerIndex {
  public:
    // Sets `key`'s deadline to `when` (moving it when listed).
    void set(const Key& key, std::int64_t when) {
        cancel(key, nullptr);
        Order at{when, ++seq_};
        order_.emplace(at, key);
        where_.emplace(key, at);
    }

    // Removes `key`; its deadline goes to `*when` (when given). False when
    // it was not listed.
    bool cancel(const Key& key, std::int64_t* when) {
        auto found = where_.find(key);
        if (found == where_.end()) return false;
        if (when != nullptr) *when = found->second.first;
        order_.erase(found->second);
        where_.erase(found);
        return true;
    }

    bool empty() const { return order_.empty(); }
    std::size_t size() const { return order_.size(); }

    // The earliest deadline; only for a non-empty index.
    std::int64_t first_deadline() const { return order_.begin()->first.first; }

    // The number the latest set took: timers set after this moment have a
    // higher one.
    std::uint64_t last_seq() const { return seq_; }

    // Removes the first timer into `*key` when its deadline is not later than
    // `now` and it was set no later than number `seq_limit`. False otherwise.
    // A timer set with a later number and an equal deadline sorts behind every
    // earlier one, so the first timer is the only one to look at.
    bool pop_due(std::int64_t now, std::uint64_t seq_limit, Key* key) {
        if (order_.empty()) return false;
        auto first = order_.begin();
        if (first->first.first > now || first->first.second > seq_limit) return false;
        *key = first->second;
        where_.erase(first->second);
        order_.erase(first);
        return true;
    }

    // Calls `fn(key)` for every listed key, earliest first.
    template <typename Fn>
    void for_each(Fn fn) const {
        for (const auto& item : order_) fn(item.second);
    }

  private:
    using Order = std::pair<std::int64_t, std::uint64_t>;  // deadline, sequence number
    std::map<Order, Key> order_;
    std::unordered_map<Key, Order, Hash> where_;
    std::uint64_t seq_ = 0;
};

}  // namespace acl_timer_internal
