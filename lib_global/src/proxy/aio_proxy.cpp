// The proxy object, its thread, the listener and request intake.
#include "proxy/aio_proxy.h"

#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "acl_workq.h"
#include "http_chat_async.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "platform/self.h"
#include "proxy_entry.h"

#define VIA_NAME "x-via-tarvospeed"

namespace {

char g_via[256];
std::once_flag g_via_once;

// Ends the exchange with the bad-request reply: nothing of the request
// leaves the proxy.
int refuse_request(APROXY_ENTRY* entry) {
    entry->error_sent = 1;
    aproxy_reply(entry, PROXY_REPLY_BAD_REQUEST);
    aproxy_entry_close(entry);
    return 0;
}

bool absolute_target(const HTTP_HDR_REQ* req) {
    const std::string& target = req->hdr.entries[0]->value;
    return strncasecmp(target.c_str(), "http://", 7) == 0 ||
           strncasecmp(target.c_str(), "https://", 8) == 0;
}

int request_header_ready(int status, void* ctx) {
    const char* myname = "request_header_ready";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    entry->tm_hdr_req = aproxy_entry_stamp(entry);
    aproxy_reading_done(entry);

    if (status != 0) {
        acl_debug(20, 2)("%s: status(%d) error(%s)", myname, status,
                         acl_vstream_strerror(acl_aio_vstream(entry->client)));
        // A header past its bound is told so; a broken connection is not.
        if (status == HTTP_CHAT_ERR_TOO_MANY_LINES) return refuse_request(entry);
        return -1;
    }
    if (http_hdr_req_parse_all(entry->hdr_req) < 0) {
        acl_msg_error("%s: parse hdr_req error", myname);
        return refuse_request(entry);
    }

    HTTP_HDR* hdr = &entry->hdr_req->hdr;
    if (entry->hdr_req->host[0] == 0) {
        // A relative URL without a Host entry names no server.
        acl_msg_error("%s: no host, url(%s)", myname, entry->hdr_req->url_part.c_str());
        return refuse_request(entry);
    }
    if (absolute_target(entry->hdr_req)) {
        // The server is the one the URL names; its Host field says the same,
        // and an HTTP/1.0 request that had none gets one before it leaves as
        // 1.1.
        http_hdr_entry_delete(hdr, "Host");
        http_hdr_put_str(hdr, "Host", entry->hdr_req->host);
    }

    const char* via = aio_proxy_via();
    const char* value = http_hdr_entry_value(hdr, VIA_NAME);
    if (value != nullptr) {
        if (strcasecmp(value, via) == 0) {
            // The request came back to us: forwarding it would loop for ever.
            acl_debug(20, 0)("%s(%d): loop tested, via(%s), url(http://%s%s)", myname, __LINE__,
                             value, entry->hdr_req->host, entry->hdr_req->url_part.c_str());
            entry->error_sent = 1;
            aproxy_reply(entry, PROXY_REPLY_LOOP);
            aproxy_entry_close(entry);
            return 0;
        }
    } else {
        http_hdr_put_str(hdr, VIA_NAME, via);
    }
    search_dns(entry);
    return 0;
}

int accept_callback(ACL_ASTREAM* client, void* ctx) {
    const char* myname = "accept_callback";
    auto* proxy = static_cast<AIO_PROXY*>(ctx);
    if (client == nullptr) acl_msg_fatal("%s: stream NULL", myname);
    if (!(proxy->flags & AIO_PROXY_FLAG_HTTP))
        acl_msg_fatal("%s(%d): invalid proxy's flag(%d)", myname, __LINE__,
                      static_cast<int>(proxy->flags));
    APROXY_ENTRY* entry = aproxy_entry_new(proxy, client);
    begin_http_proxy(entry);
    return 0;
}

void proxy_thread(AIO_PROXY* proxy) {
    acl_aio_ctl(proxy->listener, ACL_AIO_CTL_ACCEPT_FN, accept_callback, ACL_AIO_CTL_CLOSE_FN,
                (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN, aproxy_return_zero,
                ACL_AIO_CTL_TIMEOUT, proxy->listen_timeout, ACL_AIO_CTL_CTX,
                static_cast<void*>(proxy), ACL_AIO_CTL_END);
    acl_aio_accept(proxy->listener);
    aproxy_sweep_start(proxy);
    while (!proxy->impl->quit) acl_aio_loop(proxy->aio);
}

}  // namespace

const char* aio_proxy_via(void) {
    std::call_once(g_via_once,
                   [] { snprintf(g_via, sizeof(g_via), "tarvospeed-%d", platform::process_id()); });
    return g_via;
}

void begin_http_proxy(APROXY_ENTRY* entry) {
    http_hdr_req_reset(entry->hdr_req);
    if (entry->hdr_res) {
        http_hdr_res_free(entry->hdr_res);
        entry->hdr_res = nullptr;
    }
    if (entry->http_req) {
        http_req_free(entry->http_req);
        entry->http_req = nullptr;
    }
    if (entry->http_res) {
        http_res_free(entry->http_res);
        entry->http_res = nullptr;
    }
    entry->obuf.clear();
    aproxy_entry_stamp(entry);
    entry->hdr_first_byte = 0;
    entry->proxy->impl->reading.insert(entry);
    http_hdr_req_get_async(entry->hdr_req, entry->client, request_header_ready, entry,
                           entry->proxy->rw_timeout);
}

AIO_PROXY* aio_proxy_create(const char* addr, int cap_title) {
    const char* myname = "aio_proxy_create";
    ACL_VSTREAM* sstream =
        acl_vstream_listen_ex(addr, AIO_PROXY_LISTEN_BACKLOG, ACL_NON_BLOCKING, 0, 0);
    if (sstream == nullptr) {
        acl_msg_error("%s(%d): listen addr(%s) error", myname, __LINE__, addr);
        return nullptr;
    }
    auto* proxy = new AIO_PROXY{};
    proxy->impl = new AIO_PROXY_IMPL;
    proxy->aio = acl_aio_create(0, 0);
    proxy->listener = acl_aio_open(proxy->aio, sstream);
    proxy->dns_server = dns_server_create(proxy->aio, AIO_PROXY_DNS_LIFETIME);
    proxy->impl->pending.reserve(100);
    proxy->wq = acl_workq_create(100, 60, 0, 0);
    proxy->conn_timeout = AIO_PROXY_CONN_TIMEOUT;
    proxy->rw_timeout = AIO_PROXY_RW_TIMEOUT;
    proxy->listen_timeout = AIO_PROXY_LISTEN_TIMEOUT;
    proxy->hdr_timeout = AIO_PROXY_HDR_TIMEOUT;
    const std::string& local = sstream->addr_local;
    size_t colon = local.rfind(':');
    proxy->impl->listen_ip = local.substr(0, colon);
    proxy->impl->listen_port = colon == std::string::npos ? 0 : atoi(local.c_str() + colon + 1);
    proxy->flags = AIO_PROXY_FLAGS_DEFAULT;
    proxy->cap_title = cap_title;
    return proxy;
}

void aio_proxy_set_accel_hooks(AIO_PROXY* proxy, AIO_PROXY_CAN_ACCEL_FN can_accel,
                               AIO_PROXY_ACCEL_FN accel) {
    if (proxy == nullptr) return;
    proxy->can_accel = can_accel;
    proxy->accel = accel;
}

int aio_proxy_start(AIO_PROXY* proxy) {
    if (proxy == nullptr || proxy->impl->thread != nullptr) return -1;
    proxy->impl->quit = 0;
    proxy->impl->thread = std::make_unique<std::thread>(proxy_thread, proxy);
    return 0;
}

void aio_proxy_stop(AIO_PROXY* proxy) {
    if (proxy == nullptr || proxy->impl->thread == nullptr) return;
    proxy->impl->quit = 1;
    proxy->impl->thread->join();
    proxy->impl->thread.reset();
}
