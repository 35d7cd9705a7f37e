// Connecting, accepting and listening async streams.
#include <cerrno>
#include <cstring>

#include "aio_internal.h"
#include "platform/socket.h"

using namespace aio_internal;

namespace {

void connect_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx);

void enable_connect(ACL_ASTREAM* a) {
    acl_ioctl_enable_connect(a->aio->ioc, a->stream, a->timeout, connect_notify, a);
}

void connect_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    auto* a = static_cast<ACL_ASTREAM*>(ctx);
    CallbackScope scope(a->aio);
    if (failed_or_timed_out(type, a, enable_connect)) return;
    // A refused or unreachable peer also makes the socket writable: only a
    // connect without a pending error reaches the connect callback.
    int err = platform::sock_pending_error(a->stream->fd);
    if (err != 0) {
        acl_vstream_set_error(a->stream, err > 0 ? err : errno);
        acl_aio_iocp_close(a);
        return;
    }
    platform::sock_local_addr(a->stream->fd, a->stream->addr_local);
    close_if(a, under_ref(a, [a] { return a->connect_fn(a, a->context); }));
}

void accept_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx);

void enable_accept(ACL_ASTREAM* listener) {
    acl_ioctl_enable_listen(listener->aio->ioc, listener->stream, listener->timeout, accept_notify,
                            listener);
}

// Out of descriptors or memory: the listener would stay readable and spin the
// loop, and closing it would stop the service for good. Pause it a second.
void resume_accept(int, ACL_EVENT*, void* ctx) {
    auto* listener = static_cast<ACL_ASTREAM*>(ctx);
    if (listener->stream != nullptr && !close_requested(listener)) enable_accept(listener);
}

bool transient_accept_error(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

// failed_or_timed_out for a listening stream, whose exception is worth a log
// line naming `fn`, the notify that saw it.
bool listener_failed_or_timed_out(int type, ACL_ASTREAM* listener, void (*rearm)(ACL_ASTREAM*),
                                  const char* fn) {
    if ((type & ACL_EVENT_XCPT) && !close_requested(listener))  // else: our own close
        acl_msg_error("%s: listen stream error, close it now", fn);
    return failed_or_timed_out(type, listener, rearm);
}

void accept_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    auto* listener = static_cast<ACL_ASTREAM*>(ctx);
    CallbackScope scope(listener->aio);
    if (listener_failed_or_timed_out(type, listener, enable_accept, __func__)) return;
    ACL_VSTREAM* cs = acl_vstream_accept_ex(listener->stream, nullptr, 0);
    if (cs == nullptr) {
        int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK || err == ECONNABORTED || err == EPROTO ||
            err == EINTR) {
            enable_accept(listener);
        } else if (transient_accept_error(err)) {
            acl_msg_error("%s: accept error(%d, %s), pause 1 second", __func__, err,
                          std::strerror(err));
            acl_aio_request_timer(listener->aio, resume_accept, listener, 1);
        } else {
            acl_msg_error("%s: listen exception, error(%d, %s), close it", __func__, err,
                          std::strerror(err));
            acl_aio_iocp_close(listener);
        }
        return;
    }
    ACL_ASTREAM* client = acl_aio_open(listener->aio, cs);
    // The new stream is inside its first callback too: operations on it from
    // the accept callback cannot free it under the caller's feet.
    listener->nrefer++;
    client->nrefer++;
    int ret = listener->accept_fn(client, listener->context);
    client->nrefer--;
    listener->nrefer--;
    if (ret < 0) {
        acl_aio_iocp_close(client);
        acl_aio_iocp_close(listener);
        return;
    }
    if (close_requested(client)) acl_aio_iocp_close(client);
    if (close_requested(listener))
        acl_aio_iocp_close(listener);
    else
        enable_accept(listener);
}

void listen_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx);

void enable_listen(ACL_ASTREAM* listener) {
    acl_ioctl_enable_listen(listener->aio->ioc, listener->stream, listener->timeout, listen_notify,
                            listener);
}

void listen_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    auto* listener = static_cast<ACL_ASTREAM*>(ctx);
    CallbackScope scope(listener->aio);
    if (listener_failed_or_timed_out(type, listener, enable_listen, __func__)) return;
    int ret = under_ref(listener,
                        [listener] { return listener->listen_fn(listener, listener->context); });
    if (!close_if(listener, ret)) enable_listen(listener);
}

}  // namespace

namespace aio_internal {

void forget_timers(ACL_ASTREAM* a) { acl_aio_cancel_timer(a->aio, resume_accept, a); }

}  // namespace aio_internal

ACL_ASTREAM* acl_aio_connect(ACL_AIO* aio, const char* addr, int timeout) {
    if (aio == nullptr || addr == nullptr || *addr == '\0')
        acl_msg_fatal("%s: input invalid", __func__);
    ACL_VSTREAM* s = acl_vstream_connect_ex(addr, ACL_NON_BLOCKING, 0, 0, ACL_AIO_CONNECT_BUFSIZE);
    if (s == nullptr) {
        acl_msg_error("%s: connect addr(%s) error", __func__, addr);
        return nullptr;
    }
    ACL_ASTREAM* a = acl_aio_open(aio, s);
    if (a == nullptr) acl_msg_fatal("%s: open astream error", __func__);
    a->timeout = timeout;
    enable_connect(a);
    return a;
}

void acl_aio_accept(ACL_ASTREAM* listener) {
    if (listener == nullptr || listener->stream == nullptr)
        acl_msg_fatal("%s: input invalid", __func__);
    enable_accept(listener);
}

void acl_aio_listen(ACL_ASTREAM* listener) {
    if (listener == nullptr || listener->stream == nullptr)
        acl_msg_fatal("%s: input invalid", __func__);
    enable_listen(listener);
}
