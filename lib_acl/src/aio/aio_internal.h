// Shared by the async stream modules: registration with the loop and calling
// callbacks under the stream's reference count.
#pragma once

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "acl_aio.h"

#define ACL_AIO_FLAG_CLOSE 1  // close requested

// Which buffered-stream reader completes the pending read.
enum ACL_AIO_READER {
    ACL_AIO_READ_NONE = 0,
    ACL_AIO_READ_GETS,       // a line with its "\n"
    ACL_AIO_READ_GETS_NONL,  // a line without its line end
    ACL_AIO_READ_READN,      // exactly read_count bytes
    ACL_AIO_READ_ANY,        // whatever is there
};

// The thread and wait settings go to the dispatch layer, which keeps them.
struct ACL_AIO {
    ACL_IOCTL* ioc = nullptr;                    // the dispatch layer it drives
    std::atomic<std::thread::id> loop_thread{};  // the thread that last ran a pass
    int callback_depth = 0;                      // loop pass and callbacks now running
    int pass_depth = 0;                          // 1 while a loop pass runs
    std::vector<ACL_ASTREAM*> deferred_closes;   // freed when the running callback returns
};

struct ACL_ASTREAM {
    ACL_AIO* aio = nullptr;
    ACL_VSTREAM* stream = nullptr;        // null once detached
    std::string line;                     // data collected for the pending read
    std::deque<std::string> write_queue;  // output waiting to be sent
    std::size_t write_left = 0;           // bytes queued and not yet sent
    std::size_t write_offset = 0;         // bytes of the queue head already sent
    int write_nested = 0;
    int read_nested = 0;
    int timeout = 0;  // seconds for every registration; 0 = none

    ACL_AIO_READ_FN read_fn = nullptr;
    ACL_AIO_WRITE_FN write_fn = nullptr;
    ACL_AIO_ACCEPT_FN accept_fn = nullptr;
    ACL_AIO_LISTEN_FN listen_fn = nullptr;
    ACL_AIO_CONNECT_FN connect_fn = nullptr;
    ACL_AIO_TIMEO_FN timeo_fn = nullptr;
    ACL_AIO_CLOSE_FN close_fn = nullptr;
    void* context = nullptr;

    ACL_AIO_READ_REQ* read_req = nullptr;       // the pending read's own record, if any
    ACL_AIO_READER reader = ACL_AIO_READ_NONE;  // completes the pending read
    std::size_t read_count = 0;                 // for ACL_AIO_READ_READN
    int nrefer = 0;                             // callbacks of this stream now running
    unsigned flag = 0;                          // ACL_AIO_FLAG_*
    bool close_deferred = false;                // listed in aio->deferred_closes
};

namespace aio_internal {

inline bool close_requested(const ACL_ASTREAM* a) { return (a->flag & ACL_AIO_FLAG_CLOSE) != 0; }

// Runs `call` as one of the stream's callbacks: while it runs the astream
// cannot be freed.
template <typename Call>
int under_ref(ACL_ASTREAM* a, Call call) {
    a->nrefer++;
    int ret = call();
    a->nrefer--;
    return ret;
}

// Closes when the callback failed or a close was asked meanwhile. True when
// the stream was handed to acl_aio_iocp_close (it may be gone).
inline bool close_if(ACL_ASTREAM* a, int ret) {
    if (ret < 0 || close_requested(a)) {
        acl_aio_iocp_close(a);
        return true;
    }
    return false;
}

// A timeout while waiting: timeo_fn decides. Unless it asked for a close,
// `rearm` waits for the same event again.
inline void timed_out(ACL_ASTREAM* a, void (*rearm)(ACL_ASTREAM*)) {
    int ret = under_ref(a, [a] { return a->timeo_fn(a, a->context); });
    if (!close_if(a, ret)) rearm(a);
}

// The exception and timeout events of a waiting stream: an exception closes
// it, a timeout goes through timed_out. True when `type` was one of them (the
// event is dealt with and the stream may be gone).
inline bool failed_or_timed_out(int type, ACL_ASTREAM* a, void (*rearm)(ACL_ASTREAM*)) {
    if (type & ACL_EVENT_XCPT) {
        acl_aio_iocp_close(a);
        return true;
    }
    if (type & ACL_EVENT_RW_TIMEOUT) {
        timed_out(a, rearm);
        return true;
    }
    return false;
}

// A close that would free a stream while a callback of its aio runs waits
// for the end of that callback (the outermost one, when they nest): the
// caller's records stay valid until it returns. The loop holds one scope for
// its whole pass (timers included); every event handler holds another, and the
// closes it deferred run when it returns to the pass.
void run_deferred_closes(ACL_AIO* aio);

class CallbackScope {
  public:
    explicit CallbackScope(ACL_AIO* aio) : aio_(aio) { aio_->callback_depth++; }
    ~CallbackScope() {
        if (--aio_->callback_depth <= aio_->pass_depth) run_deferred_closes(aio_);
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

  private:
    ACL_AIO* aio_;
};

void enable_read(ACL_ASTREAM* a);
void enable_write(ACL_ASTREAM* a);
// Drops the loop timers that name this stream (before it is freed).
void forget_timers(ACL_ASTREAM* a);

}  // namespace aio_internal
