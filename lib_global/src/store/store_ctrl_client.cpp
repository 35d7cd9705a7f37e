// The controller's side of the client conversation: open or join, offer data,
// park, quit; and freeing an entry once nobody uses it.
#include <cerrno>
#include <cstring>

#include "acl_htable.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store/store_time.h"
#include "store/store_worker.h"
#include "store_ctrl_private.h"

namespace {

void drop_new_entry(STORE_CTRL* ctrl, STORE_CTRL_ENTRY* entry) {
    acl_htable_delete(ctrl->table, entry->id, nullptr);
    store_ctrl_entry_free(entry);
}

// Creates the entry and its cache file by the file's state. Null on failure
// (the entry is then gone again). `*server_taken` tells whether the client's
// upstream connection went to a first worker.
STORE_CTRL_ENTRY* create_entry(STORE_CTRL* ctrl, STORE_CLIENT* client, bool* server_taken) {
    STORE_CTRL_ENTRY* entry = ctrl->ops.ctrl_entry_new(ctrl, client);
    int state = store_file_check(entry);
    switch (state) {
        case STORE_FILE_NEW:
            if (store_file_open(entry, 0) != 0) break;
            if (client->data != nullptr) {
                if (store_file_put(entry->fp, client->data, client->dlen) < 0) break;
                store_range_set_insert(entry->ranges, 0, client->dlen);
                entry->http_bytes += client->dlen;
            }
            if (client->server != nullptr) {
                STORE_WORKER* w =
                    ctrl->ops.first_worker_create(entry, client->server, client->dlen);
                *server_taken = true;
                w->first = 1;
                store_ctrl_entry_count_worker(entry, w, 0);
                store_ctrl_queue_worker(ctrl, w, 1);
            } else {
                store_ctrl_start_worker(entry);
            }
            return entry;
        case STORE_FILE_PARTIAL:
            if (store_file_open(entry, 1) != 0) break;
            if (store_stat_rest(entry)) store_ctrl_entry_upstat(entry);
            store_ctrl_start_worker(entry);
            return entry;
        case STORE_FILE_FINISHED:
            if (store_file_reuse(entry) != 0) break;
            return entry;
        case STORE_FILE_ERROR:
            break;
        default:
            acl_msg_fatal("%s(%d): unknown ret(%d) from store_file_check", __func__, __LINE__,
                          state);
    }
    drop_new_entry(ctrl, entry);
    return nullptr;
}

STORE_CTRL_ENTRY* store_ctrl_client_open(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    STORE_CTRL_ENTRY* entry = store_ctrl_find(ctrl, client->id);
    bool created = false;
    bool server_taken = false;
    if (entry == nullptr) {
        entry = create_entry(ctrl, client, &server_taken);
        created = entry != nullptr;
    }
    if (!server_taken && client->server != nullptr) {
        acl_vstream_close(client->server);
    }
    client->server = nullptr;
    if (entry == nullptr) return nullptr;

    if (client->fp != nullptr)
        acl_msg_fatal("%s(%d): be called twice, url(%s)", __func__, __LINE__, client->id);
    client->fp = acl_vstream_fopen(entry->part_path,
                                   platform::FD_READ | platform::FD_WRITE | platform::FD_CREATE,
                                   STORE_FILE_MODE, STORE_FILE_READ_BUF);
    if (client->fp == nullptr) {
        acl_msg_error("%s(%d): open file(%s) error(%s)", __func__, __LINE__, entry->part_path,
                      std::strerror(errno));
        // A worker already queued still holds the new entry; it is freed when
        // that worker has quit.
        if (created && entry->worker_holds == 0) drop_new_entry(ctrl, entry);
        return nullptr;
    }
    entry->client_opens++;
    return entry;
}

}  // namespace

int store_ctrl_offer(STORE_CTRL_ENTRY* entry, STORE_CLIENT* client) {
    const STORE_RANGE* first = store_range_set_index(entry->ranges, 0);
    if (first != nullptr && first->begin <= client->position && first->end > client->position) {
        // The client reads through its own stream: bytes still in the
        // download stream's buffer must be in the file before it is told.
        if (store_file_flush(entry) != 0) return 0;
        client->avail = first->end - client->position;
        store_ctrl_send(client->queue, MSG_CTRL_DATA_READY, client);
        return 1;
    }
    if (entry->complete) {
        store_ctrl_send(client->queue, MSG_CTRL_STOP, client);
        return 1;
    }
    return 0;
}

void store_ctrl_notify_clients(STORE_CTRL_ENTRY* entry) {
    STORE_RING* p = entry->waiters.next;
    while (p != &entry->waiters) {
        STORE_RING* next = p->next;
        auto* client = reinterpret_cast<STORE_CLIENT*>(p);
        if (store_ctrl_offer(entry, client)) {
            store_ring_detach(p);
            client->waiting = 0;
        }
        p = next;
    }
}

void store_ctrl_try_free(STORE_CTRL_ENTRY* entry) {
    if (entry->client_opens != 0 || entry->worker_holds != 0) return;
    acl_debug(STORE_DEBUG_SECTION, 2)("%s(%d): ok, can free", __func__, __LINE__);
    STORE_CTRL* ctrl = entry->ctrl;
    store_file_close(entry);
    acl_htable_delete(ctrl->table, entry->id, nullptr);
    on_download_over(entry);
    store_ctrl_entry_free(entry);
}

void store_ctrl_msg_client_open(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    if (client->max_thread < 1)
        acl_msg_fatal("%s(%d): max_thread(%d) invalid", __func__, __LINE__, client->max_thread);
    STORE_CTRL_ENTRY* entry = store_ctrl_client_open(ctrl, client);
    if (entry == nullptr) {
        store_ctrl_send(client->queue, MSG_CTRL_OPEN_ERR, client);
        return;
    }
    client->entry = entry;
    store_ctrl_send(client->queue, MSG_CTRL_OPEN_OK, client);
}

void store_ctrl_msg_client_ready(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    STORE_CTRL_ENTRY* entry = store_ctrl_find(ctrl, client->id);
    if (entry == nullptr)
        acl_msg_fatal("%s(%d): please send MSG_CLIENT_REQUEST first", __func__, __LINE__);
    if (!store_ctrl_offer(entry, client)) {
        store_ring_append(&entry->waiters, &client->ring);
        client->waiting = 1;
    }
}

void store_ctrl_msg_client_quit(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    STORE_CTRL_ENTRY* entry = store_ctrl_find(ctrl, client->id);
    if (entry == nullptr) {
        acl_msg_error("%s(%d): url(%s) not found", __func__, __LINE__, client->id);
    } else {
        entry->client_opens--;
        if (client->fp != nullptr) {
            acl_vstream_close(client->fp);
            client->fp = nullptr;
        }
        store_ring_detach(&client->ring);
        client->waiting = 0;
        store_ctrl_try_free(entry);
    }
    // The client waits for this answer whatever happened: without it its
    // thread would never end.
    acl_debug(STORE_DEBUG_SECTION, 2)("%s(%d): Ok, send bye to client", __func__, __LINE__);
    store_ctrl_send(client->queue, MSG_CTRL_BYE, client);
}
