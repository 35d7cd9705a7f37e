// The dispatch layer, single-threaded: a thin pass-through to the engine.
#include "acl_ioctl.h"

ACL_IOCTL* acl_ioctl_create_ex(int max_threads, int idle_timeout, int delay_sec, int delay_usec) {
    auto* ioc = new ACL_IOCTL;
    if (max_threads > 0 && idle_timeout < 1)
        acl_msg_error("%s, %s(%d): idle_timeout(%d) invalid", __FILE__, __func__, __LINE__,
                      idle_timeout);
    ioc->delay_sec = delay_sec;
    ioc->delay_usec = delay_usec;
    return ioc;
}

ACL_IOCTL* acl_ioctl_create(int max_threads, int idle_timeout) {
    return acl_ioctl_create_ex(max_threads, idle_timeout, ACL_EVENT_DELAY_SEC, 0);
}

int acl_ioctl_start(ACL_IOCTL* ioc) {
    if (ioc == nullptr) return -1;
    if (ioc->event == nullptr) ioc->event = acl_event_new(ioc->delay_sec, ioc->delay_usec);
    return 0;
}

void acl_ioctl_loop(ACL_IOCTL* ioc) {
    if (ioc != nullptr) acl_event_loop(ioc->event);
}

void acl_ioctl_free(ACL_IOCTL* ioc) {
    if (ioc == nullptr) return;
    if (ioc->event != nullptr) acl_event_free(ioc->event);
    delete ioc;
}

ACL_EVENT* acl_ioctl_event(ACL_IOCTL* ioc) { return ioc->event; }

void acl_ioctl_enable_read(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                           ACL_IOCTL_NOTIFY_FN callback, void* context) {
    acl_event_enable_read(ioc->event, stream, timeout, callback, context);
}

void acl_ioctl_enable_write(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                            ACL_IOCTL_NOTIFY_FN callback, void* context) {
    acl_event_enable_write(ioc->event, stream, timeout, callback, context);
}

void acl_ioctl_enable_connect(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                              ACL_IOCTL_NOTIFY_FN callback, void* context) {
    acl_event_enable_write(ioc->event, stream, timeout, callback, context);
}

void acl_ioctl_enable_listen(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                             ACL_IOCTL_NOTIFY_FN callback, void* context) {
    acl_event_enable_read(ioc->event, stream, timeout, callback, context);
}

void acl_ioctl_disable_read(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    acl_event_disable_read(ioc->event, stream);
}

void acl_ioctl_disable_write(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    acl_event_disable_write(ioc->event, stream);
}

void acl_ioctl_disable_readwrite(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    acl_event_disable_readwrite(ioc->event, stream);
}

void acl_ioctl_recheck(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    acl_event_recheck(ioc->event, stream);
}

int acl_ioctl_isrset(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    return acl_event_isrset(ioc->event, stream);
}

int acl_ioctl_iswset(ACL_IOCTL* ioc, ACL_VSTREAM* stream) {
    return acl_event_iswset(ioc->event, stream);
}

std::int64_t acl_ioctl_request_timer(ACL_IOCTL* ioc, ACL_IOCTL_TIMER_FN callback, void* context,
                                     int delay) {
    return acl_event_request_timer(ioc->event, callback, context, delay);
}

std::int64_t acl_ioctl_cancel_timer(ACL_IOCTL* ioc, ACL_IOCTL_TIMER_FN callback, void* context) {
    return acl_event_cancel_timer(ioc->event, callback, context);
}
