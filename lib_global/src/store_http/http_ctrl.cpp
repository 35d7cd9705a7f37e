// The HTTP controller: its operations and the completion hand-off.
#include "store_http/http_ctrl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acl_msg.h"
#include "acl_workq.h"
#include "store/store_stat.h"
#include "store/store_time.h"
#include "store_http/http_ctrl_entry.h"
#include "store_http/http_worker.h"

namespace {

void add_rc_thread(int, ACL_WORKER_ATTR* attr) {
    auto* rc = static_cast<HTTP_COMPLETION*>(attr->job_arg);
    char line[STORE_STAT_LINE_MAX];
    store_stat_line(line, sizeof(line), rc->uid, rc->rc, rc->content_length, rc->http_len,
                    rc->http_avr_speed, rc->p2p_len, rc->p2p_avr_speed);
    acl_debug(STORE_HTTP_DEBUG_SECTION, 2)(
        "%s(%d): rc=%s, total len=%llu; http: len=%llu, avr speed=%lu, cur speed=%lu", __func__,
        __LINE__, rc->rc, static_cast<unsigned long long>(rc->content_length),
        static_cast<unsigned long long>(rc->http_len),
        static_cast<unsigned long>(rc->http_avr_speed),
        static_cast<unsigned long>(rc->http_cur_speed));
    acl_debug(STORE_HTTP_DEBUG_SECTION, 2)(
        "%s(%d): p2p download status, len=%llu, avr speed=%lu, cur speed=%lu", __func__, __LINE__,
        static_cast<unsigned long long>(rc->p2p_len), static_cast<unsigned long>(rc->p2p_avr_speed),
        static_cast<unsigned long>(rc->p2p_cur_speed));
    if (rc->ctrl->on_resource != nullptr) rc->ctrl->on_resource(rc);
    http_logger_write(rc->ctrl, line);
    std::free(rc);
}

int http_on_complete(STORE_CTRL_ENTRY* entry) {
    auto* ctrl = reinterpret_cast<HTTP_CTRL*>(entry->ctrl);
    auto* he = reinterpret_cast<HTTP_CTRL_ENTRY*>(entry);
    auto* rc = static_cast<HTTP_COMPLETION*>(std::calloc(1, sizeof(HTTP_COMPLETION)));
    if (rc == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    rc->ctrl = ctrl;
    rc->uid = ctrl->uid;
    std::snprintf(rc->rc, sizeof(rc->rc), "%s", entry->id);
    std::snprintf(rc->path, sizeof(rc->path), "%s", entry->path);
    std::snprintf(rc->caption, sizeof(rc->caption), "%s", he->caption);
    rc->content_length = static_cast<uint64_t>(entry->content_length);
    rc->http_len = static_cast<uint64_t>(entry->http_bytes);
    rc->http_avr_speed = static_cast<unsigned>(entry->avr_speed);
    rc->http_cur_speed = static_cast<unsigned>(entry->cur_speed);
    if (acl_workq_add(ctrl->ctrl.wq, add_rc_thread, 0, rc) != 0) {
        acl_msg_error("%s(%d): add hand-off job error", __func__, __LINE__);
        std::free(rc);
    }
    return 0;
}

// P2P messages are handled here once the P2P worker exists; every other
// worker message goes to the generic table.
int http_worker_hook(int, STORE_CTRL*, void*) { return 0; }

int http_client_hook(int, STORE_CTRL*, void*) { return 0; }

}  // namespace

HTTP_CTRL* http_ctrl_create(ACL_WORKQ* wq, const char* cache_dir, const char* session_ip,
                            int session_port) {
    auto* ctrl = reinterpret_cast<HTTP_CTRL*>(store_ctrl_alloc(wq, sizeof(HTTP_CTRL)));
    STORE_CTRL_OPS& ops = ctrl->ctrl.ops;
    ops.ctrl_entry_new = http_ctrl_entry_new;
    ops.ctrl_entry_free = http_ctrl_entry_free;
    ops.on_complete = http_on_complete;
    ops.first_worker_create = http_first_worker_create;
    ops.worker_create = http_worker_create;
    ops.worker_free = http_worker_free;
    ops.worker_start = http_worker_start;
    ops.worker_read = http_worker_read;
    ctrl->ctrl.client_hook = http_client_hook;
    ctrl->ctrl.worker_hook = http_worker_hook;
    ctrl->ctime = store_time_now();
    std::snprintf(ctrl->cache_dir, sizeof(ctrl->cache_dir), "%s",
                  cache_dir != nullptr && *cache_dir != '\0' ? cache_dir : HTTP_CTRL_DEFAULT_DIR);
    ctrl->use_p2p = session_ip != nullptr && *session_ip != '\0' && session_port > 0;
    ctrl->p2p_ok = 0;
    return ctrl;
}

void http_ctrl_set_rc_hook(HTTP_CTRL* ctrl, HTTP_CTRL_RC_FN fn) { ctrl->on_resource = fn; }

void http_ctrl_set_logger(HTTP_CTRL* ctrl, const char* ip, int port) {
    std::snprintf(ctrl->logsvr_addr, sizeof(ctrl->logsvr_addr), "%s:%d", ip, port);
}

int http_logger_write(HTTP_CTRL* ctrl, const char* line) {
    return store_logger_write(ctrl->logsvr_addr, line);
}

void http_ctrl_free(HTTP_CTRL* ctrl) { store_ctrl_free(&ctrl->ctrl); }
