#include "store/store_time.h"

#include <atomic>

namespace {

std::atomic<STORE_CLOCK_FN> g_clock{nullptr};

}  // namespace

time_t store_time_now(void) {
    STORE_CLOCK_FN fn = g_clock.load();
    return fn != nullptr ? fn() : time(nullptr);
}

STORE_CLOCK_FN store_time_set_clock(STORE_CLOCK_FN clock_fn) { return g_clock.exchange(clock_fn); }
