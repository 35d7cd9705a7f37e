// The deadline-ordered timer list.
#include "acl_timer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <list>
#include <new>
#include <unordered_map>

#include "acl_msg.h"

namespace {

struct Item {
    void* ctx;
    time_t when;
};

std::atomic<ACL_TIMER_CLOCK_FN> g_clock{nullptr};

time_t monotonic_seconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

}  // namespace

struct ACL_TIMER {
    std::list<Item> items;                                       // earliest deadline first
    std::unordered_map<void*, std::list<Item>::iterator> where;  // each listed context's item
    time_t present = 0;    // the clock, read at the start of the last operation
    time_t time_left = 0;  // what the last successful cancel found
};

namespace {

void check_timer(ACL_TIMER* timer, const char* myname) {
    if (timer == nullptr) acl_msg_fatal("%s(%d): timer null", myname, __LINE__);
}

void refresh(ACL_TIMER* timer) { timer->present = acl_timer_now(); }

}  // namespace

time_t acl_timer_now(void) {
    ACL_TIMER_CLOCK_FN fn = g_clock.load();
    return fn != nullptr ? fn() : monotonic_seconds();
}

ACL_TIMER_CLOCK_FN acl_timer_set_clock(ACL_TIMER_CLOCK_FN clock_fn) {
    return g_clock.exchange(clock_fn);
}

ACL_TIMER* acl_timer_new(void) {
    ACL_TIMER* timer = new (std::nothrow) ACL_TIMER;
    if (timer == nullptr)
        acl_msg_fatal("%s(%d): calloc error(%s)", "acl_timer_new", __LINE__, std::strerror(ENOMEM));
    refresh(timer);
    return timer;
}

void acl_timer_free(ACL_TIMER* timer, void (*free_fn)(void*)) {
    if (timer == nullptr) return;
    if (free_fn != nullptr)
        for (const Item& item : timer->items) free_fn(item.ctx);
    delete timer;
}

time_t acl_timer_request(ACL_TIMER* timer, void* ctx, time_t delay) {
    check_timer(timer, "acl_timer_request");
    refresh(timer);
    time_t when = timer->present + delay;

    auto found = timer->where.find(ctx);
    if (found != timer->where.end()) {
        timer->items.erase(found->second);
        timer->where.erase(found);
    }

    // New deadlines are mostly the latest, so look for the place from the back:
    // after the last item that is due no later than this one.
    auto pos = timer->items.end();
    while (pos != timer->items.begin()) {
        auto prev = std::prev(pos);
        if (prev->when <= when) break;
        pos = prev;
    }
    try {
        timer->where[ctx] = timer->items.insert(pos, Item{ctx, when});
    } catch (const std::bad_alloc&) {
        acl_msg_fatal("%s(%d): calloc error(%s)", "acl_timer_request", __LINE__,
                      std::strerror(ENOMEM));
    }
    return when;
}

time_t acl_timer_cancel(ACL_TIMER* timer, void* ctx) {
    check_timer(timer, "acl_timer_cancel");
    refresh(timer);
    auto found = timer->where.find(ctx);
    if (found == timer->where.end()) return -1;
    time_t when = found->second->when;
    timer->items.erase(found->second);
    timer->where.erase(found);
    timer->time_left = when > timer->present ? when - timer->present : 0;
    return timer->time_left;
}

void* acl_timer_popup(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_popup");
    refresh(timer);
    if (timer->items.empty() || timer->items.front().when > timer->present) return nullptr;
    void* ctx = timer->items.front().ctx;
    timer->items.pop_front();
    timer->where.erase(ctx);
    return ctx;
}

time_t acl_timer_left(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_left");
    refresh(timer);
    if (timer->items.empty()) return -1;
    time_t when = timer->items.front().when;
    return when > timer->present ? when - timer->present : 0;
}

int acl_timer_size(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_size");
    return static_cast<int>(timer->items.size());
}
