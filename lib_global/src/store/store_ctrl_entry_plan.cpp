// The range planner, the chunk size rules and the stop test of an entry.
#include <algorithm>

#include "acl_msg.h"
#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_range.h"
#include "store/store_time.h"
#include "store/store_worker.h"

namespace {

STORE_WORKER* ring_worker(STORE_RING* link) { return reinterpret_cast<STORE_WORKER*>(link); }

// The first worker reads the first client's connection to the end of the body;
// it claims only what it will reach soon, so that a second worker can start
// ahead of it.
bool reads_to_end(const STORE_CTRL_ENTRY* entry, const STORE_WORKER* w) {
    return w->off_begin == entry->first_dlen && w->off_begin + w->off_dlen >= entry->content_length;
}

}  // namespace

void store_ctrl_entry_position(STORE_CTRL_ENTRY* entry, int64_t* from, int64_t* dlen) {
    int64_t len = entry->content_length;
    if (len < 0) {
        *from = 0;
        *dlen = -1;
        return;
    }

    STORE_RANGE_SET* planned = store_range_set_new(STORE_RANGES_HINT);
    for (STORE_RING* p = entry->workers.next; p != &entry->workers; p = p->next) {
        STORE_WORKER* w = ring_worker(p);
        if (w->p2p) continue;
        if (reads_to_end(entry, w))
            store_range_set_insert(planned, w->off_begin, w->from + STORE_FIRST_CLAIM);
        else
            store_range_set_insert(planned, w->off_begin, w->off_begin + w->off_dlen);
    }
    for (int i = 0; i < store_range_set_size(entry->ranges); i++) {
        const STORE_RANGE* r = store_range_set_index(entry->ranges, i);
        store_range_set_insert(planned, r->begin, r->end);
    }

    int n = store_range_set_size(planned);
    if (n == 0) {
        *from = 0;
        *dlen = len;
    } else if (n == 1) {
        const STORE_RANGE* r = store_range_set_index(planned, 0);
        // A set that starts after 0 leaves its front gap first.
        if (r->begin > 0) {
            *from = 0;
            *dlen = r->begin;
        } else {
            *from = r->end;
            *dlen = len - *from;
        }
    } else {
        const STORE_RANGE* r0 = store_range_set_index(planned, 0);
        const STORE_RANGE* r1 = store_range_set_index(planned, 1);
        if (r0->begin > 0) {
            *from = 0;
            *dlen = r0->begin;
        } else {
            *from = r0->end;
            *dlen = r1->begin - *from;
        }
    }
    store_range_set_free(planned);

    int64_t dist = *dlen;
    if (*dlen > entry->chunk_max) *dlen = entry->chunk_max;
    acl_debug(STORE_DEBUG_SECTION, 2)(
        "%s(%d): dist=%lld, off_inc=%lld, *pdlen=%lld, from=%lld, end=%lld, n=%d", __func__,
        __LINE__, static_cast<long long>(dist), static_cast<long long>(entry->off_inc),
        static_cast<long long>(*dlen), static_cast<long long>(*from),
        static_cast<long long>(*from + *dlen), n);

    if (!entry->can_save && entry->max_thread > 0 && entry->created % entry->max_thread == 0) {
        entry->chunk_max += entry->off_inc * entry->growth;
        entry->growth++;
        entry->chunk_max = std::max<int64_t>(entry->chunk_max, STORE_OFF_INC_MIN);
    }
}

void store_ctrl_entry_chunk_from_speed(STORE_CTRL_ENTRY* entry) {
    if (entry->worker_opens <= 0 || entry->cur_speed == 0) return;
    if (store_ctrl_entry_prefix_end(entry) < STORE_FIRST_CLAIM) return;
    entry->off_inc =
        std::min<int64_t>(entry->worker_opens * entry->cur_speed * 2 / 3, STORE_OFF_INC_MAX);
    entry->chunk_max = std::max<int64_t>(entry->off_inc, STORE_OFF_INC_MIN);
    entry->growth = 1;
}

void store_ctrl_entry_upstat(STORE_CTRL_ENTRY* entry) {
    int64_t have = store_ctrl_entry_downloaded(entry);
    int64_t len = entry->content_length;
    if (have <= 0 || len <= 0 || have >= len || entry->max_thread <= 0) return;
    int64_t rest = len - have;
    entry->off_inc =
        std::min<int64_t>(rest / entry->max_thread + rest % entry->max_thread, STORE_OFF_INC_MAX);
    entry->chunk_max = std::max<int64_t>(entry->off_inc, STORE_OFF_INC_MIN);
    acl_debug(STORE_DEBUG_SECTION, 2)("%s: off_inc=%lld", __func__,
                                      static_cast<long long>(entry->off_inc));
}

int store_ctrl_entry_worker_if_stop(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker) {
    time_t now = store_time_now();
    if (now - entry->start_time < STORE_STOP_REST) return 0;
    int64_t prefix_end = store_ctrl_entry_prefix_end(entry);
    if (prefix_end < 0 || entry->worker_opens < 1) return 0;

    store_ctrl_entry_chunk_from_speed(entry);

    int64_t speed = entry->cur_speed / entry->worker_opens;
    if (speed >= STORE_SLOW_WORKER || entry->worker_opens < 2) return 0;
    if (now - entry->stop_time < STORE_STOP_REST) return 0;

    int idx = 0;
    int i = 0;
    for (STORE_RING* p = entry->workers.next; p != &entry->workers; p = p->next) {
        i++;
        if (ring_worker(p) == worker) {
            idx = i;
            break;
        }
    }
    int64_t dist = worker->off_begin + worker->off_dlen - prefix_end;
    int64_t allowed = static_cast<int64_t>(entry->worker_limit) * speed * idx;
    if (dist > allowed) {
        worker->off_dlen = worker->from - worker->off_begin;
        entry->stop_time = now;
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "%s: stoped it, id=%d, dist=%lu, min=%lu, nworkers=%d, idx=%d", __func__, worker->id,
            static_cast<unsigned long>(dist), static_cast<unsigned long>(entry->chunk_max),
            entry->worker_opens, idx);
        acl_debug(STORE_DEBUG_SECTION, 2)(
            "%s: ditem end=%lu, inc=%lu, off_begin=%lu, off_dlen=%lu, off_end=%lu", __func__,
            static_cast<unsigned long>(prefix_end), static_cast<unsigned long>(entry->off_inc),
            static_cast<unsigned long>(worker->off_begin),
            static_cast<unsigned long>(worker->off_dlen),
            static_cast<unsigned long>(worker->off_begin + worker->off_dlen));
        return 1;
    }
    acl_debug(STORE_DEBUG_SECTION, 3)("%s: continue, id=%d, dist=%lu, min=%lu, nworkers=%d, idx=%d",
                                      __func__, worker->id, static_cast<unsigned long>(dist),
                                      static_cast<unsigned long>(entry->chunk_max),
                                      entry->worker_opens, idx);
    return 0;
}

int store_ctrl_entry_speed(STORE_CTRL_ENTRY* entry) {
    STORE_CTRL* ctrl = entry->ctrl;
    time_t now = store_time_now();
    time_t elapsed = now - ctrl->speed_time;
    if (elapsed < 1) return 0;
    ctrl->total_speed = (ctrl->total - ctrl->total_last) / elapsed;
    ctrl->total_last = ctrl->total;
    entry->cur_speed = (entry->http_bytes - entry->http_bytes_last) / elapsed;
    if (now > entry->start_time) entry->avr_speed = entry->http_bytes / (now - entry->start_time);
    entry->http_bytes_last = entry->http_bytes;
    ctrl->speed_time = now;
    acl_debug(STORE_DEBUG_SECTION, 2)(
        "%s(%d)>> ctrl_entry: speed=%lu, workers=%d, %d;clients=%d, %d; total speed=%lu\r\n",
        __func__, __LINE__, static_cast<unsigned long>(entry->cur_speed), entry->worker_opens,
        store_ring_size(&entry->workers), entry->client_opens, store_ring_size(&entry->waiters),
        static_cast<unsigned long>(ctrl->total_speed));
    return 1;
}
