// The controller's side of the worker conversation, the worker-start
// schedule and starting a worker by planning.
#include <algorithm>

#include "acl_msg.h"
#include "acl_timer.h"
#include "acl_workq.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store/store_time.h"
#include "store/store_timer.h"
#include "store/store_worker.h"
#include "store_ctrl_private.h"

namespace {

constexpr time_t kStartStep = 3;  // seconds per created worker in the start schedule

int64_t start_threshold(const STORE_CTRL_ENTRY* e) {
    return static_cast<int64_t>(e->max_thread) * STORE_FIRST_CLAIM;
}

void worker_job(int, ACL_WORKER_ATTR* attr) {
    auto* w = static_cast<STORE_WORKER*>(attr->job_arg);
    STORE_CTRL* ctrl = w->ctrl;
    store_worker_start(ctrl, w, w->first);
    // The entry may be gone by now: worker_free touches only the worker's own records.
    ctrl->ops.worker_free(w);
}

void timer_fn_worker_start(STORE_TIMER_ITEM* item) {
    STORE_CTRL_ENTRY* entry = store_ctrl_find(item->ctrl, item->key);
    if (entry == nullptr) return;
    if (entry->can_save && store_ctrl_entry_prefix_end(entry) < start_threshold(entry)) {
        store_ctrl_schedule_start(entry, std::max<time_t>(kStartStep * entry->created, kStartStep));
        return;
    }
    if (entry->can_save) store_ctrl_entry_chunk_from_speed(entry);
    if (store_ctrl_start_worker(entry) && entry->client_opens == 0 && entry->sync_stop)
        acl_msg_warn("%s(%d): client_opens=0, but start worker ok", __func__, __LINE__);
}

void answer(STORE_WORKER* w, int type) { store_ctrl_send(w->queue, type, w); }

void add_bytes(STORE_CTRL_ENTRY* entry, int64_t n) {
    entry->ctrl->total += n;
    entry->http_bytes += n;
}

}  // namespace

void store_ctrl_queue_worker(STORE_CTRL* ctrl, STORE_WORKER* worker, int first) {
    worker->first = first;
    if (acl_workq_add(ctrl->wq, worker_job, 0, worker) != 0)
        acl_msg_fatal("%s(%d): add worker job error", __func__, __LINE__);
}

void store_ctrl_schedule_start(STORE_CTRL_ENTRY* entry, time_t delay) {
    STORE_TIMER_ITEM* item = store_timer_item_alloc(entry->ctrl, entry->id, timer_fn_worker_start,
                                                    sizeof(STORE_TIMER_ITEM));
    acl_timer_request(entry->ctrl->timer, item, delay);
}

int store_ctrl_start_worker(STORE_CTRL_ENTRY* entry) {
    if (entry->complete) return 0;
    int64_t len = entry->content_length;
    if (len > 0 && store_ctrl_entry_downloaded(entry) >= len) {
        entry->complete = 1;
        return 0;
    }
    if (entry->worker_opens >= entry->worker_limit) return 0;
    // A download that fell back to one connection keeps one.
    if (entry->max_thread <= 1 && entry->worker_opens >= 1) return 0;
    int64_t from = 0, dlen = -1;
    if (len < 0) {
        if (entry->created > 0) return 0;
    } else {
        store_ctrl_entry_position(entry, &from, &dlen);
        if (from >= len) return 0;
    }
    STORE_WORKER* w = entry->ctrl->ops.worker_create(entry, from, dlen);
    store_ctrl_entry_count_worker(entry, w, 1);
    store_ctrl_queue_worker(entry->ctrl, w, 0);
    return 1;
}

void store_ctrl_msg_worker_open(STORE_CTRL* ctrl, STORE_WORKER* worker) {
    STORE_CTRL_ENTRY* entry = worker->entry;
    time_t c = entry->created;
    time_t m = std::max(entry->worker_limit, 1);
    time_t delay;
    if (!entry->can_save)
        delay = 1;
    else if (store_ctrl_entry_prefix_end(entry) >= start_threshold(entry))
        delay = kStartStep * (c % m);
    else
        delay = kStartStep * c;
    if (delay == 0) delay = kStartStep;
    store_ctrl_schedule_start(entry, delay);
    time_t now = store_time_now();
    acl_debug(STORE_DEBUG_SECTION, 2)("%s(%d): trigger another tm=%ld, now=%ld, inter=%ld",
                                      __func__, __LINE__, static_cast<long>(now + delay),
                                      static_cast<long>(now),
                                      static_cast<long>(now - ctrl->trigger_time));
    ctrl->trigger_time = now;
}

void store_ctrl_msg_worker_ready(STORE_CTRL* ctrl, STORE_WORKER* worker) {
    (void)ctrl;
    STORE_CTRL_ENTRY* entry = worker->entry;
    int64_t to = worker->from + worker->dlen;
    const STORE_RANGE* met = store_range_set_lookup(entry->ranges, to);
    if (met != nullptr) {
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "%s(%d): ok find it, sw->from=%lld, to=%lld, dlen=%lld, ditem->begin=%lld, "
            "ditem->end=%lld",
            __func__, __LINE__, static_cast<long long>(worker->from), static_cast<long long>(to),
            static_cast<long long>(worker->dlen), static_cast<long long>(met->begin),
            static_cast<long long>(met->end));
        if (store_file_write(worker) == worker->dlen) {
            store_range_set_insert(entry->ranges, worker->off_begin, to);
            store_ctrl_notify_clients(entry);
        } else {
            acl_msg_error("%s(%d): write error(%s)", __func__, __LINE__, "store_file_write");
        }
        add_bytes(entry, worker->dlen);
        store_stat_log_due(entry);
        answer(worker, MSG_CTRL_STOP);
        return;
    }
    if (store_file_write(worker) != worker->dlen) {
        acl_msg_error("%s(%d): write error(%s)", __func__, __LINE__, "store_file_write");
        answer(worker, MSG_CTRL_STOP);
        return;
    }
    store_range_set_insert(entry->ranges, worker->off_begin, to);
    add_bytes(entry, worker->dlen);
    store_ctrl_entry_speed(entry);
    store_stat_log_due(entry);
    worker->from = to;
    store_ctrl_notify_clients(entry);

    if (entry->client_opens == 0 && entry->sync_stop) {
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "%s(%d): send STOP MSG to worker,worker=%d, %d; client=%d, %d", __func__, __LINE__,
            entry->worker_opens, store_ring_size(&entry->workers), entry->client_opens,
            store_ring_size(&entry->waiters));
        answer(worker, MSG_CTRL_STOP);
    } else if (worker->off_dlen >= 0 && worker->from >= worker->off_begin + worker->off_dlen) {
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "%s(%d): send STOP MSG to worker,off_dlen=%lu, begin=%lu, from=%lu, dlen=%d, end=%lu",
            __func__, __LINE__, static_cast<unsigned long>(worker->off_dlen),
            static_cast<unsigned long>(worker->off_begin), static_cast<unsigned long>(worker->from),
            static_cast<int>(worker->dlen),
            static_cast<unsigned long>(worker->off_begin + worker->off_dlen));
        answer(worker, MSG_CTRL_STOP);
    } else if (entry->can_save && store_ctrl_entry_worker_if_stop(entry, worker)) {
        answer(worker, MSG_CTRL_STOP);
    } else {
        answer(worker, MSG_CTRL_GOON);
    }
}

void store_ctrl_msg_worker_quit(STORE_CTRL* ctrl, STORE_WORKER* worker) {
    (void)ctrl;
    STORE_CTRL_ENTRY* entry = worker->entry;
    if (worker->first)
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "msg_worker_quit: first worker quit now, next position from=%llu",
            static_cast<unsigned long long>(worker->from));
    bool refused = worker->eopened != 0;
    bool good = !refused && worker->support_range;
    store_ctrl_entry_detach_worker(entry, worker);
    store_ctrl_entry_release_worker(entry, worker);
    // From here on the worker thread may free its record at any moment.
    answer(worker, MSG_CTRL_BYE);

    int64_t len = entry->content_length;
    if (entry->worker_limit == 1 && len < 0) {
        acl_debug(STORE_DEBUG_SECTION, 2)("%s(%d): download over, content_length=-1", __func__,
                                          __LINE__);
        entry->complete = 1;
    } else if (store_ctrl_entry_covered(entry)) {
        entry->complete = 1;
    }
    if (entry->complete) store_ctrl_notify_clients(entry);

    if (entry->rest_count > 0 && good) {
        store_ctrl_start_worker(entry);
        entry->rest_count--;
        entry->worker_limit++;
        store_ctrl_try_free(entry);
        return;
    }
    if (entry->client_opens > 0 || !entry->sync_stop) {
        time_t c = entry->created;
        time_t m = std::max(entry->worker_limit, 1);
        if (refused) {
            // A worker that could not open is not replaced at once: a server
            // that fails every connection would otherwise be asked in a loop.
            store_ctrl_schedule_start(entry, kStartStep);
        } else if (entry->can_save && entry->worker_opens > 0) {
            store_ctrl_schedule_start(entry, std::max<time_t>(kStartStep * (c % m), kStartStep));
        } else {
            store_ctrl_start_worker(entry);
        }
    }
    store_ctrl_try_free(entry);
}

void store_ctrl_msg_worker_eopen(STORE_CTRL* ctrl, STORE_WORKER* worker) {
    (void)ctrl;
    STORE_CTRL_ENTRY* entry = worker->entry;
    worker->eopened = 1;
    store_ctrl_entry_detach_worker(entry, worker);
    store_ctrl_try_free(entry);
    answer(worker, MSG_CTRL_STOP);
}

void store_ctrl_msg_worker_rest_off(STORE_CTRL* ctrl, STORE_WORKER* worker) {
    (void)ctrl;
    STORE_CTRL_ENTRY* entry = worker->entry;
    if (entry->worker_opens == 0) acl_msg_fatal("%s(%d): worker's size=0", __func__, __LINE__);
    if (entry->worker_opens == 1) {
        entry->worker_limit = 1;
        worker->off_dlen = entry->content_length;
    } else if (entry->worker_limit > 1) {
        entry->worker_limit--;
        entry->rest_count++;
    }
}
