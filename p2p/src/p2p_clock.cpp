#include "p2p_clock.h"

#include <atomic>

#include "platform/clock.h"

namespace {

std::atomic<P2P_CLOCK_FN> g_clock{nullptr};

}  // namespace

std::uint64_t p2p_now_ms() {
    P2P_CLOCK_FN fn = g_clock.load();
    return fn != nullptr ? fn() : platform::monotonic_ms();
}

P2P_CLOCK_FN p2p_set_clock(P2P_CLOCK_FN fn) { return g_clock.exchange(fn); }
