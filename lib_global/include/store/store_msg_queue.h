// store_msg_queue: one participant's message queue, taken from and given back
// to its controller's pool.
//
// A released queue rests at least one second before the pool hands it out
// again, so a message that a late sender pushes into a queue whose owner just
// left never reaches the queue's next owner as a live answer: whatever is left
// in a recycled queue is kicked out (one warning each,
// "store_msg_queue_alloc(28): kick out msg in queue") before reuse.
//
// Threads: any number of pushing threads, one popping thread (the owner). The
// pool is guarded by its own mutex; pool functions may run on any thread.
#pragma once

#include <ctime>

struct ACL_AQUEUE;
struct STORE_MSG;
struct STORE_MSG_POOL_IMPL;

struct STORE_MSG_POOL {
    STORE_MSG_POOL_IMPL* impl;  // FIFO of released queues and its mutex
};

struct STORE_MSG_QUEUE {
    ACL_AQUEUE* queue;     // the blocking queue
    time_t release_time;   // store clock seconds from which it may be reused
    STORE_MSG_POOL* pool;  // where it goes back
};

// An empty pool. store_msg_pool_free frees it and every queue resting in it
// (with any message left in them); queues handed out must be back first.
void store_msg_pool_init(STORE_MSG_POOL* pool);
void store_msg_pool_free(STORE_MSG_POOL* pool);

// Queues resting in the pool now.
int store_msg_pool_size(STORE_MSG_POOL* pool);

// A rested queue from the pool (emptied), or a new one.
STORE_MSG_QUEUE* store_msg_queue_alloc(STORE_MSG_POOL* pool);

// Gives the queue back to its pool; the caller must not use it afterwards.
void store_msg_queue_release(STORE_MSG_QUEUE* queue);

// The queue takes the message; its popper frees it.
void store_msg_queue_push(STORE_MSG_QUEUE* queue, STORE_MSG* msg);

// The oldest message, waiting without limit. Null only when the queue failed.
STORE_MSG* store_msg_queue_pop(STORE_MSG_QUEUE* queue);

// The oldest message, waiting at most `sec` seconds; null on time-out.
STORE_MSG* store_msg_queue_pop_timed(STORE_MSG_QUEUE* queue, int sec);
