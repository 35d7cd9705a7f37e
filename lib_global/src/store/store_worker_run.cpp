// The generic worker thread and its conversation with the controller.
#include <algorithm>

#include "acl_msg.h"
#include "store/store_ctrl.h"
#include "store/store_msg.h"
#include "store/store_msg_queue.h"
#include "store/store_time.h"
#include "store/store_worker.h"

namespace {

void send(STORE_CTRL* ctrl, int type, STORE_WORKER* w) {
    store_msg_queue_push(ctrl->queue, store_msg_worker(type, w));
}

bool bounded(const STORE_WORKER* w) { return w->off_dlen >= 0; }

// Pops the next answer, which must be `want`.
void expect_answer(STORE_WORKER* w, int want, const char* want_name) {
    STORE_MSG* msg = store_msg_queue_pop(w->queue);
    if (msg == nullptr) acl_msg_fatal("%s(%d): msg pop null", __func__, __LINE__);
    store_msg_check_ctx(msg, w, __func__, __LINE__);
    int type = msg->type;
    store_msg_free(msg);
    if (type != want)
        acl_msg_fatal("%s(%d): control msg(%d) != %s(%d)", __func__, __LINE__, type, want_name,
                      want);
}

void store_worker_eopen(STORE_CTRL* ctrl, STORE_WORKER* w) {
    send(ctrl, MSG_WORKER_EOPEN, w);
    expect_answer(w, MSG_CTRL_STOP, "MSG_CTRL_STOP");
    send(ctrl, MSG_WORKER_QUIT, w);
    expect_answer(w, MSG_CTRL_BYE, "MSG_CTRL_BYE");
}

void store_worker_ready(STORE_CTRL* ctrl, STORE_WORKER* w) {
    if (w->from < w->off_begin)
        acl_msg_fatal("%s(%d): from(%d) < off_begin(%d)", __func__, __LINE__,
                      static_cast<int>(w->from), static_cast<int>(w->off_begin));
    if (w->dlen <= 0)
        acl_msg_warn("%s(%d): dlen(%d) <= 0", __func__, __LINE__, static_cast<int>(w->dlen));
    if (bounded(w) && w->from + w->dlen > w->off_begin + w->off_dlen)
        acl_msg_fatal("%s(%d): from(%d) + dlen(%d) = (%d) > off_begin(%d) + off_dlen(%d) = (%d)",
                      __func__, __LINE__, static_cast<int>(w->from), static_cast<int>(w->dlen),
                      static_cast<int>(w->from + w->dlen), static_cast<int>(w->off_begin),
                      static_cast<int>(w->off_dlen), static_cast<int>(w->off_begin + w->off_dlen));
    send(ctrl, MSG_WORKER_READY, w);
}

void msg_goon(STORE_CTRL* ctrl, STORE_WORKER* w) {
    if (bounded(w) && w->from >= w->off_begin + w->off_dlen) {
        w->dlen = -1;
    } else {
        if (w->buf_size <= 0 || w->data == nullptr)
            acl_msg_fatal("%s(%d): buf_size %d, data %s", __func__, __LINE__, w->buf_size,
                          w->data ? "not null" : "null");
        int64_t want = w->buf_size;
        if (bounded(w)) want = std::min<int64_t>(want, w->off_begin + w->off_dlen - w->from);
        w->dlen = ctrl->ops.worker_read(w, w->data, static_cast<int>(want));
    }
    if (w->dlen == -1) {
        acl_debug(STORE_DEBUG_SECTION, 2)("%s: read error, id=%d, from=%lld, send QUIT MSG to ctrl",
                                          __func__, w->id, static_cast<long long>(w->from));
        send(ctrl, MSG_WORKER_QUIT, w);
        return;
    }
    store_worker_ready(ctrl, w);
}

}  // namespace

void store_worker_start(STORE_CTRL* ctrl, STORE_WORKER* worker, int first) {
    worker->first = first;
    if (!first && ctrl->ops.worker_start(worker) == -1) {
        store_worker_eopen(ctrl, worker);
        return;
    }
    if (!worker->support_range) {
        send(ctrl, MSG_WORKER_REST_OFF, worker);
        if (!first) {
            acl_debug(STORE_DEBUG_SECTION, 2)("%s(%d): server can't support range download",
                                              __func__, __LINE__);
            store_worker_eopen(ctrl, worker);
            return;
        }
    }
    send(ctrl, MSG_WORKER_OPEN, worker);
    store_msg_queue_push(worker->queue, store_msg_ctrl(MSG_CTRL_GOON, worker));
    for (;;) {
        STORE_MSG* msg = store_msg_queue_pop(worker->queue);
        if (msg == nullptr) acl_msg_fatal("%s(%d): msg pop null", __func__, __LINE__);
        store_msg_check_ctx(msg, worker, __func__, __LINE__);
        int type = msg->type;
        store_msg_free(msg);
        switch (type) {
            case MSG_CTRL_GOON:
                msg_goon(ctrl, worker);
                break;
            case MSG_CTRL_STOP:
                send(ctrl, MSG_WORKER_QUIT, worker);
                break;
            case MSG_CTRL_BYE:
                acl_debug(STORE_DEBUG_SECTION, 2)("%s: get BYE MSG from ctrl", __func__);
                return;
            default:
                acl_msg_error("%s(%d): msg_type(%d) invalid", __func__, __LINE__, type);
                break;
        }
    }
}
