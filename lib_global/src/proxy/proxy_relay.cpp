// Response side: reading the server's header (with resends and the error
// replies), the hand-off to the acceleration hooks, and relaying header and
// body to the browser.
//
// Body bytes are read from the server only while the browser keeps up (see
// the flow control in proxy_entry.h).
#include <strings.h>
#include <cstdio>
#include <cstring>

#include "acl_aio.h"
#include "acl_aio_flow.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_chat_async.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_res.h"
#include "proxy_entry.h"

#define APROXY_RELAY_BATCH (64 * 1024)  // body bytes collected before a write to the browser

namespace {

int get_respond_header_ready(int status, void* ctx);
void read_respond_body(APROXY_ENTRY* entry);
void relay_flush(APROXY_ENTRY* entry);
void relay_flush_later(APROXY_ENTRY* entry);

int read_respond_hdr_error(ACL_ASTREAM* server, void* ctx) {
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (entry->client == nullptr || entry->error_sent) return 0;
    if (acl_do_debug(24, 2)) {
        ACL_VSTREAM* vs = acl_aio_vstream(server);
        long long read = entry->hdr_res ? entry->hdr_res->hdr.bytes : 0;
        acl_msg_info("read_respond_hdr_error: %s, %s, read=%lld, write=%lld",
                     vs ? acl_vstream_strerror(vs) : "", vs ? vs->addr_peer.c_str() : "", read,
                     entry->server_out);
        http_hdr_print(&entry->hdr_req->hdr, "test");
    }
    if (entry->retries < AIO_PROXY_MAX_RETRY && aio_proxy_reforward(entry) == 0) return 0;
    entry->error_sent = 1;
    aproxy_reply(entry, PROXY_REPLY_RESPOND_ERROR);
    return 0;
}

// The response header failed in a way a resend would not mend: the server
// stream closes without its close callback asking for one.
int header_failed(APROXY_ENTRY* entry) {
    if (entry->server)
        acl_aio_ctl(entry->server, ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr,
                    ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_END);
    return -1;
}

// While the server's header is awaited nothing is read from the browser:
// without a read its hang-up would go unseen until the server answers. A
// watch read notices it (the close ends both sides); bytes that come are
// not part of this exchange and are dropped.
int client_watch_read(ACL_ASTREAM* client, void*, char*, int) {
    acl_aio_read(client);
    return 0;
}

void client_watch(APROXY_ENTRY* entry) {
    if (entry->client == nullptr || acl_aio_isrset(entry->client)) return;
    acl_aio_ctl(entry->client, ACL_AIO_CTL_READ_FN, client_watch_read, ACL_AIO_CTL_TIMEOUT, 0,
                ACL_AIO_CTL_CTX, static_cast<void*>(entry), ACL_AIO_CTL_END);
    acl_aio_read(entry->client);
}

void client_unwatch(APROXY_ENTRY* entry) {
    if (entry->client && acl_aio_isrset(entry->client)) acl_aio_disable_read(entry->client);
}

// Statuses whose response has no body whatever its framing fields say
// (RFC 9110 section 6.4.1), and any response to HEAD.
bool without_body(const APROXY_ENTRY* entry) {
    int reply = entry->hdr_res->reply_status;
    return reply == 204 || reply == 304 || (reply >= 100 && reply < 200) ||
           strcasecmp(entry->hdr_req->method, "HEAD") == 0;
}

int respond_timeout_callback(ACL_ASTREAM*, void* ctx) {
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (entry->client == nullptr || entry->error_sent) return -1;
    entry->error_sent = 1;
    aproxy_reply(entry, PROXY_REPLY_RESPOND_TIMEOUT);
    return -1;
}

void accelerate(APROXY_ENTRY* entry) {
    AIO_PROXY* proxy = entry->proxy;
    ACL_ASTREAM* client = entry->client;
    ACL_ASTREAM* server = entry->server;
    ACL_VSTREAM* cstream = acl_aio_vstream(client);
    ACL_VSTREAM* sstream = acl_aio_vstream(server);
    HTTP_HDR_REQ* req = http_hdr_req_clone(entry->hdr_req);
    HTTP_HDR_RES* res = http_hdr_res_clone(entry->hdr_res);
    // Both astreams outlive the record for a moment: none of their
    // callbacks may reach it any more.
    for (ACL_ASTREAM* a : {client, server}) {
        acl_aio_ctl(a, ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN,
                    (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_WRITE_FN, (ACL_AIO_WRITE_FN) nullptr,
                    ACL_AIO_CTL_CTX, (void*)nullptr, ACL_AIO_CTL_END);
    }
    if (aproxy_entry_detach(entry, cstream) == 0) aproxy_entry_detach(entry, sstream);
    acl_non_blocking(ACL_VSTREAM_SOCK(cstream), ACL_BLOCKING);
    acl_non_blocking(ACL_VSTREAM_SOCK(sstream), ACL_BLOCKING);
    // From here on the sockets belong to the hook; the async streams let go
    // of them without closing.
    acl_aio_ctl(client, ACL_AIO_CTL_STREAM, (ACL_VSTREAM*)nullptr, ACL_AIO_CTL_END);
    acl_aio_ctl(server, ACL_AIO_CTL_STREAM, (ACL_VSTREAM*)nullptr, ACL_AIO_CTL_END);
    proxy->accel(cstream, sstream, req, res);
    acl_aio_iocp_close(client);
}

int get_respond_header_ready(int status, void* ctx) {
    const char* myname = "get_respond_header_ready";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    entry->tm_hdr_res = aproxy_entry_stamp(entry);
    if (status != 0) {
        ACL_VSTREAM* vs = acl_aio_vstream(entry->server);
        acl_msg_error("%s: status(%d) error(%s)", myname, status,
                      vs ? acl_vstream_strerror(vs) : "");
        return header_failed(entry);
    }
    if (entry->client == nullptr) {
        acl_msg_warn("%s: client null", myname);
        return header_failed(entry);
    }
    if (http_hdr_res_parse(entry->hdr_res) < 0) {
        acl_msg_error("%s: parse hdr_res error", myname);
        return header_failed(entry);
    }
    int reply = entry->hdr_res->reply_status;
    if (reply >= 100 && reply < 200 && reply != 101) {
        // Interim (100, 103, ...): the final header follows.
        get_respond_header(entry);
        return 0;
    }
    // From here on a hang-up shows in the writes to the browser.
    client_unwatch(entry);
    AIO_PROXY* proxy = entry->proxy;
    if (proxy->can_accel && proxy->accel && strcasecmp(entry->hdr_req->method, "GET") == 0 &&
        proxy->can_accel(entry->hdr_req, entry->hdr_res)) {
        accelerate(entry);
        return -1;
    }

    acl_aio_ctl(entry->client, ACL_AIO_CTL_WRITE_FN, (ACL_AIO_WRITE_FN) nullptr,
                ACL_AIO_CTL_TIMEOUT, proxy->rw_timeout, ACL_AIO_CTL_CLOSE_FN,
                (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr,
                ACL_AIO_CTL_CTX, static_cast<void*>(entry), ACL_AIO_CTL_END);
    acl_aio_ctl(entry->server, ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr,
                ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_END);
    aproxy_entry_stamp(entry);
    HTTP_HDR* hdr = &entry->hdr_res->hdr;
    if (hdr->framing_conflict != HTTP_HDR_FRAMING_OK) {
        // The body is read until the server closes; a length the browser
        // would read otherwise must not reach it.
        acl_msg_warn("%s: framing conflict(%d), url(%s), read until close", myname,
                     hdr->framing_conflict, entry->hdr_res->url.c_str());
        http_hdr_entry_delete(hdr, "Content-Length");
    }
    aproxy_drop_hop_fields(hdr);
    http_hdr_put_str(hdr, "Connection", "close");
    http_hdr_put_str(hdr, "Proxy-Connection", "close");
    // The header waits for the first body bytes and leaves with them in one
    // write: a small response costs one send and wakes the browser once. It
    // goes alone at the latest when the body reader returns to the loop.
    entry->relay_buf.clear();
    http_hdr_build(hdr, entry->relay_buf);
    if (without_body(entry)) {
        // Bytes after such a header are no body of it.
        relay_flush(entry);
        aproxy_entry_close(entry);
        return 0;
    }
    relay_flush_later(entry);
    read_respond_body(entry);
    return 0;
}

void relay_flush_timer(int, ACL_EVENT*, void* ctx);

// Sends the collected body pieces to the browser. Called from callbacks of
// the server stream, or held by the timer: the record outlives the call.
void relay_flush(APROXY_ENTRY* entry) {
    if (entry->relay_timer) {
        entry->relay_timer = 0;
        acl_aio_cancel_timer(entry->proxy->aio, relay_flush_timer, entry);
    }
    if (entry->relay_buf.empty()) return;
    if (entry->client == nullptr) {
        entry->relay_buf.clear();
        return;
    }
    std::string out;
    out.swap(entry->relay_buf);
    acl_aio_writen(entry->client, out.data(), static_cast<int>(out.size()));
    out.clear();
    entry->relay_buf.swap(out);  // keeps the room for the next pieces
    if (entry->client) aproxy_flow_wrote(entry, APROXY_FLOW_DOWN);
}

// The body reader went back to the loop: what it delivered so far leaves now.
void relay_flush_timer(int, ACL_EVENT*, void* ctx) {
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    entry->relay_timer = 0;
    aproxy_entry_hold(entry);
    relay_flush(entry);
    aproxy_entry_release(entry);
}

// What relay_buf holds leaves at the start of the next loop pass, unless a
// full batch or the end of the body sends it first.
void relay_flush_later(APROXY_ENTRY* entry) {
    if (entry->relay_timer) return;
    entry->relay_timer = 1;
    acl_aio_request_timer(entry->proxy->aio, relay_flush_timer, entry, 0);
}

int read_respond_body_ready(int status, char* data, int dlen, void* ctx) {
    const char* myname = "read_respond_body_ready";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (entry->retries > 0)
        acl_debug(24, 2)("%s: url(http://%s%s) was retried, cnt=%d", myname, entry->hdr_req->host,
                         entry->hdr_req->url_part.c_str(), entry->retries);
    if (status >= HTTP_CHAT_ERR_MIN) {
        entry->tm_body = aproxy_entry_stamp(entry);
        relay_flush(entry);
        return -1;
    }
    if (status == HTTP_CHAT_OK) {
        entry->tm_body = aproxy_entry_stamp(entry);
        relay_flush(entry);
        aproxy_entry_close(entry);
        return 0;
    }
    if (entry->client == nullptr) {
        acl_msg_warn("%s: warning client null now", myname);
        return -1;
    }
    // Pieces come in at most 8 KiB; they are sent in batches, at the latest
    // when the reader goes back to the loop (the timer runs at the start of
    // the next pass).
    if (dlen > 0) entry->relay_buf.append(data, static_cast<size_t>(dlen));
    if (status == HTTP_CHAT_CHUNK_TRAILER && (dlen <= 2 && (data[0] == '\r' || data[0] == '\n'))) {
        // The empty line ends the chunked body; closing at an earlier
        // trailer line would cut the body short.
        relay_flush(entry);
        aproxy_entry_close(entry);
        return 0;
    }
    if (entry->relay_buf.size() >= APROXY_RELAY_BATCH) {
        relay_flush(entry);
        if (entry->client == nullptr) return -1;  // the browser went away during the write
    } else {
        relay_flush_later(entry);
    }
    return 0;
}

int proxy_server_close_callback(ACL_ASTREAM*, void* ctx) {
    // A body read until the close ends here: what is collected still goes out.
    // (Title capture would also drop a listed title without a Flash object.)
    relay_flush(static_cast<APROXY_ENTRY*>(ctx));
    return 0;
}

void read_respond_body(APROXY_ENTRY* entry) {
    entry->http_res = http_res_new(entry->hdr_res);
    acl_aio_ctl(entry->client, ACL_AIO_CTL_WRITE_FN, aproxy_client_drained, ACL_AIO_CTL_CLOSE_FN,
                aproxy_return_neg, ACL_AIO_CTL_TIMEO_FN, aproxy_return_neg, ACL_AIO_CTL_CTX,
                static_cast<void*>(entry), ACL_AIO_CTL_END);
    acl_aio_ctl(entry->server, ACL_AIO_CTL_CLOSE_FN, proxy_server_close_callback,
                ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_END);
    // A small body of known length fits the default buffer; anything else
    // may be large.
    const HTTP_HDR& hdr = entry->hdr_res->hdr;
    if (hdr.chunked || hdr.content_length <= 0 || hdr.content_length > ACL_VSTREAM_BUFSIZE)
        aproxy_body_buffer(entry->server);
    aproxy_entry_stamp(entry);
    http_res_body_get_async(entry->http_res, entry->server, read_respond_body_ready, entry,
                            entry->proxy->rw_timeout);
}

}  // namespace

void aproxy_relay_cancel(APROXY_ENTRY* entry) {
    if (entry->relay_timer) {
        entry->relay_timer = 0;
        acl_aio_cancel_timer(entry->proxy->aio, relay_flush_timer, entry);
    }
}

void get_respond_header(APROXY_ENTRY* entry) {
    if (entry->hdr_res) http_hdr_res_free(entry->hdr_res);
    entry->hdr_res = http_hdr_res_new();
    entry->hdr_res->hdr_req = entry->hdr_req;
    char url[1024];
    snprintf(url, sizeof(url), "http://%s%s", entry->hdr_req->host,
             entry->hdr_req->url_part.c_str());
    entry->hdr_res->url = url;
    // The request body is all read by now: nothing waits on this side's
    // output any more, so the upward flow control ends here.
    aproxy_flow_reset(entry, APROXY_FLOW_UP);
    acl_aio_ctl(entry->server, ACL_AIO_CTL_WRITE_FN, (ACL_AIO_WRITE_FN) nullptr,
                ACL_AIO_CTL_CLOSE_FN, read_respond_hdr_error, ACL_AIO_CTL_TIMEO_FN,
                respond_timeout_callback, ACL_AIO_CTL_CTX, static_cast<void*>(entry),
                ACL_AIO_CTL_END);
    aproxy_entry_stamp(entry);
    client_watch(entry);
    http_hdr_res_get_async(entry->hdr_res, entry->server, get_respond_header_ready, entry,
                           entry->proxy->rw_timeout);
}
