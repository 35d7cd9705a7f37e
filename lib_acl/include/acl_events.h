// acl_events: the event engine. One engine per loop thread waits on many
// streams and runs timers; it is not thread-safe and takes no lock.
//
// Registration is one-shot: before a read (write) handler is called its
// registration is removed, so a handler that wants more events registers
// again (the async layer does so on every incomplete operation). A
// re-registration made inside the handler costs no system call.
//
// One pass of acl_event_loop:
//   1. the registered streams are looked at (those whose registration changed
//      since the last pass; all of them once the clock has moved on a second):
//      a stream flagged error, end of file or time-out (ACL_VSTREAM_FLAG_BAD)
//      gets ACL_EVENT_XCPT at once; a stream registered for reading that holds
//      unread bytes in its buffer gets ACL_EVENT_READ at once; a stream whose
//      read or write deadline has passed (now later than the deadline, whole
//      seconds) gets ACL_EVENT_RW_TIMEOUT on that side and the deadline is
//      cleared; the others are waited for;
//   2. the wait: zero when events are already pending, else up to the earliest
//      timer, at most the engine's granularity;
//   3. timers whose deadline has come run (after the wait, before any stream);
//   4. the pending events are dispatched: an exception reaches both handlers,
//      a time-out the side(s) whose deadline passed, readiness the read handler
//      and then the write handler. Exceptions beat time-outs beat readiness.
//
// Time: whole seconds of the steady clock (acl_timer_now), so a step of the
// wall clock neither fires nor stalls a deadline. Setting and cancelling a
// timer cost O(log n) in the number of timers.
//
// Lifecycle: a stream may be closed only after acl_event_disable_readwrite;
// after that call none of its handlers can run, not even for events already
// collected in the current pass. A handler may register, unregister and close
// any stream, and free the context of any handler it unregistered.
#pragma once

#include <cstdint>
#include <ctime>

#include "acl_timer.h"
#include "acl_vstream.h"

// Event types handed to handlers (bit values).
#define ACL_EVENT_READ 1         // the stream is readable (or holds buffered data)
#define ACL_EVENT_WRITE 2        // the stream is writable (a connect has finished)
#define ACL_EVENT_XCPT 4         // the stream is flagged error / end of file / time-out
#define ACL_EVENT_TIME 8         // a timer is due
#define ACL_EVENT_RW_TIMEOUT 16  // a read or write deadline passed

#define ACL_EVENT_DELAY_SEC 1  // wait granularity used when none is given

struct ACL_EVENT;

// Handler of a stream event. `context` is the one given at registration.
typedef void (*ACL_EVENT_NOTIFY_RDWR)(int event_type, ACL_EVENT* event, ACL_VSTREAM* stream,
                                      void* context);
// Handler of a timer (event_type is ACL_EVENT_TIME).
typedef void (*ACL_EVENT_NOTIFY_TIME)(int event_type, ACL_EVENT* event, void* context);

// A new engine waiting at most delay_sec seconds plus delay_usec
// microseconds per pass (1 s when both are 0 or less). Fatal when the system
// poller cannot be created.
ACL_EVENT* acl_event_new(int delay_sec, int delay_usec);

// Frees the engine; pending timers are dropped, streams are left alone.
void acl_event_free(ACL_EVENT* event);

// One pass of the loop (see above).
void acl_event_loop(ACL_EVENT* event);

// Registers (or re-registers) the read or write side of `stream` with a
// handler. `timeout` above 0 sets the side's deadline to now + timeout
// seconds; 0 means no deadline. Fatal on a null stream or handler, or on a
// descriptor held by another registered stream.
void acl_event_enable_read(ACL_EVENT* event, ACL_VSTREAM* stream, int timeout,
                           ACL_EVENT_NOTIFY_RDWR callback, void* context);
void acl_event_enable_write(ACL_EVENT* event, ACL_VSTREAM* stream, int timeout,
                            ACL_EVENT_NOTIFY_RDWR callback, void* context);

// Removes one side (its handler will not be called again).
void acl_event_disable_read(ACL_EVENT* event, ACL_VSTREAM* stream);
void acl_event_disable_write(ACL_EVENT* event, ACL_VSTREAM* stream);
// Removes the stream from the engine entirely; it may then be closed.
void acl_event_disable_readwrite(ACL_EVENT* event, ACL_VSTREAM* stream);

// Has the next pass look at the stream's flags and buffer again. Needed when
// a registered stream is flagged or fed by other means than a registration
// (the close of a pending read flags it end of file); otherwise such a change
// is seen within a second.
void acl_event_recheck(ACL_EVENT* event, ACL_VSTREAM* stream);

// Whether the side is registered.
int acl_event_isrset(ACL_EVENT* event, ACL_VSTREAM* stream);
int acl_event_iswset(ACL_EVENT* event, ACL_VSTREAM* stream);

// Runs `callback(ACL_EVENT_TIME, event, context)` once, `delay` seconds from
// now. A timer with the same callback and context is moved to the new
// deadline instead of added twice. Returns the deadline (absolute seconds).
std::int64_t acl_event_request_timer(ACL_EVENT* event, ACL_EVENT_NOTIFY_TIME callback,
                                     void* context, int delay);
// Removes the timer with this callback and context. Seconds it had left, or
// -1 when there was none.
std::int64_t acl_event_cancel_timer(ACL_EVENT* event, ACL_EVENT_NOTIFY_TIME callback,
                                    void* context);

// The engine's current time in seconds, as of the last pass.
std::int64_t acl_event_time(const ACL_EVENT* event);

// Clock seam: the engine reads its time from `clock_fn` from now on (null
// restores acl_timer_now). Tests move such a clock by hand so that deadlines
// and timers come due without real seconds passing; set it on the loop's
// thread before the pass that should see it.
void acl_event_set_clock_seam(ACL_EVENT* event, ACL_TIMER_CLOCK_FN clock_fn);

// Number of streams registered.
int acl_event_nstreams(const ACL_EVENT* event);
