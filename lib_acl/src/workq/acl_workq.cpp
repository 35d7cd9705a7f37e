// The worker pool: job FIFO, on-demand threads, idle expiry.
#include "acl_workq.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "acl_debug_sections.h"
#include "acl_msg.h"
#include "platform/net_errors.h"
#include "platform/self.h"

namespace {

constexpr unsigned kValidMark = 0x574f524bu;  // "WORK": set by create, cleared by destroy

// Log lines name the source file without the build's folder.
constexpr const char* base_name(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/') base = p + 1;
    return base;
}

const char* const kFile = base_name(__FILE__);

struct Job {
    ACL_WORKQ_JOB_FN fn;
    int event_type;
    void* context;
};

}  // namespace

struct ACL_WORKQ {
    std::mutex lock;
    std::condition_variable cond;  // idle workers wait here for a job
    std::condition_variable gone;  // destroy waits here for nalive == 0
    unsigned valid = 0;
    std::deque<Job> jobs;
    int threads_limit = 0;
    int nthreads = 0;  // workers alive that may still take jobs
    int nidle = 0;     // workers waiting for a job
    int nalive = 0;    // worker threads not yet returned (exit hooks included)
    int idle_timeout = 0;
    bool quit = false;
    ACL_WORKQ_INIT_FN init_fn = nullptr;
    void* init_arg = nullptr;
    ACL_WORKQ_FREE_FN free_fn = nullptr;
    void* free_arg = nullptr;
};

namespace {

// A failed lock is a broken process; there is nothing to return to.
std::unique_lock<std::mutex> lock_queue(ACL_WORKQ* q, const char* myname, int line) {
    try {
        return std::unique_lock<std::mutex>(q->lock);
    } catch (const std::system_error& e) {
        acl_msg_fatal("%s(%d)->%s: pthread_mutex_lock, serr = %s", kFile, line, myname, e.what());
    }
}

bool valid_queue(ACL_WORKQ* q) { return q != nullptr && q->valid == kValidMark; }

void worker_thread(ACL_WORKQ* q) {
    static const char* myname = "__worker_thread";
    ACL_WORKER_ATTR attr{};
    attr.id = static_cast<unsigned long>(platform::thread_id());
    attr.start_t = std::time(nullptr);

    auto guard = lock_queue(q, myname, __LINE__);
    ACL_WORKQ_INIT_FN init_fn = q->init_fn;
    attr.init_arg = q->init_arg;
    ACL_WORKQ_FREE_FN free_fn = q->free_fn;
    attr.free_arg = q->free_arg;
    guard.unlock();

    bool run = true;
    if (init_fn != nullptr && init_fn(attr.init_arg) < 0) {
        acl_msg_error("%s(%d)->%s: sid = %lu, worker init call error", kFile, __LINE__, myname,
                      attr.id);
        run = false;
    }

    guard.lock();
    bool expired = false;
    while (run) {
        auto waited_from = std::chrono::steady_clock::now();
        auto deadline = waited_from + std::chrono::seconds(q->idle_timeout);
        while (q->jobs.empty() && !q->quit) {
            q->nidle++;
            if (q->idle_timeout <= 0) {
                q->cond.wait(guard);
            } else if (q->cond.wait_until(guard, deadline) == std::cv_status::timeout) {
                expired = true;
            }
            q->nidle--;
            if (expired) break;
        }

        if (!q->jobs.empty()) {
            Job job = q->jobs.front();
            q->jobs.pop_front();
            guard.unlock();

            attr.count++;
            attr.wait_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                                    std::chrono::steady_clock::now() - waited_from)
                                                    .count());
            attr.job_arg = job.context;
            if (job.fn == nullptr)
                acl_msg_fatal("%s(%d)->%s: worker_fn null", kFile, __LINE__, myname);
            job.fn(job.event_type, &attr);

            guard.lock();
            expired = false;  // a job was found: the idle clock starts again
            continue;
        }
        if (expired || q->quit) break;
    }

    // From here on the worker takes no job; the queue may only be touched
    // under the lock, and not at all once nalive has been released.
    q->nthreads--;
    guard.unlock();

    acl_debug(ACL_DEBUG_WORKQ, 2)("%s(%d): thread(%lu) exit now", myname, __LINE__, attr.id);
    if (free_fn != nullptr) free_fn(attr.free_arg);

    guard.lock();
    q->nalive--;
    if (q->nalive == 0 && q->quit)
        q->gone.notify_all();  // under the lock: destroy cannot free q before this returns
    guard.unlock();
}

}  // namespace

ACL_WORKQ* acl_workq_create(int threads_limit, int idle_timeout, int, int) {
    static const char* myname = "acl_workq_create";
    if (threads_limit <= 0) {
        acl_msg_error("%s(%d): threads_limit(%d) invalid", myname, __LINE__, threads_limit);
        return nullptr;
    }

    ACL_WORKQ* q;
    try {
        q = new ACL_WORKQ;
    } catch (const std::bad_alloc& e) {
        acl_msg_error("%s(%d)->%s: calloc, serr = %s", kFile, __LINE__, myname, e.what());
        return nullptr;
    } catch (const std::system_error& e) {
        acl_msg_error("%s(%d)->%s: pthread_cond_init, serr = %s", kFile, __LINE__, myname,
                      e.what());
        return nullptr;
    }
    q->threads_limit = threads_limit;
    q->idle_timeout = idle_timeout;
    q->valid = kValidMark;
    return q;
}

int acl_workq_add(ACL_WORKQ* q, ACL_WORKQ_JOB_FN job_fn, int event_type, void* context) {
    static const char* myname = "acl_workq_add";
    if (job_fn == nullptr || !valid_queue(q)) return platform::SOCK_EINVAL;

    auto guard = lock_queue(q, myname, __LINE__);
    try {
        q->jobs.push_back(Job{job_fn, event_type, context});
    } catch (const std::bad_alloc&) {
        return platform::SOCK_ENOBUFS;
    }

    // An idle worker leaves nidle only once it has woken, so workers already
    // woken for earlier jobs still count as idle: wake one only when there
    // are idle workers for every queued job, else start another thread.
    if (q->nidle >= static_cast<int>(q->jobs.size())) {
        q->cond.notify_one();
        return 0;
    }
    if (q->nthreads >= q->threads_limit) {
        acl_msg_warn(
            "%s(%d)->%s: reached the max_thread = %d, push into the queue now, "
            "qlen=%d, idle=%d",
            kFile, __LINE__, myname, q->threads_limit, static_cast<int>(q->jobs.size()), q->nidle);
        return 0;
    }
    try {
        std::thread(worker_thread, q).detach();
    } catch (const std::system_error& e) {
        acl_msg_fatal("%s(%d)->%s: pthread_create worker, serr = %s", kFile, __LINE__, myname,
                      e.what());
    }
    q->nthreads++;
    q->nalive++;
    return 0;
}

int acl_workq_atinit(ACL_WORKQ* q, ACL_WORKQ_INIT_FN init_fn, void* init_arg) {
    if (!valid_queue(q)) return platform::SOCK_EINVAL;
    auto guard = lock_queue(q, "acl_workq_atinit", __LINE__);
    q->init_fn = init_fn;
    q->init_arg = init_arg;
    return 0;
}

int acl_workq_atfree(ACL_WORKQ* q, ACL_WORKQ_FREE_FN free_fn, void* free_arg) {
    if (!valid_queue(q)) return platform::SOCK_EINVAL;
    auto guard = lock_queue(q, "acl_workq_atfree", __LINE__);
    q->free_fn = free_fn;
    q->free_arg = free_arg;
    return 0;
}

int acl_workq_nthreads(ACL_WORKQ* q) {
    if (!valid_queue(q)) return -1;
    auto guard = lock_queue(q, "acl_workq_nthreads", __LINE__);
    return q->nthreads;
}

int acl_workq_nidle(ACL_WORKQ* q) {
    if (!valid_queue(q)) return -1;
    auto guard = lock_queue(q, "acl_workq_nidle", __LINE__);
    return q->nidle;
}

int acl_workq_qlen(ACL_WORKQ* q) {
    if (!valid_queue(q)) return -1;
    auto guard = lock_queue(q, "acl_workq_qlen", __LINE__);
    return static_cast<int>(q->jobs.size());
}

int acl_workq_destroy(ACL_WORKQ* q) {
    if (!valid_queue(q)) return platform::SOCK_EINVAL;
    auto guard = lock_queue(q, "acl_workq_destroy", __LINE__);
    q->quit = true;
    q->cond.notify_all();
    q->gone.wait(guard, [q] { return q->nalive == 0; });
    q->valid = 0;
    guard.unlock();
    delete q;
    return 0;
}
