// The blocking pointer queue.
#include "acl_aqueue.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "acl_msg.h"

struct ACL_AQUEUE {
    std::mutex lock;
    std::condition_variable cond;           // poppers wait here
    std::deque<void*> items;                // head at the front
    std::atomic<int> error{ACL_AQUEUE_OK};  // also stored when the mutex could not be taken
    bool quit = false;
};

namespace {

void check_queue(ACL_AQUEUE* queue, const char* myname) {
    if (queue == nullptr) acl_msg_fatal("%s(%d): queue null", myname, __LINE__);
}

// Takes the queue's mutex, or logs why it could not.
bool lock_queue(ACL_AQUEUE* queue, std::unique_lock<std::mutex>& guard, const char* myname) {
    try {
        guard = std::unique_lock<std::mutex>(queue->lock);
        return true;
    } catch (const std::system_error& e) {
        acl_msg_error("%s: lock error(%s)", myname, e.what());
        return false;
    }
}

}  // namespace

ACL_AQUEUE* acl_aqueue_new(void) {
    ACL_AQUEUE* queue = new (std::nothrow) ACL_AQUEUE;
    if (queue == nullptr)
        acl_msg_fatal("%s: calloc error(%s)", "acl_aqueue_new", std::strerror(ENOMEM));
    return queue;
}

void acl_aqueue_free(ACL_AQUEUE* queue, void (*free_fn)(void*)) {
    if (queue == nullptr) return;
    if (free_fn != nullptr)
        for (void* item : queue->items) free_fn(item);
    delete queue;
}

int acl_aqueue_push(ACL_AQUEUE* queue, void* item) {
    static const char* myname = "acl_aqueue_push";
    check_queue(queue, myname);
    std::unique_lock<std::mutex> guard;
    if (!lock_queue(queue, guard, myname)) return -1;
    try {
        queue->items.push_back(item);
    } catch (const std::bad_alloc&) {
        acl_msg_fatal("%s: calloc error(%s)", myname, std::strerror(ENOMEM));
    }
    guard.unlock();
    queue->cond.notify_one();
    return 0;
}

void* acl_aqueue_pop(ACL_AQUEUE* queue, int tmo_sec, int tmo_usec) {
    static const char* myname = "acl_aqueue_pop";
    check_queue(queue, myname);
    std::unique_lock<std::mutex> guard;
    if (!lock_queue(queue, guard, myname)) {
        queue->error = ACL_AQUEUE_ERR_LOCK;
        return nullptr;
    }
    queue->error = ACL_AQUEUE_OK;

    auto ready = [queue] { return !queue->items.empty() || queue->quit; };
    if (tmo_sec <= 0 && tmo_usec <= 0) {
        queue->cond.wait(guard, ready);
    } else {
        auto wait = std::chrono::seconds(tmo_sec > 0 ? tmo_sec : 0) +
                    std::chrono::microseconds(tmo_usec > 0 ? tmo_usec : 0);
        auto deadline = std::chrono::steady_clock::now() + wait;
        if (!queue->cond.wait_until(guard, deadline, ready)) {
            queue->error = ACL_AQUEUE_ERR_TIMEOUT;
            return nullptr;
        }
    }

    if (queue->items.empty()) {
        queue->error = ACL_AQUEUE_ERR_QUIT;
        return nullptr;
    }
    void* item = queue->items.front();
    queue->items.pop_front();
    return item;
}

void* acl_aqueue_pop_wait(ACL_AQUEUE* queue) { return acl_aqueue_pop(queue, 0, 0); }

int acl_aqueue_last_error(ACL_AQUEUE* queue) {
    check_queue(queue, "acl_aqueue_last_error");
    return queue->error;
}

void acl_aqueue_quit(ACL_AQUEUE* queue) {
    static const char* myname = "acl_aqueue_quit";
    check_queue(queue, myname);
    std::unique_lock<std::mutex> guard;
    if (!lock_queue(queue, guard, myname)) return;
    queue->quit = true;
    guard.unlock();
    queue->cond.notify_all();
}

int acl_aqueue_qlen(ACL_AQUEUE* queue) {
    check_queue(queue, "acl_aqueue_qlen");
    std::unique_lock<std::mutex> guard;
    if (!lock_queue(queue, guard, "acl_aqueue_qlen")) return -1;
    return static_cast<int>(queue->items.size());
}
