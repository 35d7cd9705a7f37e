// acl_aqueue: a FIFO of pointers whose pop blocks until an item arrives, the
// queue is told to quit, or an optional time-out passes.
//
// Pop results that carry no item leave a code in the queue, read with
// acl_aqueue_last_error; every pop resets it to ACL_AQUEUE_OK first. Waits are
// measured on the monotonic clock, so a change of the wall clock neither cuts
// nor stretches them.
//
// Lifecycle:
//   - the queue never owns the items: a pushed pointer belongs to whoever pops
//     it. acl_aqueue_free hands the items still queued to `free_fn` (when given)
//     and frees the queue; no thread may use the queue then.
//   - acl_aqueue_quit is final: poppers first get the items still queued, then
//     null with ACL_AQUEUE_ERR_QUIT at once instead of waiting. Pushes are still
//     accepted.
//
// Threads: any number of pushing and popping threads. The last error code is
// one per queue, so it is meaningful only where one thread pops.
#pragma once

#define ACL_AQUEUE_OK 0             // no error
#define ACL_AQUEUE_ERR_LOCK 1       // the queue's mutex could not be taken
#define ACL_AQUEUE_ERR_QUIT 2       // told to quit, and nothing left to pop
#define ACL_AQUEUE_ERR_TIMEOUT 3    // the time-out passed with nothing to pop
#define ACL_AQUEUE_ERR_COND_WAIT 4  // waiting on the condition failed

struct ACL_AQUEUE;  // opaque: FIFO, mutex and condition, last error, quit flag

// An empty queue. Ends the process ("%s: calloc error(%s)") when it cannot be
// allocated.
ACL_AQUEUE* acl_aqueue_new(void);

// Frees the queue; `free_fn` (may be null) gets every item still queued.
void acl_aqueue_free(ACL_AQUEUE* queue, void (*free_fn)(void* item));

// Appends `item` (null is allowed but pops as "nothing"; do not push it) and
// wakes one popper. Returns 0, or -1 after an error line.
int acl_aqueue_push(ACL_AQUEUE* queue, void* item);

// Takes the oldest item, waiting for one. With `tmo_sec` and `tmo_usec` both 0
// or less it waits without limit; otherwise at most tmo_sec seconds plus
// tmo_usec microseconds (negative parts count as 0). Null when nothing came:
// see acl_aqueue_last_error for why.
void* acl_aqueue_pop(ACL_AQUEUE* queue, int tmo_sec, int tmo_usec);

// acl_aqueue_pop without a time-out.
void* acl_aqueue_pop_wait(ACL_AQUEUE* queue);

// Code of the last pop: one of ACL_AQUEUE_OK .. ACL_AQUEUE_ERR_COND_WAIT.
int acl_aqueue_last_error(ACL_AQUEUE* queue);

// Tells the queue to quit and wakes every waiting popper.
void acl_aqueue_quit(ACL_AQUEUE* queue);

// Items queued now.
int acl_aqueue_qlen(ACL_AQUEUE* queue);
