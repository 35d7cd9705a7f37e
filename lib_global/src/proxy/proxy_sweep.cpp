// The whole-header deadline: a browser that sends its request header a byte
// at a time keeps each read within the read timeout, so only a limit on the
// whole header bounds how long it can hold a connection. Once a second the
// sweep looks at every record still reading its header: it notes when the
// first bytes arrived and closes those whose header took longer than
// hdr_timeout since then. A connection that sends nothing is left to the
// read timeout.
#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_hdr_req.h"
#include "proxy_entry.h"

namespace {

bool header_started(const APROXY_ENTRY* entry) {
    if (entry->hdr_req->hdr.bytes > 0 || entry->hdr_req->hdr.cur_lines > 0) return true;
    ACL_ASTREAM* client = entry->client;
    if (client == nullptr) return false;
    if (acl_aio_read_collected(client) > 0) return true;
    ACL_VSTREAM* vs = acl_aio_vstream(client);
    return vs != nullptr && ACL_VSTREAM_BFRD_CNT(vs) > 0;
}

void sweep_timer(int, ACL_EVENT*, void* ctx) {
    const char* myname = "sweep_timer";
    auto* proxy = static_cast<AIO_PROXY*>(ctx);
    proxy->impl->sweep_timer = 0;
    time_t now = aproxy_now(proxy);
    std::vector<APROXY_ENTRY*> late;
    for (APROXY_ENTRY* entry : proxy->impl->reading) {
        if (entry->hdr_first_byte == 0) {
            if (header_started(entry)) entry->hdr_first_byte = now;
        } else if (now - entry->hdr_first_byte >= proxy->hdr_timeout) {
            late.push_back(entry);
        }
    }
    for (APROXY_ENTRY* entry : late) {
        acl_msg_warn("%s: request header not complete within %d seconds", myname,
                     proxy->hdr_timeout);
        aproxy_reading_done(entry);
        aproxy_entry_close(entry);
    }
    aproxy_sweep_start(proxy);
}

}  // namespace

void aproxy_reading_done(APROXY_ENTRY* entry) { entry->proxy->impl->reading.erase(entry); }

void aproxy_sweep_start(AIO_PROXY* proxy) {
    if (proxy->impl->sweep_timer) return;
    proxy->impl->sweep_timer = 1;
    acl_aio_request_timer(proxy->aio, sweep_timer, proxy, 1);
}

time_t aproxy_now(const AIO_PROXY* proxy) {
    return proxy->clock != nullptr ? proxy->clock() : time(nullptr);
}
