// The connection record: creation, the two attached sides, and its teardown.
#include "proxy_entry.h"

#include <cstring>

#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_req.h"
#include "http_res.h"

namespace {

void entry_free(APROXY_ENTRY* entry) {
    aproxy_reading_done(entry);
    aproxy_flow_cancel(entry);
    aproxy_relay_cancel(entry);
    http_hdr_req_free(entry->hdr_req);
    if (entry->hdr_res) http_hdr_res_free(entry->hdr_res);
    if (entry->http_req) http_req_free(entry->http_req);
    if (entry->http_res) http_res_free(entry->http_res);
    delete entry;
}

// A side's stream closed: clear that side, close the other one, free the
// record with the last side.
void proxy_entry_free(APROXY_ENTRY* entry, ACL_VSTREAM* stream) {
    const char* myname = "proxy_entry_free";
    ACL_ASTREAM* other = nullptr;
    if (entry->client && acl_aio_vstream(entry->client) == stream) {
        entry->client = nullptr;
        other = entry->server;
    } else if (entry->server && acl_aio_vstream(entry->server) == stream) {
        entry->server = nullptr;
        other = entry->client;
    } else {
        acl_msg_error("%s(%d): unknown stream", myname, __LINE__);
        return;
    }
    entry->nrefer--;
    if (entry->nrefer == 0) {
        if (entry->client || entry->server) acl_msg_fatal("%s: why?", myname);
        entry_free(entry);
        return;
    }
    // The other side's close handle finishes the record.
    if (other) acl_aio_iocp_close(other);
}

void onclose_stream(ACL_VSTREAM* stream, void* ctx) {
    const char* myname = "onclose_stream";
    auto* entry = static_cast<APROXY_ENTRY*>(ctx);
    if (entry == nullptr) acl_msg_fatal("%s: context null", myname);
    proxy_entry_free(entry, stream);
}

}  // namespace

int aproxy_return_zero(ACL_ASTREAM*, void*) { return 0; }
int aproxy_return_neg(ACL_ASTREAM*, void*) { return -1; }

APROXY_ENTRY* aproxy_entry_new(AIO_PROXY* proxy, ACL_ASTREAM* client) {
    auto* entry = new APROXY_ENTRY{};
    entry->proxy = proxy;
    entry->client = client;
    entry->nrefer = 1;
    entry->tm_begin = entry->tm_stamp = time(nullptr);
    entry->hdr_req = http_hdr_req_new();
    entry->obuf.reserve(APROXY_OBUF);
    entry->page_buf.reserve(proxy->cap_title ? APROXY_PAGE_BUF : 0);
    acl_vstream_add_close_handle(acl_aio_vstream(client), onclose_stream, entry);
    return entry;
}

void aproxy_entry_attach_server(APROXY_ENTRY* entry, ACL_ASTREAM* server) {
    entry->server = server;
    entry->nrefer++;
    acl_vstream_add_close_handle(acl_aio_vstream(server), onclose_stream, entry);
}

int aproxy_entry_detach(APROXY_ENTRY* entry, ACL_VSTREAM* stream) {
    const char* myname = "aproxy_entry_detach";
    if (entry->client && acl_aio_vstream(entry->client) == stream) {
        entry->client = nullptr;
    } else if (entry->server && acl_aio_vstream(entry->server) == stream) {
        entry->server = nullptr;
    } else {
        acl_msg_error("%s(%d): unknown stream", myname, __LINE__);
        return 0;
    }
    acl_vstream_delete_close_handle(stream, onclose_stream, entry);
    entry->nrefer--;
    if (entry->nrefer == 0) {
        entry_free(entry);
        return 1;
    }
    return 0;
}

void aproxy_entry_close(APROXY_ENTRY* entry) {
    // Closing one side closes the other through the close handle; closing
    // the server first lets pending browser output leave before the end.
    if (entry->server)
        acl_aio_iocp_close(entry->server);
    else if (entry->client)
        acl_aio_iocp_close(entry->client);
}

void aproxy_entry_hold(APROXY_ENTRY* entry) { entry->nrefer++; }

int aproxy_entry_release(APROXY_ENTRY* entry) {
    if (--entry->nrefer > 0) return 0;
    if (entry->client || entry->server) acl_msg_fatal("%s: why?", "aproxy_entry_release");
    entry_free(entry);
    return 1;
}

int aproxy_entry_stamp(APROXY_ENTRY* entry) {
    time_t now = time(nullptr);
    int spent = static_cast<int>(now - entry->tm_stamp);
    entry->tm_stamp = now;
    return spent;
}

void aproxy_body_buffer(ACL_ASTREAM* astream) {
    if (ACL_VSTREAM* vs = acl_aio_vstream(astream))
        acl_vstream_set_bufsize(vs, APROXY_BODY_BUFSIZE);
}

void aproxy_reply(APROXY_ENTRY* entry, const char* reply) {
    // The browser side may have waited without a timeout (watching for its
    // hang-up): the reply gets the read/write timeout.
    acl_aio_ctl(entry->client, ACL_AIO_CTL_WRITE_FN, (ACL_AIO_WRITE_FN) nullptr,
                ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_TIMEOUT,
                entry->proxy->rw_timeout, ACL_AIO_CTL_END);
    acl_aio_writen(entry->client, reply, static_cast<int>(strlen(reply)));
}

void aproxy_server_write(APROXY_ENTRY* entry, const char* data, int dlen) {
    if (dlen <= 0 || entry->server == nullptr) return;
    entry->server_out += dlen;
    acl_aio_writen(entry->server, data, dlen);
}
