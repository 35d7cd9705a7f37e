#include "store/store_ctrl.h"

#include <cstdlib>

#include "acl_htable.h"
#include "acl_msg.h"
#include "acl_timer.h"
#include "store/store_time.h"
#include "store/store_timer.h"

namespace {

[[noreturn]] void not_complete(const char* func) {
    acl_msg_fatal("%s(%d): not complete yet!", func, __LINE__);
}

STORE_CTRL_ENTRY* no_entry_new(STORE_CTRL*, STORE_CLIENT*) { not_complete(__func__); }
void no_entry_free(STORE_CTRL_ENTRY*) { not_complete(__func__); }
int no_complete(STORE_CTRL_ENTRY*) { not_complete(__func__); }
STORE_WORKER* no_first_worker(STORE_CTRL_ENTRY*, ACL_VSTREAM*, int64_t) { not_complete(__func__); }
STORE_WORKER* no_worker(STORE_CTRL_ENTRY*, int64_t, int64_t) { not_complete(__func__); }
void no_worker_free(STORE_WORKER*) { not_complete(__func__); }
int no_worker_start(STORE_WORKER*) { not_complete(__func__); }
int no_worker_read(STORE_WORKER*, char*, int) { not_complete(__func__); }

void free_timer_item(void* item) { store_timer_item_free(static_cast<STORE_TIMER_ITEM*>(item)); }

}  // namespace

STORE_CTRL* store_ctrl_alloc(ACL_WORKQ* wq, std::size_t size) {
    if (size < sizeof(STORE_CTRL))
        acl_msg_fatal("%s(%d): size(%d) too small", __func__, __LINE__, static_cast<int>(size));
    auto* ctrl = static_cast<STORE_CTRL*>(std::calloc(1, size));
    if (ctrl == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    store_msg_pool_init(&ctrl->pool);
    ctrl->queue = store_msg_queue_alloc(&ctrl->pool);
    ctrl->wq = wq;
    ctrl->table = acl_htable_create(STORE_CTRL_TABLE_BUCKETS, 0);
    ctrl->timer = acl_timer_new();
    ctrl->speed_time = store_time_now();
    ctrl->ops = STORE_CTRL_OPS{no_entry_new, no_entry_free,  no_complete,     no_first_worker,
                               no_worker,    no_worker_free, no_worker_start, no_worker_read};
    return ctrl;
}

void store_ctrl_free(STORE_CTRL* ctrl) {
    if (ctrl == nullptr) return;
    acl_timer_free(ctrl->timer, free_timer_item);
    acl_htable_free(ctrl->table, nullptr);
    store_msg_queue_release(ctrl->queue);
    store_msg_pool_free(&ctrl->pool);
    std::free(ctrl);
}
