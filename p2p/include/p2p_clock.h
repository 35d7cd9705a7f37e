// The P2P client's millisecond clock, with a seam for tests.
//
// Every timer of the library (resends, keep-alive, the login deadline, the
// session's delayed messages) reads this clock, so a test that replaces it
// runs minutes of protocol time without sleeping. Threads that wait for a
// deadline wake at least every P2P_CLOCK_POLL_MS of real time to read the
// clock again, which is how they notice a test clock that jumped.
#pragma once

#include <cstdint>

constexpr int P2P_CLOCK_POLL_MS = 100;

typedef std::uint64_t (*P2P_CLOCK_FN)(void);

// Milliseconds on a monotonic scale.
std::uint64_t p2p_now_ms();

// Test seam: replaces the clock for the whole process (null restores the
// monotonic clock) and returns the previous function (null for the monotonic
// clock). Set it before the session starts and keep it non-decreasing.
P2P_CLOCK_FN p2p_set_clock(P2P_CLOCK_FN fn);
