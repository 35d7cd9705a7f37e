// acl_workq: a pool of worker threads, created on demand, that runs queued jobs.
//
// A job is (function, event type, context). acl_workq_add appends it to the
// queue's FIFO; an idle worker is woken by one signal, and when no worker is
// idle a new thread is started as long as fewer than the thread limit are
// alive. At the limit the job waits in the FIFO (one warning line per job so
// queued); the FIFO has no bound.
//
// A worker that finds no job waits at most the idle timeout and then ends; an
// idle timeout of 0 or less keeps it waiting for ever. A job that never returns
// keeps its worker for the life of the process.
//
// Lifecycle:
//   - the queue belongs to its creator; the service never destroys its queues.
//     acl_workq_destroy exists for owners that do (and for tests): it tells the
//     workers to quit, lets them run every job already queued, waits until every
//     worker thread has ended (its exit hook included) and frees the queue. It
//     must not be called from a job of the same queue, and it waits for ever on
//     a job that never returns.
//   - the context is the caller's; the queue never frees it. A job that is not
//     run because the queue was destroyed without workers is dropped unrun.
//   - ACL_WORKER_ATTR belongs to the worker thread. A job may read and write it
//     while it runs and must not keep it afterwards.
//
// Threads: every function may be called from any thread, acl_workq_add also
// from a job running on the same queue.
#pragma once

#include <ctime>

struct ACL_WORKQ;  // opaque: mutex and condition, validity mark, job FIFO and counters

// What a worker tells the job it runs. The fields keep this order.
struct ACL_WORKER_ATTR {
    unsigned long id;        // the worker's thread id (the "tid" of log lines)
    unsigned long count;     // jobs this worker has run, this one included
    time_t start_t;          // when the worker started, wall clock seconds
    unsigned long reserved;  // unused, 0
    time_t wait_sec;         // seconds the worker waited idle before this job
    void* init_arg;          // argument of the thread start hook
    void* free_arg;          // argument of the thread exit hook
    void* job_arg;           // the job's context, as given to acl_workq_add
};

// A job: its event type and the record of the worker running it.
typedef void (*ACL_WORKQ_JOB_FN)(int event_type, ACL_WORKER_ATTR* worker);

// Thread start hook: runs first in each new worker; a negative result ends
// the worker before it takes any job.
typedef int (*ACL_WORKQ_INIT_FN)(void* init_arg);

// Thread exit hook: runs last in each worker, after it stopped taking jobs.
typedef void (*ACL_WORKQ_FREE_FN)(void* free_arg);

// Makes a queue that runs at most `threads_limit` workers at once (must be
// positive); workers end after `idle_timeout` seconds without a job. The last
// two arguments are reserved and must be 0. Returns null after an error line.
ACL_WORKQ* acl_workq_create(int threads_limit, int idle_timeout, int reserved1, int reserved2);

// Queues `job_fn(event_type, worker)` with `context` as worker->job_arg.
// Returns 0; EINVAL (Winsock 10022) for a null function or a queue without its
// validity mark; ENOBUFS (10055) when the job cannot be allocated.
int acl_workq_add(ACL_WORKQ* queue, ACL_WORKQ_JOB_FN job_fn, int event_type, void* context);

// Install the thread start and exit hooks, for workers started from now on.
// Return 0, or EINVAL for an invalid queue.
int acl_workq_atinit(ACL_WORKQ* queue, ACL_WORKQ_INIT_FN init_fn, void* init_arg);
int acl_workq_atfree(ACL_WORKQ* queue, ACL_WORKQ_FREE_FN free_fn, void* free_arg);

// Counters, read under the queue's mutex: worker threads alive, workers idle,
// jobs waiting in the FIFO. -1 for an invalid queue.
int acl_workq_nthreads(ACL_WORKQ* queue);
int acl_workq_nidle(ACL_WORKQ* queue);
int acl_workq_qlen(ACL_WORKQ* queue);

// See "Lifecycle" above. Returns 0, or EINVAL for an invalid queue.
int acl_workq_destroy(ACL_WORKQ* queue);
