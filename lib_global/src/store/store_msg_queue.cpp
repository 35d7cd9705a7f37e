#include "store/store_msg_queue.h"

#include <deque>
#include <mutex>

#include "acl_aqueue.h"
#include "acl_msg.h"
#include "store/store_msg.h"
#include "store/store_time.h"

struct STORE_MSG_POOL_IMPL {
    std::mutex lock;
    std::deque<STORE_MSG_QUEUE*> fifo;
};

namespace {

constexpr int kRestSeconds = 1;
constexpr int kDrainUsec = 10;

void free_left_msg(void* item) { store_msg_free(static_cast<STORE_MSG*>(item)); }

void queue_destroy(STORE_MSG_QUEUE* q) {
    acl_aqueue_free(q->queue, free_left_msg);
    delete q;
}

}  // namespace

void store_msg_pool_init(STORE_MSG_POOL* pool) { pool->impl = new STORE_MSG_POOL_IMPL; }

void store_msg_pool_free(STORE_MSG_POOL* pool) {
    if (pool->impl == nullptr) return;
    for (STORE_MSG_QUEUE* q : pool->impl->fifo) queue_destroy(q);
    delete pool->impl;
    pool->impl = nullptr;
}

int store_msg_pool_size(STORE_MSG_POOL* pool) {
    std::lock_guard<std::mutex> guard(pool->impl->lock);
    return static_cast<int>(pool->impl->fifo.size());
}

STORE_MSG_QUEUE* store_msg_queue_alloc(STORE_MSG_POOL* pool) {
    time_t now = store_time_now();
    STORE_MSG_QUEUE* q = nullptr;
    {
        std::lock_guard<std::mutex> guard(pool->impl->lock);
        auto& fifo = pool->impl->fifo;
        if (!fifo.empty() && fifo.front()->release_time <= now) {
            q = fifo.front();
            fifo.pop_front();
        }
    }
    if (q == nullptr) {
        q = new STORE_MSG_QUEUE;
        q->queue = acl_aqueue_new();
        q->release_time = 0;
        q->pool = pool;
        return q;
    }
    // A late answer pushed after the previous owner left must not reach the next one.
    while (auto* msg = static_cast<STORE_MSG*>(acl_aqueue_pop(q->queue, 0, kDrainUsec))) {
        acl_msg_warn("store_msg_queue_alloc(%d): kick out msg in queue", 28);
        store_msg_free(msg);
    }
    return q;
}

void store_msg_queue_release(STORE_MSG_QUEUE* queue) {
    queue->release_time = store_time_now() + kRestSeconds;
    STORE_MSG_POOL* pool = queue->pool;
    std::lock_guard<std::mutex> guard(pool->impl->lock);
    pool->impl->fifo.push_back(queue);
}

void store_msg_queue_push(STORE_MSG_QUEUE* queue, STORE_MSG* msg) {
    if (acl_aqueue_push(queue->queue, msg) != 0)
        acl_msg_fatal("%s(%d): push msg error", __func__, __LINE__);
}

STORE_MSG* store_msg_queue_pop(STORE_MSG_QUEUE* queue) {
    return static_cast<STORE_MSG*>(acl_aqueue_pop_wait(queue->queue));
}

STORE_MSG* store_msg_queue_pop_timed(STORE_MSG_QUEUE* queue, int sec) {
    // A wait of 0 seconds would wait without limit in the blocking queue.
    if (sec <= 0) return static_cast<STORE_MSG*>(acl_aqueue_pop(queue->queue, 0, 1));
    return static_cast<STORE_MSG*>(acl_aqueue_pop(queue->queue, sec, 0));
}
