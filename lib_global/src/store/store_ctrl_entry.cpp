#include "store/store_ctrl_entry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acl_htable.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "store/store_ctrl.h"
#include "store/store_range.h"
#include "store/store_time.h"
#include "store/store_worker.h"

STORE_CTRL_ENTRY* store_ctrl_entry_alloc(STORE_CTRL* ctrl, STORE_CLIENT* client, std::size_t size) {
    if (size < sizeof(STORE_CTRL_ENTRY))
        acl_msg_fatal("%s(%d): size(%d) too small", __func__, __LINE__, static_cast<int>(size));
    auto* entry = static_cast<STORE_CTRL_ENTRY*>(std::calloc(1, size));
    if (entry == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    store_ctrl_entry_init(ctrl, entry, client);
    return entry;
}

void store_ctrl_entry_init(STORE_CTRL* ctrl, STORE_CTRL_ENTRY* entry, STORE_CLIENT* client) {
    if (client->content_length == 0)
        acl_msg_fatal("%s(%d): content_length(%d) invalid", __func__, __LINE__,
                      static_cast<int>(client->content_length));
    entry->ctrl = ctrl;
    entry->can_save = client->can_save;
    entry->part_save = client->part_save;
    entry->sync_stop = client->sync_stop;
    entry->first_dlen = client->dlen;

    int64_t len = client->content_length;
    if (len < 0) {
        entry->max_thread = 1;
        entry->content_length = -1;
        entry->off_inc = -1;
    } else if (len <= STORE_SINGLE_MAX) {
        entry->max_thread = 1;
        entry->content_length = len;
        entry->off_inc = len;
    } else {
        entry->max_thread = client->max_thread;
        entry->content_length = len;
        int64_t n = std::max(client->max_thread, 1);
        entry->off_inc = len / n + len % n;
    }

    entry->id = strdup(client->id);
    std::snprintf(entry->path, sizeof(entry->path), "%s", client->path);
    std::snprintf(entry->part_path, sizeof(entry->part_path), "%s", client->path);

    if (entry->max_thread > 1)
        entry->off_inc = std::clamp<int64_t>(entry->off_inc, STORE_OFF_INC_MIN, STORE_OFF_INC_MAX);

    entry->worker_limit = entry->max_thread;
    entry->chunk_max = entry->off_inc;
    entry->growth = 1;
    store_ring_init(&entry->workers);
    store_ring_init(&entry->waiters);
    entry->ranges = store_range_set_new(STORE_RANGES_HINT);

    if (acl_htable_enter(ctrl->table, entry->id, entry) == nullptr)
        acl_msg_fatal("%s(%d): enter htable error", __func__, __LINE__);
    entry->start_time = store_time_now();
}

void store_ctrl_entry_free(STORE_CTRL_ENTRY* entry) {
    if (entry->ctrl->ops.ctrl_entry_free == nullptr)
        acl_msg_fatal("%s(%d): ctrl_entry_free null", __func__, __LINE__);
    entry->ctrl->ops.ctrl_entry_free(entry);
}

void store_ctrl_entry_clean(STORE_CTRL_ENTRY* entry) {
    acl_debug(STORE_DEBUG_SECTION, 2)(
        "%s: free ctrl_entry ok, time=%lu, avr_speed=%lu", __func__,
        static_cast<unsigned long>(store_time_now() - entry->start_time),
        static_cast<unsigned long>(entry->avr_speed));
    store_range_set_free(entry->ranges);
    entry->ranges = nullptr;
    std::free(entry->id);
    entry->id = nullptr;
    if (entry->fp != nullptr) {
        acl_vstream_close(entry->fp);
        entry->fp = nullptr;
    }
}

void store_ctrl_entry_count_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker, int planned) {
    store_ring_append(&entry->workers, &worker->ring);
    worker->start_time = store_time_now();
    entry->worker_opens++;
    entry->created++;
    entry->worker_holds++;
    if (planned && entry->worker_opens < entry->max_thread) {
        entry->chunk_max = std::max<int64_t>(entry->off_inc, STORE_OFF_INC_MIN);
        entry->growth = 1;
    }
}

void store_ctrl_entry_count_p2p_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker) {
    store_ring_append(&entry->workers, &worker->ring);
    worker->start_time = store_time_now();
    entry->worker_holds++;
}

void store_ctrl_entry_detach_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker) {
    if (!store_ring_linked(&worker->ring)) return;
    if (!worker->p2p) {
        entry->worker_opens--;
        if (entry->worker_opens < 0)
            acl_msg_fatal("%s(%d): worker_opens(%d) < 0", __func__, __LINE__, entry->worker_opens);
    }
    store_ring_detach(&worker->ring);
}

void store_ctrl_entry_release_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker) {
    (void)worker;
    if (--entry->worker_holds < 0)
        acl_msg_fatal("%s(%d): worker_holds(%d) < 0", __func__, __LINE__, entry->worker_holds);
}

int64_t store_ctrl_entry_downloaded(const STORE_CTRL_ENTRY* entry) {
    return store_range_set_sum(entry->ranges);
}

int64_t store_ctrl_entry_prefix_end(const STORE_CTRL_ENTRY* entry) {
    const STORE_RANGE* first = store_range_set_index(entry->ranges, 0);
    return first != nullptr ? first->end : -1;
}

int store_ctrl_entry_covered(const STORE_CTRL_ENTRY* entry) {
    return entry->content_length > 0 && store_ctrl_entry_downloaded(entry) >= entry->content_length;
}
