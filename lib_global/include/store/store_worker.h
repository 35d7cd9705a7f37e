// store_worker: one range worker of a download. The HTTP worker
// (store_http/http_worker.h) extends it by embedding it as its first field.
//
// A worker fetches [off_begin, off_begin + off_dlen) chunk by chunk on its own
// work-queue thread; the controller writes each chunk and answers go on or
// stop. The worker touches its entry only to read its own fields; the
// controller changes `from`, `off_dlen` and the ring link only while the worker
// waits for its answer.
//
// Ownership: made by the controller's worker_create operation, run by one job
// of the work queue (store_worker_start), freed by the worker_free operation
// when the job ends. The entry outlives the worker: see store_ctrl_entry.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "store/store_ring.h"

#define STORE_FIRST_CLAIM 524288  // bytes ahead of its position the first worker claims

struct ACL_VSTREAM;
struct STORE_CTRL;
struct STORE_CTRL_ENTRY;
struct STORE_MSG_QUEUE;

struct STORE_WORKER {
    STORE_RING ring;  // link in the entry's worker ring; first field
    STORE_CTRL* ctrl;
    STORE_CTRL_ENTRY* entry;
    STORE_MSG_QUEUE* queue;  // the worker's own, from the controller's pool
    int id;                  // the entry's next worker id at creation
    char* data;              // buffer of buf_size bytes, or null
    int buf_size;
    int64_t off_begin;  // the range is [off_begin, off_begin + off_dlen)
    int64_t off_dlen;
    int64_t from;  // next byte to fetch
    int64_t dlen;  // bytes in the buffer from the last read; -1 after failure or the range end
    int support_range;
    ACL_VSTREAM* fp;  // the entry's download stream
    int first;        // reads the first client's upstream connection
    int p2p;          // a P2P worker: not counted in worker_opens, claims nothing
    time_t start_time;
    int eopened;  // reported MSG_WORKER_EOPEN: its quit restarts nobody at once
};

// A zeroed record of `size` bytes (ends the process with "%s(%d): size(%d) too
// small" below sizeof(STORE_WORKER)) for [from, from + length), with a buffer
// of `buf_size` bytes when positive, a queue from the controller's pool, the
// entry's download stream and the entry's next worker id (which is advanced).
STORE_WORKER* store_worker_alloc(STORE_CTRL_ENTRY* entry, int64_t from, int64_t length,
                                 int buf_size, std::size_t size);

// The worker thread's body: opens (non-first workers, through the worker_start
// operation), reports MSG_WORKER_OPEN, then reads chunk by chunk, waiting for
// the controller's answer after each, until MSG_CTRL_BYE. A worker that cannot
// open, or whose server did not honour its range, runs the open-failure
// sequence (MSG_WORKER_EOPEN, MSG_CTRL_STOP, MSG_WORKER_QUIT, MSG_CTRL_BYE).
// A negative off_dlen means an unbounded range (a body of unknown length).
void store_worker_start(STORE_CTRL* ctrl, STORE_WORKER* worker, int first);

// Frees the buffer, gives the queue back and frees the record.
void store_worker_free(STORE_WORKER* worker);
