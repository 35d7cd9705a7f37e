// Upstream side: name resolution shared per domain, connects over the
// answer's addresses in turn, sending the request and its body, CONNECT
// tunnels, and resending a request whose server closed without answering.
#include <strings.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_body.h"
#include "http_chat_async.h"
#include "http_hdr_req.h"
#include "http_req.h"
#include "proxy_entry.h"

namespace {

// ------------------------------------------------------------------ DNS

// A CONNECT whose target is our own listening address would tunnel into
// ourselves: the x-via-tarvospeed mark cannot travel inside a tunnel.
bool tunnels_to_self(const APROXY_ENTRY* entry, const DNS_LOOKUP_MSG* msg) {
    if (strcasecmp(entry->hdr_req->method, "CONNECT") != 0) return false;
    const AIO_PROXY_IMPL* impl = entry->proxy->impl;
    if (entry->port != impl->listen_port) return false;
    bool any = impl->listen_ip == "0.0.0.0" || impl->listen_ip.empty();
    for (int i = 0; i < msg->ip_cnt; ++i) {
        if (any || impl->listen_ip == msg->ip[i]) return true;
    }
    return false;
}

void dns_lookup_complte(const DNS_LOOKUP_MSG* msg) {
    const char* myname = "dns_lookup_complte";
    auto* proxy = static_cast<AIO_PROXY*>(msg->ctx);
    auto& pending = proxy->impl->pending;
    auto found = pending.find(msg->domain);
    if (found == pending.end()) {
        acl_msg_warn("%s: domain(%s) not found maybe handled", myname, msg->domain);
        return;
    }
    DOMAIN_WAITER* waiter = found->second;
    // Taken out of the table first: a connection that fails at once and is
    // resent looks the domain up again and must start a fresh wait.
    pending.erase(found);

    int spent = static_cast<int>(time(nullptr)) - msg->begin;
    if (spent >= 5)
        acl_msg_warn("%s(%d): dns search time=%d, domain(%s)", myname, __LINE__, spent,
                     msg->domain);

    std::vector<APROXY_ENTRY*> entries;
    entries.swap(waiter->entries);
    for (APROXY_ENTRY* entry : entries) {
        waiter->nrefer--;
        entry->tm_dns = aproxy_entry_stamp(entry);
        if (msg->ip_cnt <= 0) {
            acl_msg_error("%s(%d): dns not found domain(%s)", myname, __LINE__, msg->domain);
            if (entry->client == nullptr) {
                aproxy_entry_close(entry);
                continue;
            }
            entry->error_sent = 1;
            aproxy_reply(entry, PROXY_REPLY_DNS_ERROR);
            aproxy_entry_close(entry);
            continue;
        }
        for (int i = 0; i < msg->ip_cnt; ++i)
            acl_debug(20, 2)("%s(%d): domain(%s), ip%d(%s)", myname, __LINE__, msg->domain, i,
                             msg->ip[i]);
        if (tunnels_to_self(entry, msg)) {
            acl_debug(20, 0)("%s(%d): loop tested, CONNECT %s:%d", myname, __LINE__, msg->domain,
                             entry->port);
            entry->error_sent = 1;
            aproxy_reply(entry, PROXY_REPLY_LOOP);
            aproxy_entry_close(entry);
            continue;
        }
        std::memcpy(entry->dns.domain, msg->domain, sizeof(entry->dns.domain));
        std::memcpy(entry->dns.ip, msg->ip, sizeof(entry->dns.ip));
        entry->dns.ip_cnt = msg->ip_cnt;
        entry->ip_idx = 0;
        forward_start(entry);
    }
    if (waiter->nrefer != 0)
        acl_msg_fatal("%s(%d): list's nrefer=%d", myname, __LINE__, waiter->nrefer);
    delete waiter;
}

// ------------------------------------------------------------------ connecting

int forward_connect_callback(ACL_ASTREAM* server, void* ctx);
int connect_close_callback(ACL_ASTREAM* server, void* ctx);
int connect_timeout_callback(ACL_ASTREAM* server, void* ctx);
void send_request_header(APROXY_ENTRY* entry);
void tunnel_start(APROXY_ENTRY* entry);

ACL_ASTREAM* forward_connect_next(APROXY_ENTRY* entry) {
    const char* myname = "forward_connect_next";
    while (entry->ip_idx < entry->dns.ip_cnt) {
        std::string text =
            std::string(entry->dns.ip[entry->ip_idx]) + ":" + std::to_string(entry->port);
        if (text.size() > 63) text.resize(63);
        const char* addr = text.c_str();
        int i = entry->ip_idx++;
        acl_debug(23, 2)("%s(%d): domain(%s), addr(%s)", myname, __LINE__, entry->domain, addr);
        ACL_ASTREAM* server = acl_aio_connect(entry->proxy->aio, addr, entry->proxy->conn_timeout);
        if (server != nullptr) return server;
        acl_msg_error("%s: connect server_addr(%s), domain(%s), i=%d", myname, addr, entry->domain,
                      i);
    }
    return nullptr;
}

const char* last_addr(const APROXY_ENTRY* entry) {
    return entry->ip_idx > 0 ? entry->dns.ip[entry->ip_idx - 1] : "";
}

// Connect failed (close) or timed out on `server`; `timed_out` tells which.
int connect_failed(ACL_ASTREAM* server, APROXY_ENTRY* entry, bool timed_out) {
    const char* myname = timed_out ? "connect_timeout_callback" : "connect_close_callback";
    if (entry->error_sent) return -1;
    if (entry->ip_idx < entry->dns.ip_cnt) {
        acl_debug(23, 1)("%s(%d): begin to connect next ip(%s:%d)", myname, __LINE__,
                         entry->dns.ip[entry->ip_idx], entry->port);
        if (aproxy_entry_detach(entry, acl_aio_vstream(server))) {
            acl_debug(23, 1)("%s(%d): entry's freed", myname, __LINE__);
            return -1;
        }
        forward_start(entry);
        return -1;
    }
    entry->tm_connect = aproxy_entry_stamp(entry);
    if (entry->ip_idx == 0) {
        acl_msg_error("%s(%d): internal error, ip_idx=0, domain(%s:%d)", myname, __LINE__,
                      entry->domain, entry->port);
    } else if (timed_out) {
        acl_debug(23, 0)("%s(%d): connect timeout, addr(%s:%d)", myname, __LINE__, last_addr(entry),
                         entry->port);
    } else {
        acl_debug(23, 0)("%s(%d): connect error, addr(%s:%d), domain(%s)", myname, __LINE__,
                         last_addr(entry), entry->port, entry->domain);
    }
    if (entry->client == nullptr) {
        acl_msg_error("%s(%d): client null", myname, __LINE__);
        return -1;
    }
    entry->error_sent = 1;
    aproxy_reply(entry, timed_out ? PROXY_REPLY_CONNECT_TIMEOUT : PROXY_REPLY_CONNECT_ERROR);
    // The failed stream closes now; its close handle ends the browser side
    // once the reply is out.
    return -1;
}

int connect_close_callback(ACL_ASTREAM* server, void* ctx) {
    connect_failed(server, static_cast<APROXY_ENTRY*>(ctx), false);
    return 0;
}

int connect_timeout_callback(ACL_ASTREAM* server, void* ctx) {
    // The close that follows must not count as a second failure.
    acl_aio_ctl(server, ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN,
                (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_CTX, (void*)nullptr, ACL_AIO_CTL_END);
    return connect_failed(server, static_cast<APROXY_ENTRY*>(ctx), true);
}

int forward_connect_callback(ACL_ASTREAM* server, void* ctx) {
    const char* myname = "forward_connect_callback";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    entry->tm_connect = aproxy_entry_stamp(entry);
    if (entry->client == nullptr) acl_msg_fatal("%s(%d): client null", myname, __LINE__);
    // Connected: a later close or time-out is no failed connect attempt.
    acl_aio_ctl(server, ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN,
                (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_END);
    if (strcasecmp(entry->hdr_req->method, "CONNECT") == 0) {
        acl_aio_writen(entry->client, PROXY_REPLY_TUNNEL_OK,
                       static_cast<int>(strlen(PROXY_REPLY_TUNNEL_OK)));
        if (entry->client && entry->server) {
            tunnel_start(entry);
            return 0;
        }
        return -1;
    }
    // Every other method travels like GET and POST, its body framed as the
    // request header says.
    send_request_header(entry);
    return 0;
}

// ------------------------------------------------------------------ request

// Sends body bytes to the server and keeps them for a resend while they fit.
void body_send(APROXY_ENTRY* entry, const char* data, int dlen) {
    if (dlen <= 0) return;
    if (!entry->body_dropped) {
        if (entry->body_copy.size() + static_cast<size_t>(dlen) <= APROXY_RESEND_BODY_MAX) {
            entry->body_copy.append(data, static_cast<size_t>(dlen));
        } else {
            entry->body_dropped = 1;
            std::string().swap(entry->body_copy);
        }
    }
    aproxy_server_write(entry, data, dlen);
}

// A chunked body leaves in one plain form: each size line as bare hex, the
// line break after each chunk as CRLF, and no trailer fields. The server
// then reads the body exactly as we did, whatever spelling the browser used.
void chunked_piece(APROXY_ENTRY* entry, int status, const char* data, int dlen) {
    if (status == HTTP_CHAT_CHUNK_HDR) {
        int64_t size = 0;
        if (http_body_chunk_size(data, static_cast<size_t>(dlen), &size) < 0) return;
        char line[32];
        int n = snprintf(line, sizeof(line), "%llx\r\n", static_cast<unsigned long long>(size));
        body_send(entry, line, n);
    } else if (status == HTTP_CHAT_CHUNK_TRAILER) {
        if (entry->http_req->body->state == HTTP_BODY_DONE) body_send(entry, "\r\n", 2);
    } else if (entry->http_req->body->state == HTTP_BODY_CHUNK_SIZE) {
        body_send(entry, "\r\n", 2);  // the line break that ended a chunk
    } else {
        body_send(entry, data, dlen);
    }
}

int request_body_ready(int status, char* data, int dlen, void* ctx) {
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (status >= HTTP_CHAT_ERR_MIN) {
        entry->tm_send_req = aproxy_entry_stamp(entry);
        return -1;
    }
    if (status == HTTP_CHAT_OK) {
        entry->tm_send_req = aproxy_entry_stamp(entry);
        entry->body_done = 1;
        get_respond_header(entry);
        return 0;
    }
    if (entry->server == nullptr) {
        entry->tm_send_req = aproxy_entry_stamp(entry);
        return -1;
    }
    if (entry->hdr_req->hdr.chunked)
        chunked_piece(entry, status, data, dlen);
    else
        body_send(entry, data, dlen);
    if (entry->server == nullptr) return -1;  // the server went away during the write
    aproxy_flow_wrote(entry, APROXY_FLOW_UP);
    return 0;
}

int request_header_sent(ACL_ASTREAM*, void* ctx) {
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    entry->tm_send_req = aproxy_entry_stamp(entry);
    const HTTP_HDR& hdr = entry->hdr_req->hdr;
    if (entry->body_done) {
        // A resend: the body was read before and is sent again from the copy.
        // This callback must not run again when that write has left.
        acl_aio_ctl(entry->server, ACL_AIO_CTL_WRITE_FN, (ACL_AIO_WRITE_FN) nullptr,
                    ACL_AIO_CTL_END);
        if (!entry->body_copy.empty())
            aproxy_server_write(entry, entry->body_copy.data(),
                                static_cast<int>(entry->body_copy.size()));
        if (entry->server) get_respond_header(entry);
        return 0;
    }
    if (hdr.content_length > 0 || hdr.chunked) {
        entry->http_req = http_req_new(entry->hdr_req);
        if (hdr.chunked || hdr.content_length > ACL_VSTREAM_BUFSIZE)
            aproxy_body_buffer(entry->client);
        acl_aio_ctl(entry->server, ACL_AIO_CTL_WRITE_FN, aproxy_server_drained,
                    ACL_AIO_CTL_CLOSE_FN, (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN,
                    (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_END);
        aproxy_entry_stamp(entry);
        http_req_body_get_async(entry->http_req, entry->client, request_body_ready, entry,
                                entry->proxy->rw_timeout);
    } else {
        entry->body_done = 1;
        get_respond_header(entry);
    }
    return 0;
}

void send_request_header(APROXY_ENTRY* entry) {
    const char* myname = "send_request_header";
    HTTP_HDR* hdr = &entry->hdr_req->hdr;
    aproxy_drop_hop_fields(hdr);
    http_hdr_put_str(hdr, "Connection", "close");
    if (entry->proxy->cap_title) http_hdr_entry_off(hdr, "Accept-Encoding");
    entry->obuf.clear();
    http_hdr_build_request(entry->hdr_req, entry->obuf);
    if (entry->server == nullptr) acl_msg_fatal("%s(%d): server null", myname, __LINE__);
    acl_aio_ctl(entry->server, ACL_AIO_CTL_WRITE_FN, request_header_sent, ACL_AIO_CTL_CLOSE_FN,
                (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr,
                ACL_AIO_CTL_END);
    aproxy_entry_stamp(entry);
    aproxy_server_write(entry, entry->obuf.data(), static_cast<int>(entry->obuf.size()));
}

// ------------------------------------------------------------------ tunnel

int read_callback(ACL_ASTREAM* stream, void* ctx, char* data, int dlen) {
    const char* myname = "read_callback";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (acl_aio_isrset(stream)) acl_msg_fatal("%s: acl_aio_isrset return true", myname);
    if (dlen < 1) acl_msg_fatal("%s: dlen(%d) invalid", myname, dlen);
    // A read that filled the default buffer means bulk data: that side reads
    // 64 KiB per call from now on. Quiet tunnels keep the small buffer.
    ACL_VSTREAM* vs = acl_aio_vstream(stream);
    if (vs && static_cast<size_t>(dlen) >= acl_vstream_bufsize(vs) && dlen < APROXY_BODY_BUFSIZE)
        aproxy_body_buffer(stream);
    if (stream == entry->client) {
        if (entry->server == nullptr) {
            acl_msg_error("%s: entry->server null", myname);
            return -1;
        }
        acl_aio_writen(entry->server, data, dlen);
        if (entry->server == nullptr) return -1;
        aproxy_flow_wrote(entry, APROXY_FLOW_UP);
        acl_aio_read(entry->client);
    } else if (stream == entry->server) {
        if (entry->client == nullptr) {
            acl_msg_error("%s: entry->client null", myname);
            return -1;
        }
        acl_aio_writen(entry->client, data, dlen);
        if (entry->client == nullptr) return -1;
        aproxy_flow_wrote(entry, APROXY_FLOW_DOWN);
        acl_aio_read(entry->server);
    } else {
        acl_msg_error("%s: stream invalid", myname);
        acl_aio_read(stream);
    }
    return 0;
}

int io_close_fn(ACL_ASTREAM* stream, void* ctx) {
    const char* myname = "io_close_fn";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (stream != entry->client && stream != entry->server) {
        acl_msg_info("not connected");
        return 0;
    }
    acl_debug(22, 2)("%s: error to stream", myname);
    // The stream's close handle closes the other side and ends the record.
    return 0;
}

int io_timeout_fn(ACL_ASTREAM* stream, void* ctx) {
    const char* myname = "io_timeout_fn";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (stream != entry->client && stream != entry->server) {
        acl_msg_info("not connected");
        return -1;
    }
    acl_msg_info("%s: timeout to stream", myname);
    return -1;
}

void tunnel_start(APROXY_ENTRY* entry) {
    for (ACL_ASTREAM* s : {entry->client, entry->server}) {
        ACL_AIO_WRITE_FN drained =
            s == entry->client ? aproxy_client_drained : aproxy_server_drained;
        acl_aio_ctl(s, ACL_AIO_CTL_READ_FN, read_callback, ACL_AIO_CTL_WRITE_FN, drained,
                    ACL_AIO_CTL_CLOSE_FN, io_close_fn, ACL_AIO_CTL_TIMEO_FN, io_timeout_fn,
                    ACL_AIO_CTL_TIMEOUT, entry->proxy->rw_timeout, ACL_AIO_CTL_CTX,
                    static_cast<void*>(entry), ACL_AIO_CTL_END);
    }
    acl_aio_read(entry->client);
    if (entry->server) acl_aio_read(entry->server);
}

}  // namespace

// ------------------------------------------------------------------ shared steps

void search_dns(APROXY_ENTRY* entry) {
    const char* myname = "search_dns";
    AIO_PROXY* proxy = entry->proxy;
    aproxy_entry_stamp(entry);

    char domain[DNS_DOMAIN_LEN];
    size_t len = strnlen(entry->hdr_req->host, sizeof(domain) - 1);
    std::memcpy(domain, entry->hdr_req->host, len);
    domain[len] = 0;
    if (char* colon = strchr(domain, ':')) *colon = 0;
    for (char* p = domain; *p; ++p)
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    snprintf(entry->domain, sizeof(entry->domain), "%s", domain);
    entry->port = entry->hdr_req->port < 1 ? 80 : entry->hdr_req->port;

    auto& pending = proxy->impl->pending;
    auto found = pending.find(domain);
    if (found != pending.end()) {
        found->second->entries.push_back(entry);
        found->second->nrefer++;
        return;
    }
    auto* waiter = new DOMAIN_WAITER;
    waiter->domain = domain;
    waiter->entries.push_back(entry);
    waiter->nrefer = 1;
    if (!pending.emplace(domain, waiter).second)
        acl_msg_fatal("%s: add domain(%s) to table error", myname, domain);

    DNS_LOOKUP_MSG msg{};
    snprintf(msg.domain, sizeof(msg.domain), "%s", domain);
    msg.begin = static_cast<int>(time(nullptr));
    msg.callback = dns_lookup_complte;
    msg.ctx = proxy;
    dns_server_lookup(proxy->dns_server, &msg);
}

void forward_start(APROXY_ENTRY* entry) {
    const char* myname = "forward_start";
    ACL_ASTREAM* server = forward_connect_next(entry);
    if (server == nullptr) {
        acl_msg_error("%s: connect server_addr(%s:%d)", myname, entry->domain, entry->port);
        aproxy_entry_close(entry);
        return;
    }
    aproxy_entry_attach_server(entry, server);
    entry->server_out = 0;
    acl_aio_ctl(server, ACL_AIO_CTL_CONNECT_FN, forward_connect_callback, ACL_AIO_CTL_CLOSE_FN,
                connect_close_callback, ACL_AIO_CTL_TIMEO_FN, connect_timeout_callback,
                ACL_AIO_CTL_CTX, static_cast<void*>(entry), ACL_AIO_CTL_END);
}

int aio_proxy_reforward(APROXY_ENTRY* entry) {
    const char* myname = "aio_proxy_reforward";
    if (entry->retries >= AIO_PROXY_MAX_RETRY) {
        acl_msg_error("%s: has retried before", myname);
        return -1;
    }
    if (entry->body_dropped) {
        // The body has left and is not kept: it cannot be sent again.
        acl_msg_error("%s: request body over %d bytes, not resent", myname, APROXY_RESEND_BODY_MAX);
        return -1;
    }
    entry->retries++;
    if (http_hdr_req_parse_all(entry->hdr_req) < 0) {
        acl_msg_error("%s: parse hdr_req error", myname);
        return -1;
    }
    if (entry->server) aproxy_entry_detach(entry, acl_aio_vstream(entry->server));
    acl_debug(21, 2)("%s(%d): begin retry, url(http://%s%s)", myname, __LINE__,
                     entry->hdr_req->host, entry->hdr_req->url_part.c_str());
    search_dns(entry);
    return 0;
}
