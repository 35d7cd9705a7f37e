// Reads and writes of async streams: try at once, else through the loop.
#include <cerrno>

#include "aio_internal.h"

using namespace aio_internal;

namespace {

// Runs the pending reader on the stream: the bytes added, or ACL_VSTREAM_EOF.
int run_reader(ACL_ASTREAM* a, int* ready) {
    ACL_VSTREAM* s = a->stream;
    switch (a->reader) {
        case ACL_AIO_READ_GETS:
            return acl_vstream_gets_ready(s, &a->line, ready);
        case ACL_AIO_READ_GETS_NONL:
            return acl_vstream_gets_nonl_ready(s, &a->line, ready);
        case ACL_AIO_READ_READN:
            return acl_vstream_readn_ready(s, &a->line, a->read_count, ready);
        case ACL_AIO_READ_ANY:
            return acl_vstream_read_ready(s, &a->line, ready);
        case ACL_AIO_READ_NONE:
            break;
    }
    acl_msg_fatal("%s: no reader pending", __func__);
}

// Delivers the line buffer. The read is over: its record is let go first, so
// the callback may start the next read with it or free it.
int call_read(ACL_ASTREAM* a) {
    ACL_AIO_READ_REQ* req = a->read_req;
    a->read_req = nullptr;
    ACL_AIO_READ_FN fn = req != nullptr ? req->read_fn : a->read_fn;
    void* context = req != nullptr ? req->context : a->context;
    return under_ref(
        a, [&] { return fn(a, context, a->line.data(), static_cast<int>(a->line.size())); });
}

// A time-out of the pending read: its record's handler decides when it has
// one, else the stream's timeout callback.
void read_timed_out(ACL_ASTREAM* a) {
    ACL_AIO_READ_REQ* req = a->read_req;
    if (req == nullptr || req->timeo_fn == nullptr) {
        timed_out(a, enable_read);
        return;
    }
    ACL_AIO_TIMEO_FN fn = req->timeo_fn;
    void* context = req->context;
    int ret = under_ref(a, [&] { return fn(a, context); });
    if (ret < 0) a->read_req = nullptr;  // its handler ended the read: no close notice follows
    if (!close_if(a, ret)) enable_read(a);
}

enum class Step { done, failed, pending };

// One attempt of the pending read. `done`: the unit is in the line buffer.
// `failed`: the stream ended or broke (what was collected is in the buffer).
Step try_read(ACL_ASTREAM* a) {
    int ready = 0;
    int n = run_reader(a, &ready);
    if (ready) return Step::done;
    if (n == ACL_VSTREAM_EOF) return Step::failed;
    bool line_reader = a->reader == ACL_AIO_READ_GETS || a->reader == ACL_AIO_READ_GETS_NONL;
    if (line_reader && a->line.size() > ACL_AIO_LINE_MAX) {
        acl_msg_error("%s: line too long(%zu), close it", __func__, a->line.size());
        a->line.clear();
        a->stream->flag |= ACL_VSTREAM_FLAG_ERR;
        return Step::failed;
    }
    return Step::pending;
}

// End of data or failure: hand over the rest, then close.
void finish_failed(ACL_ASTREAM* a) {
    if (!a->line.empty()) {
        if (a->reader == ACL_AIO_READ_GETS_NONL) {
            while (!a->line.empty() && (a->line.back() == '\r' || a->line.back() == '\n'))
                a->line.pop_back();
        }
        call_read(a);
    }
    acl_aio_iocp_close(a);
}

void read_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    auto* a = static_cast<ACL_ASTREAM*>(ctx);
    CallbackScope scope(a->aio);
    if (type & ACL_EVENT_RW_TIMEOUT && !(type & ACL_EVENT_XCPT)) {
        read_timed_out(a);
        return;
    }
    if (failed_or_timed_out(type, a, enable_read)) return;
    switch (try_read(a)) {
        case Step::done:
            close_if(a, call_read(a));
            return;
        case Step::failed:
            finish_failed(a);
            return;
        case Step::pending:
            enable_read(a);
            return;
    }
}

// The shape shared by every read operation.
int start_read(ACL_ASTREAM* a, ACL_AIO_READER reader, std::size_t count, ACL_AIO_READ_REQ* req) {
    if (a == nullptr || a->stream == nullptr)
        acl_msg_fatal("%s: astream null or detached", __func__);
    a->line.clear();
    a->read_req = req;
    a->reader = reader;
    a->read_count = count;
    if (++a->read_nested < ACL_AIO_NESTED_MAX) {
        switch (try_read(a)) {
            case Step::done: {
                int ret = call_read(a);
                a->read_nested--;
                return close_if(a, ret) ? -1 : ret;
            }
            case Step::failed:
                a->read_nested--;
                finish_failed(a);
                return -1;
            case Step::pending:
                break;
        }
    }
    a->read_nested--;
    enable_read(a);
    return 0;
}

// Sends from the queue head on. The bytes still queued, or -1 on failure.
long flush(ACL_ASTREAM* a) {
    int completed = 0;
    while (!a->write_queue.empty()) {
        std::string& head = a->write_queue.front();
        int n = acl_vstream_write(a->stream, head.data() + a->write_offset,
                                  head.size() - a->write_offset);
        if (n == ACL_VSTREAM_EOF) return -1;
        if (n == 0) return static_cast<long>(a->write_left);
        a->write_offset += static_cast<std::size_t>(n);
        a->write_left -= static_cast<std::size_t>(n);
        if (a->write_offset < head.size()) return static_cast<long>(a->write_left);
        a->write_queue.pop_front();
        a->write_offset = 0;
        if (++completed >= ACL_AIO_FLUSH_MAX) return static_cast<long>(a->write_left);
    }
    if (a->write_left != 0) acl_msg_fatal("%s: write_left(%zu) != 0", __func__, a->write_left);
    return 0;
}

int call_write(ACL_ASTREAM* a) {
    return under_ref(a, [a] { return a->write_fn(a, a->context); });
}

void write_notify(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    auto* a = static_cast<ACL_ASTREAM*>(ctx);
    CallbackScope scope(a->aio);
    if (failed_or_timed_out(type, a, enable_write)) return;
    long left = flush(a);
    if (left < 0) {
        acl_aio_iocp_close(a);
        return;
    }
    if (left > 0) {
        enable_write(a);
        return;
    }
    close_if(a, call_write(a));
}

}  // namespace

namespace aio_internal {

void enable_read(ACL_ASTREAM* a) {
    acl_ioctl_enable_read(a->aio->ioc, a->stream, a->timeout, read_notify, a);
}

void enable_write(ACL_ASTREAM* a) {
    acl_ioctl_enable_write(a->aio->ioc, a->stream, a->timeout, write_notify, a);
}

}  // namespace aio_internal

int acl_aio_gets(ACL_ASTREAM* a) { return start_read(a, ACL_AIO_READ_GETS, 0, nullptr); }

int acl_aio_gets_nonl(ACL_ASTREAM* a) { return start_read(a, ACL_AIO_READ_GETS_NONL, 0, nullptr); }

int acl_aio_read(ACL_ASTREAM* a) { return start_read(a, ACL_AIO_READ_ANY, 0, nullptr); }

namespace {

std::size_t checked_count(int count, const char* myname) {
    if (count <= 0) acl_msg_fatal("%s: count(%d) invalid", myname, count);
    return static_cast<std::size_t>(count);
}

ACL_AIO_READ_REQ* checked_req(ACL_AIO_READ_REQ* req, const char* myname) {
    if (req == nullptr || req->read_fn == nullptr)
        acl_msg_fatal("%s: read request null or without read_fn", myname);
    return req;
}

}  // namespace

int acl_aio_readn(ACL_ASTREAM* a, int count) {
    return start_read(a, ACL_AIO_READ_READN, checked_count(count, __func__), nullptr);
}

int acl_aio_gets_req(ACL_ASTREAM* a, ACL_AIO_READ_REQ* req) {
    return start_read(a, ACL_AIO_READ_GETS, 0, checked_req(req, __func__));
}

int acl_aio_gets_nonl_req(ACL_ASTREAM* a, ACL_AIO_READ_REQ* req) {
    return start_read(a, ACL_AIO_READ_GETS_NONL, 0, checked_req(req, __func__));
}

int acl_aio_read_req(ACL_ASTREAM* a, ACL_AIO_READ_REQ* req) {
    return start_read(a, ACL_AIO_READ_ANY, 0, checked_req(req, __func__));
}

int acl_aio_readn_req(ACL_ASTREAM* a, int count, ACL_AIO_READ_REQ* req) {
    return start_read(a, ACL_AIO_READ_READN, checked_count(count, __func__),
                      checked_req(req, __func__));
}

int acl_aio_writen(ACL_ASTREAM* a, const char* data, int dlen) {
    if (a == nullptr) acl_msg_fatal("%s: astream null", __func__);
    if (a->stream == nullptr) acl_msg_fatal("%s: astream->stream null", __func__);
    if (dlen < 1 || data == nullptr)
        acl_msg_fatal("%s: invalid dlen(%d) or data(%s)", __func__, dlen,
                      data ? "not null" : "null");

    std::size_t sent = 0;
    if (++a->write_nested < ACL_AIO_NESTED_MAX) {
        if (flush(a) < 0) {
            a->write_nested--;
            acl_aio_iocp_close(a);
            return -1;
        }
        // Behind queued output nothing may overtake: only an empty queue
        // allows a direct send.
        if (a->write_queue.empty()) {
            int n = acl_vstream_write(a->stream, data, static_cast<std::size_t>(dlen));
            if (n == ACL_VSTREAM_EOF) {
                a->write_nested--;
                acl_aio_iocp_close(a);
                return -1;
            }
            if (n == dlen) {
                int ret = call_write(a);
                a->write_nested--;
                return close_if(a, ret) ? -1 : 0;
            }
            sent = static_cast<std::size_t>(n);
        }
    }
    a->write_nested--;
    a->write_queue.emplace_back(data + sent, static_cast<std::size_t>(dlen) - sent);
    a->write_left += static_cast<std::size_t>(dlen) - sent;
    enable_write(a);
    return 0;
}
