// The aio handle and an astream's life: open, options, close.
#include <cstdarg>

#include "aio_internal.h"

using namespace aio_internal;

namespace {

int default_read(ACL_ASTREAM* a, void*, char*, int) {
    a->line.clear();
    return 0;
}

int default_write(ACL_ASTREAM*, void*) { return 0; }

int default_accept(ACL_ASTREAM*, void*) {
    acl_msg_fatal("%s: default accept_callback be called", __func__);
}

int default_listen(ACL_ASTREAM*, void*) {
    acl_msg_fatal("%s: default listen_callback be called", __func__);
}

int default_connect(ACL_ASTREAM*, void*) {
    acl_msg_warn("%s: default connect_callback be called", __func__);
    return -1;
}

int default_timeo(ACL_ASTREAM*, void*) { return -1; }

int default_close(ACL_ASTREAM*, void*) { return -1; }

// The whole teardown of an astream: the close callback, then the loop forgets
// the stream, then the buffers, the buffered stream and the record go.
void free_astream(ACL_ASTREAM* a) {
    // A read still pending hears of the close first, through its own record.
    if (ACL_AIO_READ_REQ* req = a->read_req) {
        a->read_req = nullptr;
        ACL_AIO_CLOSE_FN fn = req->close_fn;
        void* context = req->context;
        if (fn != nullptr) under_ref(a, [&] { return fn(a, context); });
    }
    under_ref(a, [a] { return a->close_fn(a, a->context); });
    a->flag &= ~static_cast<unsigned>(ACL_AIO_FLAG_CLOSE);
    forget_timers(a);
    if (a->stream != nullptr) {
        acl_ioctl_disable_readwrite(a->aio->ioc, a->stream);
        acl_vstream_close(a->stream);
        a->stream = nullptr;
    }
    delete a;
}

}  // namespace

ACL_AIO* acl_aio_create_ex(int max_threads, int idle_timeout, int delay_sec, int delay_usec) {
    auto* aio = new ACL_AIO;
    if (max_threads < 0) max_threads = 0;
    if (delay_sec <= 0 && delay_usec <= 0) {
        delay_sec = 1;
        delay_usec = 0;
    }
    aio->ioc = acl_ioctl_create_ex(max_threads, idle_timeout, delay_sec, delay_usec);
    if (aio->ioc == nullptr) acl_msg_fatal("%s: acl_ioctl_create_ex error(%s)", __func__, "null");
    if (acl_ioctl_start(aio->ioc) < 0)
        acl_msg_fatal("%s, %s(%d): acl_ioctl_start error(%s)", __FILE__, __func__, __LINE__,
                      "start");
    return aio;
}

ACL_AIO* acl_aio_create(int max_threads, int idle_timeout) {
    return acl_aio_create_ex(max_threads, idle_timeout, 1, 0);
}

void acl_aio_free(ACL_AIO* aio) {
    if (aio == nullptr) return;
    acl_ioctl_free(aio->ioc);
    delete aio;
}

void acl_aio_loop(ACL_AIO* aio) {
    if (aio == nullptr) return;
    aio->loop_thread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    aio->pass_depth = 1;
    {
        CallbackScope pass(aio);
        acl_ioctl_loop(aio->ioc);
        aio->pass_depth = 0;
    }
}

int acl_aio_in_loop_thread(const ACL_AIO* aio) {
    return aio != nullptr &&
           aio->loop_thread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

ACL_EVENT* acl_aio_event(ACL_AIO* aio) { return acl_ioctl_event(aio->ioc); }

std::int64_t acl_aio_request_timer(ACL_AIO* aio, ACL_EVENT_NOTIFY_TIME callback, void* context,
                                   int delay) {
    return acl_ioctl_request_timer(aio->ioc, callback, context, delay);
}

std::int64_t acl_aio_cancel_timer(ACL_AIO* aio, ACL_EVENT_NOTIFY_TIME callback, void* context) {
    return acl_ioctl_cancel_timer(aio->ioc, callback, context);
}

ACL_ASTREAM* acl_aio_open(ACL_AIO* aio, ACL_VSTREAM* stream) {
    if (aio == nullptr || stream == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    if (stream->type == ACL_VSTREAM_TYPE_SOCK) acl_non_blocking(stream->fd, ACL_NON_BLOCKING);
    auto* a = new ACL_ASTREAM;
    a->aio = aio;
    a->stream = stream;
    a->line.reserve(ACL_AIO_LINE_INIT);
    a->read_fn = default_read;
    a->write_fn = default_write;
    a->accept_fn = default_accept;
    a->listen_fn = default_listen;
    a->connect_fn = default_connect;
    a->timeo_fn = default_timeo;
    a->close_fn = default_close;
    return a;
}

void acl_aio_ctl(ACL_ASTREAM* a, int name, ...) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    va_list ap;
    va_start(ap, name);
    for (; name != ACL_AIO_CTL_END; name = va_arg(ap, int)) {
        switch (name) {
            case ACL_AIO_CTL_CLOSE_FN: {
                auto fn = va_arg(ap, ACL_AIO_CLOSE_FN);
                a->close_fn = fn ? fn : default_close;
                break;
            }
            case ACL_AIO_CTL_TIMEO_FN: {
                auto fn = va_arg(ap, ACL_AIO_TIMEO_FN);
                a->timeo_fn = fn ? fn : default_timeo;
                break;
            }
            case ACL_AIO_CTL_READ_FN: {
                auto fn = va_arg(ap, ACL_AIO_READ_FN);
                a->read_fn = fn ? fn : default_read;
                break;
            }
            case ACL_AIO_CTL_WRITE_FN: {
                auto fn = va_arg(ap, ACL_AIO_WRITE_FN);
                a->write_fn = fn ? fn : default_write;
                break;
            }
            case ACL_AIO_CTL_ACCEPT_FN: {
                auto fn = va_arg(ap, ACL_AIO_ACCEPT_FN);
                a->accept_fn = fn ? fn : default_accept;
                break;
            }
            case ACL_AIO_CTL_LISTEN_FN: {
                auto fn = va_arg(ap, ACL_AIO_LISTEN_FN);
                a->listen_fn = fn ? fn : default_listen;
                break;
            }
            case ACL_AIO_CTL_CONNECT_FN: {
                auto fn = va_arg(ap, ACL_AIO_CONNECT_FN);
                a->connect_fn = fn ? fn : default_connect;
                break;
            }
            case ACL_AIO_CTL_CTX:
                a->context = va_arg(ap, void*);
                break;
            case ACL_AIO_CTL_TIMEOUT:
                a->timeout = va_arg(ap, int);
                break;
            case ACL_AIO_CTL_STREAM: {
                auto* s = va_arg(ap, ACL_VSTREAM*);
                // The loop must forget the old stream before its new owner uses it.
                if (a->stream != nullptr && a->stream != s)
                    acl_ioctl_disable_readwrite(a->aio->ioc, a->stream);
                if (s != nullptr && s->type == ACL_VSTREAM_TYPE_SOCK)
                    acl_non_blocking(s->fd, ACL_NON_BLOCKING);
                a->stream = s;
                break;
            }
            default:
                acl_msg_fatal("%s: invalid name(%d)", __func__, name);
        }
    }
    va_end(ap);
}

ACL_VSTREAM* acl_aio_vstream(ACL_ASTREAM* a) { return a == nullptr ? nullptr : a->stream; }

int acl_aio_isrset(ACL_ASTREAM* a) {
    return a != nullptr && a->stream != nullptr && acl_ioctl_isrset(a->aio->ioc, a->stream);
}

int acl_aio_iswset(ACL_ASTREAM* a) {
    return a != nullptr && a->stream != nullptr && acl_ioctl_iswset(a->aio->ioc, a->stream);
}

namespace {

// The close decision; `may_defer` is false for a close whose deferral ended.
int close_astream(ACL_ASTREAM* a, bool may_defer) {
    // The code that called the running callback finishes the close.
    if (a->nrefer > 0) {
        a->flag |= ACL_AIO_FLAG_CLOSE;
        return 0;
    }
    if (a->close_deferred) return 0;
    if (a->stream != nullptr) {
        // Queued output goes first; the write path closes when it is done.
        if (acl_ioctl_iswset(a->aio->ioc, a->stream)) {
            a->flag |= ACL_AIO_FLAG_CLOSE;
            return 0;
        }
        // A pending read ends through an exception in the next pass.
        if (acl_ioctl_isrset(a->aio->ioc, a->stream)) {
            a->flag |= ACL_AIO_FLAG_CLOSE;
            a->stream->flag |= ACL_VSTREAM_FLAG_EOF;
            acl_ioctl_recheck(a->aio->ioc, a->stream);
            return 0;
        }
    }
    if (may_defer && a->aio->callback_depth > 0) {
        a->flag |= ACL_AIO_FLAG_CLOSE;
        a->close_deferred = true;
        a->aio->deferred_closes.push_back(a);
        return 0;
    }
    free_astream(a);
    return 1;
}

}  // namespace

namespace aio_internal {

void run_deferred_closes(ACL_AIO* aio) {
    if (aio->deferred_closes.empty()) return;
    // Close callbacks run from here may close further streams: those join
    // the list and go in this same round.
    aio->callback_depth++;
    for (std::size_t i = 0; i < aio->deferred_closes.size(); i++) {
        ACL_ASTREAM* a = aio->deferred_closes[i];
        a->close_deferred = false;
        close_astream(a, false);
    }
    aio->deferred_closes.clear();
    aio->callback_depth--;
}

}  // namespace aio_internal

int acl_aio_iocp_close(ACL_ASTREAM* a) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    return close_astream(a, true);
}

int acl_aio_has_own_callback(ACL_ASTREAM* a, int name) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    switch (name) {
        case ACL_AIO_CTL_CLOSE_FN:
            return a->close_fn != default_close;
        case ACL_AIO_CTL_TIMEO_FN:
            return a->timeo_fn != default_timeo;
        default:
            acl_msg_fatal("%s: invalid name(%d)", __func__, name);
    }
}

int acl_aio_call_timeout(ACL_ASTREAM* a) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    return a->timeo_fn(a, a->context);
}

std::size_t acl_aio_write_left(ACL_ASTREAM* a) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    return a->write_left;
}

std::size_t acl_aio_read_collected(ACL_ASTREAM* a) {
    if (a == nullptr) acl_msg_fatal("%s: input invalid", __func__);
    return a->line.size();
}
