// acl_aio: asynchronous streams ("astream") on an event loop.
//
// An aio handle belongs to the one thread that runs its loop (acl_aio_loop);
// every callback of its astreams runs on that thread, and no function here
// takes a lock. Other threads reach the loop through the message channel
// (acl_msgio.h).
//
// Operations first try to complete at once from the stream's buffer and the
// non-blocking socket, calling the callback before they return; otherwise they
// register with the loop and the callback runs in a later pass. A stream that
// has completed ACL_AIO_NESTED_MAX operations inside one another goes through
// the loop for the next one, so no stream can hog the loop or the stack.
//
// Lifecycle (who frees what, when callbacks stop):
//   - acl_aio_open takes ownership of the buffered stream; the astream frees
//     its line buffer, its queued output and the buffered stream (which runs
//     the stream's close handles) when it is freed. The aio handle owns no
//     astream: free every astream before acl_aio_free.
//   - Every I/O failure, end of file, negative callback result or exception
//     ends in acl_aio_iocp_close; callers learn of it through the close
//     callback. The close callback is the last callback of an astream; after it
//     returns the astream is freed and nothing registered for it can fire. Do
//     not start operations from the close callback.
//   - acl_aio_iocp_close decides:
//       1. a callback of this astream is running: the close is only requested;
//          it happens when that callback has returned; any other callback of
//          the same aio running (a read callback of one stream closing or
//          writing to another, a loop timer): a close that would free the
//          astream at once (cases 2 and 5) waits until that callback, the
//          outermost one, has returned to the loop;
//       2. the buffered stream was detached (acl_aio_ctl with
//          ACL_AIO_CTL_STREAM and null): the close callback runs and the
//          astream is freed; the socket is left open for its new owner;
//       3. a write is pending: the close is requested and happens once the
//          queued output has gone (or failed);
//       4. a read is pending: the close is requested and the stream flagged
//          end of file, so the next pass reports an exception that closes it;
//       5. otherwise the close callback runs and everything is freed at once.
//   - While any callback of its aio runs, an astream is never freed: every
//     astream (and every record its close callback would free) stays valid
//     until the running callback returns, even after acl_aio_writen or a
//     read returned -1 for it. So a relay writing to one side from a callback
//     of the other needs no re-test of either side after the write. The
//     close callback then runs after that callback, before the next event.
//     Outside the loop (a caller that is not inside any callback), an
//     operation that returns -1 may have freed the astream: do not touch it
//     afterwards.
//   - The data handed to a read callback lives in the astream's line buffer:
//     valid until the callback returns or starts another read on the stream.
//   - Bytes written with acl_aio_writen leave in the order written: once
//     output is queued every later write is queued behind it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acl_ioctl.h"
#include "acl_vstream.h"

#define ACL_AIO_NESTED_MAX 10     // operations completed inside one another before the loop is used
#define ACL_AIO_LINE_INIT 4096    // initial capacity of the line buffer
#define ACL_AIO_LINE_MAX 1048576  // longest line a read collects; a longer one closes the stream
#define ACL_AIO_FLUSH_MAX 10      // queued buffers completed per flush
#define ACL_AIO_CONNECT_BUFSIZE 4096  // buffer asked for a connecting stream (raised to 8192)

// Option names of acl_aio_ctl, each followed by its value.
#define ACL_AIO_CTL_END 0         // end of the list
#define ACL_AIO_CTL_CLOSE_FN 1    // ACL_AIO_CLOSE_FN
#define ACL_AIO_CTL_TIMEO_FN 2    // ACL_AIO_TIMEO_FN
#define ACL_AIO_CTL_READ_FN 3     // ACL_AIO_READ_FN
#define ACL_AIO_CTL_WRITE_FN 4    // ACL_AIO_WRITE_FN
#define ACL_AIO_CTL_ACCEPT_FN 5   // ACL_AIO_ACCEPT_FN
#define ACL_AIO_CTL_LISTEN_FN 6   // ACL_AIO_LISTEN_FN
#define ACL_AIO_CTL_CONNECT_FN 7  // ACL_AIO_CONNECT_FN
#define ACL_AIO_CTL_CTX 8         // void*: context handed to every callback
#define ACL_AIO_CTL_TIMEOUT 9     // int: seconds for every registration (0 = none)
#define ACL_AIO_CTL_STREAM 10     // ACL_VSTREAM*: the buffered stream; null detaches it

struct ACL_AIO;
struct ACL_ASTREAM;

// Callbacks. A negative result closes the stream (the close callback's result
// is ignored).
typedef int (*ACL_AIO_READ_FN)(ACL_ASTREAM* astream, void* context, char* data, int dlen);
typedef int (*ACL_AIO_WRITE_FN)(ACL_ASTREAM* astream, void* context);
typedef int (*ACL_AIO_ACCEPT_FN)(ACL_ASTREAM* client, void* context);
typedef int (*ACL_AIO_LISTEN_FN)(ACL_ASTREAM* listener, void* context);
typedef int (*ACL_AIO_CONNECT_FN)(ACL_ASTREAM* astream, void* context);
typedef int (*ACL_AIO_TIMEO_FN)(ACL_ASTREAM* astream, void* context);
typedef int (*ACL_AIO_CLOSE_FN)(ACL_ASTREAM* astream, void* context);

// A read's own record (as each write request of some engines is its own):
// a read started with one delivers to its callbacks and context instead of
// the stream's, so a reader (the HTTP header and body readers) never takes
// over the stream's callbacks or its context slot.
//
// Lifecycle: the record is the caller's; it must stay valid while its read is
// pending. The engine lets go of it before calling its read callback (which
// may start the next read with it, or free it), before a time-out handler
// that ends the read (result below 0), and before its close notice.
struct ACL_AIO_READ_REQ {
    ACL_AIO_READ_FN read_fn = nullptr;    // gets the unit; required
    ACL_AIO_TIMEO_FN timeo_fn = nullptr;  // the read timed out; null: the stream's timeout callback
    ACL_AIO_CLOSE_FN close_fn = nullptr;  // the stream closes with this read pending, before the
                                          // stream's close callback runs; may be null
    void* context = nullptr;              // handed to the three callbacks above
};

// ACL_AIO and ACL_ASTREAM are the engine's own records: other modules hold
// pointers and use the functions below (acl_aio_vstream, acl_aio_isrset,
// acl_aio_write_left, ...); their fields are private to lib_acl/src/aio.

// ---- the aio handle --------------------------------------------------------

// A handle whose loop waits at most delay_sec + delay_usec per pass (1 s when
// both are 0 or less); acl_aio_create uses 1 s. Negative thread counts become
// 0. Failure to set up the loop is fatal.
ACL_AIO* acl_aio_create(int max_threads, int idle_timeout);
ACL_AIO* acl_aio_create_ex(int max_threads, int idle_timeout, int delay_sec, int delay_usec);

// Frees the handle and its loop. Every astream must be gone already.
void acl_aio_free(ACL_AIO* aio);

// One pass of the event loop; nothing for a null handle.
void acl_aio_loop(ACL_AIO* aio);

ACL_EVENT* acl_aio_event(ACL_AIO* aio);

// Whether the calling thread is the one running the aio's loop (known once
// the loop has run a pass). Any thread may ask.
int acl_aio_in_loop_thread(const ACL_AIO* aio);

// One-shot timers on the loop (whole seconds; see acl_events.h).
std::int64_t acl_aio_request_timer(ACL_AIO* aio, ACL_EVENT_NOTIFY_TIME callback, void* context,
                                   int delay);
std::int64_t acl_aio_cancel_timer(ACL_AIO* aio, ACL_EVENT_NOTIFY_TIME callback, void* context);

// ---- astreams --------------------------------------------------------------

// Wraps `stream` (switched to non-blocking mode) with the default callbacks:
// read empties the line buffer and returns 0; write returns 0; accept and
// listen are fatal; connect warns and returns -1; timeout and close return -1.
ACL_ASTREAM* acl_aio_open(ACL_AIO* aio, ACL_VSTREAM* stream);

// Sets options from (name, value) pairs ended by ACL_AIO_CTL_END. A null
// callback restores that callback's default; pass it typed, e.g.
// (ACL_AIO_TIMEO_FN) nullptr. Fatal on a null astream or an unknown name.
void acl_aio_ctl(ACL_ASTREAM* astream, int name, ...);

// The buffered stream, or null for a null or detached astream.
ACL_VSTREAM* acl_aio_vstream(ACL_ASTREAM* astream);

// Reads. Each empties the line buffer and delivers one unit to the read
// callback: now, or from a later pass. When the stream ends or fails first,
// whatever was collected is delivered, then the stream is closed. The result:
// the callback's result when it ran now and the stream lives on, 0 when the
// read is pending, -1 when the stream was closed (see Lifecycle).
int acl_aio_gets(ACL_ASTREAM* astream);              // a line including its "\n"
int acl_aio_gets_nonl(ACL_ASTREAM* astream);         // a line without any trailing "\r" / "\n"
int acl_aio_read(ACL_ASTREAM* astream);              // whatever is there, at least one byte
int acl_aio_readn(ACL_ASTREAM* astream, int count);  // exactly count bytes (count > 0)

// The same reads with their own record (see ACL_AIO_READ_REQ); fatal for a
// null record or one without a read callback.
int acl_aio_gets_req(ACL_ASTREAM* astream, ACL_AIO_READ_REQ* req);
int acl_aio_gets_nonl_req(ACL_ASTREAM* astream, ACL_AIO_READ_REQ* req);
int acl_aio_read_req(ACL_ASTREAM* astream, ACL_AIO_READ_REQ* req);
int acl_aio_readn_req(ACL_ASTREAM* astream, int count, ACL_AIO_READ_REQ* req);

// Whether the stream's close (ACL_AIO_CTL_CLOSE_FN) or timeout
// (ACL_AIO_CTL_TIMEO_FN) callback is one the user set, not the default.
// Fatal for other names.
int acl_aio_has_own_callback(ACL_ASTREAM* astream, int name);

// Runs the stream's timeout callback with the stream's context, for a
// read's own time-out handler that hands the time-out on. Its result.
int acl_aio_call_timeout(ACL_ASTREAM* astream);

// Sends `dlen` bytes: directly when nothing is queued, otherwise behind the
// queue. The write callback runs once all queued output has left. Fatal on a
// null or detached astream, dlen < 1 or null data. 0, or -1 when the stream
// was closed during the call.
int acl_aio_writen(ACL_ASTREAM* astream, const char* data, int dlen);

// Opens a non-blocking connect to "ip:port" and waits (astream timeout
// `timeout`) for it to finish; the connect callback then runs, or the close
// callback when it failed, or the timeout callback when it took too long. Set
// the callbacks right after the call: nothing fires before the next pass.
// Null, after "%s: connect addr(%s) error", when the connect fails at once.
ACL_ASTREAM* acl_aio_connect(ACL_AIO* aio, const char* addr, int timeout);

// On a listening astream: accept every connection, handing each to the
// accept callback as a new astream. A negative result closes the new stream
// and the listener.
void acl_aio_accept(ACL_ASTREAM* listener);

// On a listening astream: call the listen callback when a connection waits,
// without accepting it (the callback accepts). A negative result closes the
// listener.
void acl_aio_listen(ACL_ASTREAM* listener);

// Requests the close (see Lifecycle). 1 when the astream was freed at once
// (only outside callbacks), 0 when the close will happen later.
int acl_aio_iocp_close(ACL_ASTREAM* astream);

// Bytes handed to acl_aio_writen that wait in the queue, not yet sent.
std::size_t acl_aio_write_left(ACL_ASTREAM* astream);

// Bytes a pending read has collected so far and not yet delivered (a line
// still waiting for its end, say).
std::size_t acl_aio_read_collected(ACL_ASTREAM* astream);

// Whether a read / write is registered with the loop for this astream.
int acl_aio_isrset(ACL_ASTREAM* astream);
int acl_aio_iswset(ACL_ASTREAM* astream);
