// Pausing and resuming the pending read of an astream.
#include "acl_aio_flow.h"

#include "aio_internal.h"

void acl_aio_disable_read(ACL_ASTREAM* a) {
    if (a == nullptr || a->stream == nullptr) return;
    if (acl_ioctl_isrset(a->aio->ioc, a->stream)) acl_ioctl_disable_read(a->aio->ioc, a->stream);
}

void acl_aio_enable_read(ACL_ASTREAM* a) {
    if (a == nullptr || a->stream == nullptr || a->reader == ACL_AIO_READ_NONE) return;
    if (aio_internal::close_requested(a) || acl_ioctl_isrset(a->aio->ioc, a->stream)) return;
    aio_internal::enable_read(a);
}
