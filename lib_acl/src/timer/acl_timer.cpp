// The deadline-ordered timer list.
#include "acl_timer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "acl_msg.h"
#include "timer_index.h"

namespace {

std::atomic<ACL_TIMER_CLOCK_FN> g_clock{nullptr};

time_t monotonic_seconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

}  // namespace

struct ACL_TIMER {
    acl_timer_internal::TimerIndex<void*> items;  // by deadline, and by context
    time_t present = 0;  // the clock, read at the start of the last operation
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
    if (free_fn != nullptr) timer->items.for_each(free_fn);
    delete timer;
}

time_t acl_timer_request(ACL_TIMER* timer, void* ctx, time_t delay) {
    check_timer(timer, "acl_timer_request");
    refresh(timer);
    time_t when = timer->present + delay;
    try {
        timer->items.set(ctx, when);
    } catch (const std::bad_alloc&) {
        acl_msg_fatal("%s(%d): calloc error(%s)", "acl_timer_request", __LINE__,
                      std::strerror(ENOMEM));
    }
    return when;
}

time_t acl_timer_cancel(ACL_TIMER* timer, void* ctx) {
    check_timer(timer, "acl_timer_cancel");
    refresh(timer);
    std::int64_t when = 0;
    if (!timer->items.cancel(ctx, &when)) return -1;
    return when > timer->present ? static_cast<time_t>(when) - timer->present : 0;
}

void* acl_timer_popup(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_popup");
    refresh(timer);
    void* ctx = nullptr;
    // Every item counts, however recently requested.
    if (!timer->items.pop_due(timer->present, timer->items.last_seq(), &ctx)) return nullptr;
    return ctx;
}

time_t acl_timer_left(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_left");
    refresh(timer);
    if (timer->items.empty()) return -1;
    time_t when = static_cast<time_t>(timer->items.first_deadline());
    return when > timer->present ? when - timer->present : 0;
}

int acl_timer_size(ACL_TIMER* timer) {
    check_timer(timer, "acl_timer_size");
    return static_cast<int>(timer->items.size());
}
