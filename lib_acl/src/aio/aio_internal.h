// Shared by the async stream modules: registration with the loop and calling
// callbacks under the stream's reference count.
#pragma once

#include "acl_aio.h"

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
