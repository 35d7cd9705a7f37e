// Flow control between the two sides of a connection.
#include "acl_aio.h"
#include "acl_aio_flow.h"
#include "proxy_entry.h"

namespace {

ACL_ASTREAM* reading_side(APROXY_ENTRY* entry, int dir) {
    return dir == APROXY_FLOW_DOWN ? entry->server : entry->client;
}

ACL_ASTREAM* writing_side(APROXY_ENTRY* entry, int dir) {
    return dir == APROXY_FLOW_DOWN ? entry->client : entry->server;
}

void pause_now(APROXY_ENTRY* entry, int dir) {
    APROXY_FLOW& f = entry->flow[dir];
    f.timer = 0;
    ACL_ASTREAM* from = reading_side(entry, dir);
    if (f.backed_up && from && acl_aio_isrset(from)) {
        acl_aio_disable_read(from);
        f.paused = 1;
    }
}

void flow_timer_down(int, ACL_EVENT*, void* ctx) {
    pause_now(static_cast<APROXY_ENTRY*>(ctx), APROXY_FLOW_DOWN);
}

void flow_timer_up(int, ACL_EVENT*, void* ctx) {
    pause_now(static_cast<APROXY_ENTRY*>(ctx), APROXY_FLOW_UP);
}

ACL_EVENT_NOTIFY_TIME timer_of(int dir) {
    return dir == APROXY_FLOW_DOWN ? flow_timer_down : flow_timer_up;
}

}  // namespace

void aproxy_flow_wrote(APROXY_ENTRY* entry, int dir) {
    APROXY_FLOW& f = entry->flow[dir];
    ACL_ASTREAM* to = writing_side(entry, dir);
    if (f.backed_up || to == nullptr || acl_aio_write_left(to) <= APROXY_FLOW_HIGH_WATER) return;
    f.backed_up = 1;
    f.timer = 1;
    acl_aio_request_timer(entry->proxy->aio, timer_of(dir), entry, 0);
}

void aproxy_flow_drained(APROXY_ENTRY* entry, int dir) {
    APROXY_FLOW& f = entry->flow[dir];
    if (!f.backed_up) return;
    f.backed_up = 0;
    if (f.timer) {
        f.timer = 0;
        acl_aio_cancel_timer(entry->proxy->aio, timer_of(dir), entry);
    }
    if (f.paused) {
        f.paused = 0;
        acl_aio_enable_read(reading_side(entry, dir));
    }
}

void aproxy_flow_reset(APROXY_ENTRY* entry, int dir) {
    if (entry->flow[dir].timer) acl_aio_cancel_timer(entry->proxy->aio, timer_of(dir), entry);
    entry->flow[dir] = APROXY_FLOW{};
}

void aproxy_flow_cancel(APROXY_ENTRY* entry) {
    aproxy_flow_reset(entry, APROXY_FLOW_DOWN);
    aproxy_flow_reset(entry, APROXY_FLOW_UP);
}

int aproxy_client_drained(ACL_ASTREAM*, void* ctx) {
    aproxy_flow_drained(static_cast<APROXY_ENTRY*>(ctx), APROXY_FLOW_DOWN);
    return 0;
}

int aproxy_server_drained(ACL_ASTREAM*, void* ctx) {
    aproxy_flow_drained(static_cast<APROXY_ENTRY*>(ctx), APROXY_FLOW_UP);
    return 0;
}
