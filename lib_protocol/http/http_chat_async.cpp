// Header and body readers on async streams.
#include "http_chat_async.h"

#include <algorithm>
#include <new>

#include "acl_msg.h"

namespace {

// One read under way on a stream, header or body alike. Each read goes out
// with the reader's own request record, so the stream's callbacks and context
// stay the stream owner's throughout. Only the stream's own close and timeout
// callbacks take over from the reader's user; whether it has them is noted
// when the read begins.
struct ChatRead {
    ACL_AIO_READ_REQ req;
    bool active = false;
    bool own_close = false;
    bool own_timeo = false;

    void begin(ACL_ASTREAM* astream, ACL_AIO_READ_FN read_fn, ACL_AIO_CLOSE_FN close_fn,
               ACL_AIO_TIMEO_FN timeo_fn, void* context, int timeout) {
        active = true;
        req.read_fn = read_fn;
        req.close_fn = close_fn;
        req.timeo_fn = timeo_fn;
        req.context = context;
        own_close = acl_aio_has_own_callback(astream, ACL_AIO_CTL_CLOSE_FN);
        own_timeo = acl_aio_has_own_callback(astream, ACL_AIO_CTL_TIMEO_FN);
        acl_aio_ctl(astream, ACL_AIO_CTL_TIMEOUT, timeout < 0 ? 0 : timeout, ACL_AIO_CTL_END);
    }

    void end() { active = false; }
};

// The stream closed during a read. Its own close callback runs next anyway
// (the engine calls it after this notice): then the reader's user hears
// nothing; otherwise `closed` ends the read for the user. Ctx holds its
// ChatRead as `read`.
template <class Ctx, int (*closed)(ACL_ASTREAM*, Ctx*)>
int chat_close_cb(ACL_ASTREAM* astream, void* context) {
    auto* ctx = static_cast<Ctx*>(context);
    if (!ctx->read.active) return -1;
    if (ctx->read.own_close) {
        ctx->read.end();
        return -1;
    }
    return closed(astream, ctx);
}

// The read timed out: the stream's own timeout callback answers, or
// `timed_out` ends the read for the user. The stream closes either way.
template <class Ctx, int (*timed_out)(ACL_ASTREAM*, Ctx*)>
int chat_timeo_cb(ACL_ASTREAM* astream, void* context) {
    auto* ctx = static_cast<Ctx*>(context);
    if (!ctx->read.active) return -1;
    if (ctx->read.own_timeo) {
        ctx->read.end();
        acl_aio_call_timeout(astream);
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

// Ends the read before the user hears of the end, so the user may free the
// header (and with it this reader) from its callback.
int hdr_finish(HTTP_CHAT_CTX* ctx, int status) {
    ctx->read.end();
    return ctx->notify(status, ctx->arg);
}

int hdr_read_cb(ACL_ASTREAM* astream, void* context, char* data, int dlen) {
    auto* ctx = static_cast<HTTP_CHAT_CTX*>(context);
    int ret = http_hdr_feed_line(ctx->hdr, data, dlen > 0 ? static_cast<size_t>(dlen) : 0);
    if (ret != HTTP_HDR_FEED_MORE) return hdr_finish(ctx, ret);
    acl_aio_gets_nonl_req(astream, &ctx->read.req);
    return 0;
}

int hdr_closed(ACL_ASTREAM*, HTTP_CHAT_CTX* ctx) {
    return hdr_finish(ctx, ctx->hdr->content_length > 0 ? HTTP_CHAT_ERR_IO : HTTP_CHAT_ERR_CLOSED);
}

int hdr_timed_out(ACL_ASTREAM*, HTTP_CHAT_CTX* ctx) {
    return hdr_finish(ctx, HTTP_CHAT_ERR_TIMEOUT);
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
    acl_aio_gets_nonl_req(astream, &ctx->read.req);
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

int body_finish(HTTP_BODY_CTX* ctx, int status, int dlen) {
    ctx->read.end();
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
            acl_aio_gets_req(astream, &ctx->read.req);
            return 0;
        case HTTP_BODY_WANT_DATA:
            acl_aio_readn_req(astream,
                              static_cast<int>(std::min<int64_t>(max, HTTP_BODY_PIECE_MAX)),
                              &ctx->read.req);
            return 0;
        case HTTP_BODY_WANT_ANY:
            acl_aio_read_req(astream, &ctx->read.req);
            return 0;
        case HTTP_BODY_WANT_NONE:
            break;
    }
    return body_finish(ctx, HTTP_CHAT_OK, body_total(ctx->body));
}

int body_read_cb(ACL_ASTREAM* astream, void* context, char* data, int dlen) {
    auto* ctx = static_cast<HTTP_BODY_CTX*>(context);
    if (dlen <= 0) return 0;  // nothing delivered: the close that follows ends the read
    int status = http_body_feed(ctx->body, data, static_cast<size_t>(dlen));
    if (status >= HTTP_CHAT_ERR_MIN) {
        body_finish(ctx, status, 0);
        return -1;
    }
    if (ctx->notify(status, data, dlen, ctx->arg) < 0) {
        ctx->read.end();
        return -1;
    }
    return body_next(astream, ctx);
}

int body_closed(ACL_ASTREAM*, HTTP_BODY_CTX* ctx) {
    int status = http_body_closed(ctx->body);
    return body_finish(ctx, status, status == HTTP_CHAT_OK ? body_total(ctx->body) : 0);
}

int body_timed_out(ACL_ASTREAM*, HTTP_BODY_CTX* ctx) {
    return body_finish(ctx, HTTP_CHAT_ERR_TIMEOUT, 0);
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
