// The controller loop and its dispatch by owner and type.
#include "acl_htable.h"
#include "acl_msg.h"
#include "acl_timer.h"
#include "acl_workq.h"
#include "store/store_msg_queue.h"
#include "store/store_timer.h"
#include "store_ctrl_private.h"

namespace {

struct Handler {
    int type;
    void (*client)(STORE_CTRL*, STORE_CLIENT*);
    void (*worker)(STORE_CTRL*, STORE_WORKER*);
};

const Handler kClientTable[] = {
    {MSG_CLIENT_REQUEST, store_ctrl_msg_client_open, nullptr},
    {MSG_CLIENT_READY, store_ctrl_msg_client_ready, nullptr},
    {MSG_CLIENT_QUIT, store_ctrl_msg_client_quit, nullptr},
};

const Handler kWorkerTable[] = {
    {MSG_WORKER_OPEN, nullptr, store_ctrl_msg_worker_open},
    {MSG_WORKER_READY, nullptr, store_ctrl_msg_worker_ready},
    {MSG_WORKER_QUIT, nullptr, store_ctrl_msg_worker_quit},
    {MSG_WORKER_EOPEN, nullptr, store_ctrl_msg_worker_eopen},
    {MSG_WORKER_REST_OFF, nullptr, store_ctrl_msg_worker_rest_off},
};

void run_due_timers(STORE_CTRL* ctrl) {
    while (auto* item = static_cast<STORE_TIMER_ITEM*>(acl_timer_popup(ctrl->timer))) {
        item->fn(item);
        store_timer_item_free(item);
    }
}

template <std::size_t N>
bool dispatch(const Handler (&table)[N], STORE_CTRL* ctrl, int type, void* data) {
    for (const Handler& h : table) {
        if (h.type != type) continue;
        if (h.client != nullptr) h.client(ctrl, static_cast<STORE_CLIENT*>(data));
        if (h.worker != nullptr) h.worker(ctrl, static_cast<STORE_WORKER*>(data));
        return true;
    }
    return false;
}

void ctrl_job(int, ACL_WORKER_ATTR* attr) {
    store_ctrl_wait(static_cast<STORE_CTRL*>(attr->job_arg));
}

}  // namespace

void store_ctrl_send(STORE_MSG_QUEUE* queue, int type, void* data) {
    store_msg_queue_push(queue, store_msg_ctrl(type, data));
}

STORE_CTRL_ENTRY* store_ctrl_find(STORE_CTRL* ctrl, const char* id) {
    return static_cast<STORE_CTRL_ENTRY*>(acl_htable_find(ctrl->table, id));
}

int store_ctrl_entries(STORE_CTRL* ctrl) { return acl_htable_used(ctrl->table); }

int store_ctrl_start(STORE_CTRL* ctrl) {
    return acl_workq_add(ctrl->wq, ctrl_job, 0, ctrl) == 0 ? 0 : -1;
}

void store_ctrl_stop(STORE_CTRL* ctrl) {
    store_msg_queue_push(ctrl->queue, store_msg_ctrl(STORE_CTRL_MSG_QUIT, ctrl));
}

void store_ctrl_wait(STORE_CTRL* ctrl) {
    for (;;) {
        run_due_timers(ctrl);
        time_t left = acl_timer_left(ctrl->timer);
        STORE_MSG* msg;
        if (left < 0) {
            msg = store_msg_queue_pop(ctrl->queue);
            if (msg == nullptr) acl_msg_fatal("%s(%d): msg pop null", __func__, __LINE__);
        } else {
            msg = store_msg_queue_pop_timed(ctrl->queue, static_cast<int>(left));
            if (msg == nullptr) continue;
        }
        int type = msg->type;
        int owner = msg->owner;
        void* data = msg->data;
        store_msg_free(msg);

        if (owner == STORE_MSG_OWNER_CLIENT) {
            if (ctrl->client_hook == nullptr || ctrl->client_hook(type, ctrl, data) == 0) {
                if (!dispatch(kClientTable, ctrl, type, data))
                    acl_msg_error("%s(%d): unknown msg type(%d)", __func__, __LINE__, type);
            }
        } else if (owner == STORE_MSG_OWNER_WORKER) {
            if (ctrl->worker_hook == nullptr || ctrl->worker_hook(type, ctrl, data) == 0) {
                if (!dispatch(kWorkerTable, ctrl, type, data))
                    acl_msg_error("%s(%d): unknown msg type(%d)", __func__, __LINE__, type);
            }
        } else if (owner == STORE_MSG_OWNER_CTRL && type == STORE_CTRL_MSG_QUIT && data == ctrl) {
            return;
        } else {
            acl_msg_error("%s(%d): unknown msg owner(%d), type(%d)", __func__, __LINE__, owner,
                          type);
        }
    }
}
