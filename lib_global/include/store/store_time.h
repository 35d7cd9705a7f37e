// store_time: the store's clock, in whole seconds of the wall clock (`time`).
//
// Every time the store reads (queue rest, entry start, trailer cadence, worker
// stops, speeds, timers' trigger stamps) comes from store_time_now, so a test
// can run the store's time forward without sleeping. The seam is process-wide;
// production never sets it.
#pragma once

#include <ctime>

#define STORE_DEBUG_SECTION 60       // debug lines of the store core (levels 1 to 3)
#define STORE_HTTP_DEBUG_SECTION 61  // debug lines of the HTTP store (levels 1 to 3)

typedef time_t (*STORE_CLOCK_FN)(void);

// Seconds now: the seam's answer when set, else time(NULL).
time_t store_time_now(void);

// Replaces the store's clock (null restores the wall clock); returns the
// previous seam. Test seam: set it before the threads that read it start.
STORE_CLOCK_FN store_time_set_clock(STORE_CLOCK_FN clock_fn);
