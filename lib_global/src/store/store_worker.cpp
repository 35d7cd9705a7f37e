#include "store/store_worker.h"

#include <cstdlib>

#include "acl_msg.h"
#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_msg_queue.h"

STORE_WORKER* store_worker_alloc(STORE_CTRL_ENTRY* entry, int64_t from, int64_t length,
                                 int buf_size, std::size_t size) {
    if (size < sizeof(STORE_WORKER))
        acl_msg_fatal("%s(%d): size(%d) too small", __func__, __LINE__, static_cast<int>(size));
    auto* worker = static_cast<STORE_WORKER*>(std::calloc(1, size));
    if (worker == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    store_ring_init(&worker->ring);
    worker->ctrl = entry->ctrl;
    worker->entry = entry;
    worker->off_begin = from;
    worker->from = from;
    worker->off_dlen = length;
    worker->dlen = 0;
    if (buf_size > 0) {
        worker->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(buf_size)));
        if (worker->data == nullptr) acl_msg_fatal("%s(%d): malloc error", __func__, __LINE__);
        worker->buf_size = buf_size;
    }
    worker->queue = store_msg_queue_alloc(&entry->ctrl->pool);
    worker->fp = entry->fp;
    worker->id = entry->next_worker_id++;
    return worker;
}

void store_worker_free(STORE_WORKER* worker) {
    if (worker == nullptr) return;
    std::free(worker->data);
    if (worker->queue != nullptr) store_msg_queue_release(worker->queue);
    std::free(worker);
}
