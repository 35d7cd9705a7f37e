// acl_timer: a list of context pointers ordered by deadline, earliest first.
//
// Deadlines are whole seconds on the timer clock. The clock is monotonic (it
// does not follow changes of the wall clock), so a deadline only means something
// next to other deadlines and acl_timer_now(). The list reads the clock at the
// start of every operation.
//
// A context is in the list at most once: requesting it again moves it. Items
// with equal deadlines leave in the order they were requested.
//
// Lifecycle: the list never owns the contexts. An item leaves the list through
// acl_timer_popup or acl_timer_cancel, or through acl_timer_free, which hands
// the contexts still listed to `free_fn` (when given).
//
// Threads: none of its own. A list belongs to one thread; the clock seam below
// may be set from any thread but is meant for tests.
#pragma once

#include <ctime>

// Seconds on some fixed, non-decreasing scale.
typedef time_t (*ACL_TIMER_CLOCK_FN)(void);

struct ACL_TIMER;  // opaque: the ordered items and the time now

// An empty list. Ends the process when it cannot be allocated.
ACL_TIMER* acl_timer_new(void);

// Frees the list; `free_fn` (may be null) gets every context still listed.
void acl_timer_free(ACL_TIMER* timer, void (*free_fn)(void* ctx));

// Sets the deadline of `ctx` to now + `delay` seconds (moving it if it is
// already listed) and returns that deadline.
time_t acl_timer_request(ACL_TIMER* timer, void* ctx, time_t delay);

// Removes `ctx`; returns the seconds it had left (0 if already due), or -1 when
// it was not listed.
time_t acl_timer_cancel(ACL_TIMER* timer, void* ctx);

// Removes and returns the first context whose deadline is not later than now,
// or null when none is due.
void* acl_timer_popup(ACL_TIMER* timer);

// Seconds until the first deadline (0 when due), or -1 for an empty list.
time_t acl_timer_left(ACL_TIMER* timer);

// Contexts listed.
int acl_timer_size(ACL_TIMER* timer);

// The timer clock now.
time_t acl_timer_now(void);

// Replaces the timer clock for every list of the process (tests run time
// forward with it); null restores the monotonic clock. Returns the previous
// function (null for the monotonic clock).
ACL_TIMER_CLOCK_FN acl_timer_set_clock(ACL_TIMER_CLOCK_FN clock_fn);
