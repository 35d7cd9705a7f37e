// Header and body readers on async streams.
#include "http_chat_async.h"

#include <algorithm>
#include <new>

#include "acl_msg.h"

namespace {

// The stream's own callbacks and context, put back when a read ends. The
// close and timeout callbacks are kept apart from the defaults: only a
// stream's own callback takes over from the reader's user.
struct SavedCallbacks {
    ACL_AIO_READ_FN read_fn = nullptr;
    ACL_AIO_CLOSE_FN close_fn = nullptr;
    ACL_AIO_TIMEO_FN timeo_fn = nullptr;
    void* context = nullptr;
    bool own_close = false;
    bool own_timeo = false;

    void save(ACL_ASTREAM* astream) {
        read_fn = astream->read_fn;
        close_fn = astream->close_fn;
        timeo_fn = astream->timeo_fn;
        context = astream->context;
        // Setting a null callback installs the default: compare against it.
        acl_aio_ctl(astream, ACL_AIO_CTL_CLOSE_FN, static_cast<ACL_AIO_CLOSE_FN>(nullptr),
                    ACL_AIO_CTL_TIMEO_FN, static_cast<ACL_AIO_TIMEO_FN>(nullptr), ACL_AIO_CTL_END);
        own_close = astream->close_fn != close_fn;
        own_timeo = astream->timeo_fn != timeo_fn;
    }

    void restore(ACL_ASTREAM* astream) const {
        acl_aio_ctl(astream, ACL_AIO_CTL_READ_FN, read_fn, ACL_AIO_CTL_CLOSE_FN, close_fn,
                    ACL_AIO_CTL_TIMEO_FN, timeo_fn, ACL_AIO_CTL_CTX, context, ACL_AIO_CTL_END);
    }
};

// One read under way on a stream, header or body alike.
struct ChatRead {
    SavedCallbacks saved;
    bool active = false;

    // Takes the stream's callbacks over for the read; `end` gives them back.
    void begin(ACL_ASTREAM* astream, ACL_AIO_READ_FN read_fn, ACL_AIO_CLOSE_FN close_fn,
               ACL_AIO_TIMEO_FN timeo_fn, void* context, int timeout) {
        active = true;
        saved.save(astream);
        acl_aio_ctl(astream, ACL_AIO_CTL_READ_FN, read_fn, ACL_AIO_CTL_CLOSE_FN, close_fn,
                    ACL_AIO_CTL_TIMEO_FN, timeo_fn, ACL_AIO_CTL_CTX, context, ACL_AIO_CTL_TIMEOUT,
                    timeout < 0 ? 0 : timeout, ACL_AIO_CTL_END);
    }

    void end(ACL_ASTREAM* astream) {
        active = false;
        saved.restore(astream);
    }
};

// A close or a timeout during a read. The stream's own callback takes over
// when it has one; otherwise `closed` / `timed_out` end the read for the
// reader's user. Ctx holds its ChatRead as `read`.
template <class Ctx, int (*closed)(ACL_ASTREAM*, Ctx*)>
int chat_close_cb(ACL_ASTREAM* astream, void* context) {
    auto* ctx = static_cast<Ctx*>(context);
    if (!ctx->read.active) return -1;
    if (ctx->read.saved.own_close) {
        ctx->read.end(astream);
        return ctx->read.saved.close_fn(astream, ctx->read.saved.context);
    }
    return closed(astream, ctx);
}

template <class Ctx, int (*timed_out)(ACL_ASTREAM*, Ctx*)>
int chat_timeo_cb(ACL_ASTREAM* astream, void* context) {
    auto* ctx = static_cast<Ctx*>(context);
    if (!ctx->read.active) return -1;
    if (ctx->read.saved.own_timeo) {
        ctx->read.end(astream);
        ctx->read.saved.timeo_fn(astream, ctx->read.saved.context);
    } else {
        timed_out(astream, ctx);
    }
    return -1;
}

}  // namespace

// Header reading -----------------------------------------------------------

struct HTTP_CHAT_CTX {
    HTTP_HDR* hdr = nullptr;
    HTTP_HDR_NOTIFY notify = nullptr;
    void* arg = nullptr;
    ChatRead read;
};

namespace {

void chat_ctx_free(HTTP_CHAT_CTX* ctx) { delete ctx; }

// Ends the read: the stream gets its own callbacks back before the user
// hears of the end, so the user may free the header from its callback.
int hdr_finish(ACL_ASTREAM* astream, HTTP_CHAT_CTX* ctx, int status) {
    ctx->read.end(astream);
    return ctx->notify(status, ctx->arg);
}

int hdr_read_cb(ACL_ASTREAM* astream, void* context, char* data, int dlen) {
    auto* ctx = static_cast<HTTP_CHAT_CTX*>(context);
    int ret = http_hdr_feed_line(ctx->hdr, data, dlen > 0 ? static_cast<size_t>(dlen) : 0);
    if (ret != HTTP_HDR_FEED_MORE) return hdr_finish(astream, ctx, ret);
    acl_aio_gets_nonl(astream);
    return 0;
}

int hdr_closed(ACL_ASTREAM* astream, HTTP_CHAT_CTX* ctx) {
    return hdr_finish(astream, ctx,
                      ctx->hdr->content_length > 0 ? HTTP_CHAT_ERR_IO : HTTP_CHAT_ERR_CLOSED);
}

int hdr_timed_out(ACL_ASTREAM* astream, HTTP_CHAT_CTX* ctx) {
    return hdr_finish(astream, ctx, HTTP_CHAT_ERR_TIMEOUT);
}

}  // namespace

void hdr_get_async(HTTP_HDR* hdr, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify, void* arg,
                   int timeout) {
    static const char myname[] = "hdr_get_async";

    if (hdr == nullptr || astream == nullptr || notify == nullptr)
        acl_msg_fatal("%s, %s(%d): input invalid", __FILE_NAME__, myname, __LINE__);
    if (hdr->chat_ctx == nullptr) {
        hdr->chat_ctx = new (std::nothrow) HTTP_CHAT_CTX;
        if (hdr->chat_ctx == nullptr)
            acl_msg_fatal("%s, %s(%d): can't calloc", __FILE_NAME__, myname, __LINE__);
        hdr->chat_free = chat_ctx_free;
    }
    HTTP_CHAT_CTX* ctx = hdr->chat_ctx;
    if (ctx->read.active)
        acl_msg_fatal("%s, %s(%d): a header read is already under way", __FILE_NAME__, myname,
                      __LINE__);
    ctx->hdr = hdr;
    ctx->notify = notify;
    ctx->arg = arg;
    ctx->read.begin(astream, hdr_read_cb, chat_close_cb<HTTP_CHAT_CTX, hdr_closed>,
                    chat_timeo_cb<HTTP_CHAT_CTX, hdr_timed_out>, ctx, timeout);
    acl_aio_gets_nonl(astream);
}

void http_hdr_req_get_async(HTTP_HDR_REQ* req, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify,
                            void* arg, int timeout) {
    hdr_get_async(&req->hdr, astream, notify, arg, timeout);
}

void http_hdr_res_get_async(HTTP_HDR_RES* res, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify,
                            void* arg, int timeout) {
    hdr_get_async(&res->hdr, astream, notify, arg, timeout);
}

// Body reading -------------------------------------------------------------

struct HTTP_BODY_CTX {
    HTTP_BODY* body = nullptr;
    HTTP_BODY_NOTIFY notify = nullptr;
    void* arg = nullptr;
    ChatRead read;
};

namespace {

void body_ctx_free(HTTP_BODY_CTX* ctx) { delete ctx; }

int body_finish(ACL_ASTREAM* astream, HTTP_BODY_CTX* ctx, int status, int dlen) {
    ctx->read.end(astream);
    return ctx->notify(status, nullptr, dlen, ctx->arg);
}

int body_total(const HTTP_BODY* body) {
    return static_cast<int>(std::min<int64_t>(body->total, INT32_MAX));
}

// Starts the read of the next unit the body needs, or ends the body.
int body_next(ACL_ASTREAM* astream, HTTP_BODY_CTX* ctx) {
    int64_t max = 0;
    switch (http_body_want(ctx->body, &max)) {
        case HTTP_BODY_WANT_LINE:
            acl_aio_gets(astream);
            return 0;
        case HTTP_BODY_WANT_DATA:
            acl_aio_readn(astream, static_cast<int>(std::min<int64_t>(max, HTTP_BODY_PIECE_MAX)));
            return 0;
        case HTTP_BODY_WANT_ANY:
            acl_aio_read(astream);
            return 0;
        case HTTP_BODY_WANT_NONE:
            break;
    }
    return body_finish(astream, ctx, HTTP_CHAT_OK, body_total(ctx->body));
}

int body_read_cb(ACL_ASTREAM* astream, void* context, char* data, int dlen) {
    auto* ctx = static_cast<HTTP_BODY_CTX*>(context);
    if (dlen <= 0) return 0;  // nothing delivered: the close that follows ends the read
    int status = http_body_feed(ctx->body, data, static_cast<size_t>(dlen));
    if (status >= HTTP_CHAT_ERR_MIN) {
        body_finish(astream, ctx, status, 0);
        return -1;
    }
    if (ctx->notify(status, data, dlen, ctx->arg) < 0) {
        ctx->read.end(astream);
        return -1;
    }
    return body_next(astream, ctx);
}

int body_closed(ACL_ASTREAM* astream, HTTP_BODY_CTX* ctx) {
    int status = http_body_closed(ctx->body);
    return body_finish(astream, ctx, status, status == HTTP_CHAT_OK ? body_total(ctx->body) : 0);
}

int body_timed_out(ACL_ASTREAM* astream, HTTP_BODY_CTX* ctx) {
    return body_finish(astream, ctx, HTTP_CHAT_ERR_TIMEOUT, 0);
}

void body_get_async(HTTP_BODY* body, HTTP_BODY_CTX** ctx_slot,
                    void (**ctx_free_slot)(HTTP_BODY_CTX*), ACL_ASTREAM* astream,
                    HTTP_BODY_NOTIFY notify, void* arg, int timeout) {
    static const char myname[] = "body_get_async";

    if (*ctx_slot == nullptr) {
        *ctx_slot = new (std::nothrow) HTTP_BODY_CTX;
        if (*ctx_slot == nullptr)
            acl_msg_fatal("%s, %s(%d): can't calloc", __FILE_NAME__, myname, __LINE__);
        *ctx_free_slot = body_ctx_free;
    }
    HTTP_BODY_CTX* ctx = *ctx_slot;
    if (ctx->read.active)
        acl_msg_fatal("%s, %s(%d): a body read is already under way", __FILE_NAME__, myname,
                      __LINE__);
    ctx->body = body;
    ctx->notify = notify;
    ctx->arg = arg;
    ctx->read.begin(astream, body_read_cb, chat_close_cb<HTTP_BODY_CTX, body_closed>,
                    chat_timeo_cb<HTTP_BODY_CTX, body_timed_out>, ctx, timeout);
    if (body_next(astream, ctx) < 0) acl_aio_iocp_close(astream);
}

}  // namespace

int http_req_body_get_async(HTTP_REQ* req, ACL_ASTREAM* astream, HTTP_BODY_NOTIFY notify, void* arg,
                            int timeout) {
    static const char myname[] = "http_req_body_get_async";

    if (req == nullptr || astream == nullptr || notify == nullptr)
        acl_msg_fatal("%s, %s(%d): input invalid", __FILE_NAME__, myname, __LINE__);
    const HTTP_HDR& hdr = req->hdr_req->hdr;
    if (!hdr.chunked && hdr.content_length <= 0) {
        acl_msg_warn("%s: content_length(%lld)", myname,
                     static_cast<long long>(hdr.content_length));
        return -1;
    }
    if (!http_body_started(req->body))
        http_body_start(req->body, hdr.chunked, hdr.content_length, 0);
    body_get_async(req->body, &req->ctx, &req->ctx_free, astream, notify, arg, timeout);
    return 0;
}

void http_res_body_get_async(HTTP_RES* res, ACL_ASTREAM* astream, HTTP_BODY_NOTIFY notify,
                             void* arg, int timeout) {
    if (res == nullptr || astream == nullptr || notify == nullptr)
        acl_msg_fatal("%s, %s(%d): input invalid", __FILE_NAME__, "http_res_body_get_async",
                      __LINE__);
    const HTTP_HDR& hdr = res->hdr_res->hdr;
    if (!http_body_started(res->body))
        http_body_start(res->body, hdr.chunked, hdr.content_length, 1);
    body_get_async(res->body, &res->ctx, &res->ctx_free, astream, notify, arg, timeout);
}
