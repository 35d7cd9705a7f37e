// Shared by the async stream modules: registration with the loop and calling
// callbacks under the stream's reference count.
#pragma once

#include "acl_aio.h"

namespace aio_internal {

inline bool close_requested(const ACL_ASTREAM* a)
{
    return (a->flag & ACL_AIO_FLAG_CLOSE) != 0;
}

// Runs `call` as one of the stream's callbacks: while it runs the astream
// cannot be freed.
template <typename Call>
int under_ref(ACL_ASTREAM* a, Call call)
{
    a->nrefer++;
    int ret = call();
    a->nrefer--;
    return ret;
}

// Closes when the callback failed or a close was asked meanwhile. True when
// the stream was handed to acl_aio_iocp_close (it may be gone).
inline bool close_if(ACL_ASTREAM* a, int ret)
{
    if (ret < 0 || close_requested(a)) {
        acl_aio_iocp_close(a);
        return true;
    }
    return false;
}

void enable_read(ACL_ASTREAM* a);
void enable_write(ACL_ASTREAM* a);
// Drops the loop timers that name this stream (before it is freed).
void forget_timers(ACL_ASTREAM* a);

}  // namespace aio_internal
