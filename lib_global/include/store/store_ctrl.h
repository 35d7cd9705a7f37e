// store_ctrl: the store controller, single owner of every accelerated
// download. One loop on one thread pops the messages of clients and workers
// and keeps, per resource id, one download entry that any number of clients
// share. The HTTP controller (store_http/http_ctrl.h) extends it by embedding
// it as its first field and fills the operations table.
//
// Threads: only the controller thread touches the entry table, the timer list,
// the entries and their download streams. Everything else reaches the
// controller by pushing a message into its queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "store/store_msg_queue.h"

struct ACL_HTABLE;
struct ACL_TIMER;
struct ACL_VSTREAM;
struct ACL_WORKQ;
struct STORE_CLIENT;
struct STORE_CTRL;
struct STORE_CTRL_ENTRY;
struct STORE_WORKER;

#define STORE_CTRL_TABLE_BUCKETS 100

// What varies per kind of download. store_ctrl_alloc fills every slot with a
// function that ends the process with "%s(%d): not complete yet!".
struct STORE_CTRL_OPS {
    STORE_CTRL_ENTRY* (*ctrl_entry_new)(STORE_CTRL* ctrl, STORE_CLIENT* client);
    void (*ctrl_entry_free)(STORE_CTRL_ENTRY* entry);
    // A completed download was renamed; non-zero asks for the final file to be deleted.
    int (*on_complete)(STORE_CTRL_ENTRY* entry);
    STORE_WORKER* (*first_worker_create)(STORE_CTRL_ENTRY* entry, ACL_VSTREAM* server,
                                         int64_t from);
    STORE_WORKER* (*worker_create)(STORE_CTRL_ENTRY* entry, int64_t from, int64_t length);
    void (*worker_free)(STORE_WORKER* worker);
    int (*worker_start)(STORE_WORKER* worker);                      // 0 or -1
    int (*worker_read)(STORE_WORKER* worker, char* buf, int size);  // bytes, or -1
};

// Offered each message of its owner kind first; non-zero when it handled the
// message completely.
typedef int (*STORE_CTRL_MSG_HOOK)(int type, STORE_CTRL* ctrl, void* data);

struct STORE_CTRL {
    STORE_MSG_QUEUE* queue;  // the controller's own
    ACL_WORKQ* wq;           // runs the loop, every client, worker and hand-off job
    ACL_HTABLE* table;       // resource id -> STORE_CTRL_ENTRY
    ACL_TIMER* timer;        // STORE_TIMER_ITEMs, whole seconds
    int64_t total;           // bytes written by HTTP workers of all downloads
    int64_t total_last;      // `total` at the last speed computation
    int64_t total_speed;     // bytes per second
    time_t trigger_time;     // last worker-start trigger
    time_t speed_time;       // last speed computation; starts at creation
    STORE_MSG_POOL pool;
    STORE_CTRL_MSG_HOOK client_hook;
    STORE_CTRL_MSG_HOOK worker_hook;
    STORE_CTRL_OPS ops;
    int quit;  // the loop ends after the message that set it (tests; see store_ctrl_stop)
};

// A zeroed controller record of `size` bytes (ends the process with "%s(%d):
// size(%d) too small" below sizeof(STORE_CTRL)): queue pool, own queue, entry
// table, timer list and the aborting default operations.
STORE_CTRL* store_ctrl_alloc(ACL_WORKQ* wq, std::size_t size);

// Adds the controller loop (store_ctrl_wait) as one job to the work queue.
// 0, or -1 when the queue refused the job.
int store_ctrl_start(STORE_CTRL* ctrl);

// The controller loop: runs due timers, pops one message (waiting until the
// next timer's deadline), dispatches it by owner and type. It never returns in
// the service; a test ends it with store_ctrl_stop.
void store_ctrl_wait(STORE_CTRL* ctrl);

// Test seam: asks the loop to end after the messages already queued. The
// service never stops its controller.
void store_ctrl_stop(STORE_CTRL* ctrl);

// Entries in the table now (tests).
int store_ctrl_entries(STORE_CTRL* ctrl);

// Frees what store_ctrl_alloc made (tests; the service never frees its
// controller). The loop must have ended and every entry been freed. Frees the
// record itself.
void store_ctrl_free(STORE_CTRL* ctrl);
