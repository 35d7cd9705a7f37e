// What becomes of a download's files when its entry is freed.
#include <strings.h>

#include <cerrno>
#include <cstring>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/file.h"
#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_file.h"

namespace {

void unlink_file(const char* path) {
    if (platform::file_unlink(path) != 0)
        acl_msg_error("%s(%d): unlink file(%s) error(%s)", __func__, __LINE__, path,
                      std::strerror(errno));
}

}  // namespace

void store_file_close(STORE_CTRL_ENTRY* entry) {
    if (entry->fp == nullptr) return;
    // The rename below declares every byte of the file final: bytes still in
    // the stream's buffer must reach the file first.
    if (store_file_flush(entry) != 0) entry->complete = 0;
    if (acl_vstream_close(entry->fp) != 0) entry->complete = 0;
    entry->fp = nullptr;
}

void on_download_over(STORE_CTRL_ENTRY* entry) {
    if (strcasecmp(entry->part_path, entry->path) == 0) return;
    if (!entry->can_save) {
        unlink_file(entry->part_path);
        return;
    }
    if (!entry->complete) {
        // A file fetched by one connection has no useful trailer to resume from.
        if (entry->max_thread == 1 || !entry->part_save) unlink_file(entry->part_path);
        return;
    }
    if (platform::file_rename(entry->part_path, entry->path) != 0) {
        acl_msg_error("%s(%d): rename from %s to %s error(%s)", __func__, __LINE__,
                      entry->part_path, entry->path, std::strerror(errno));
        return;
    }
    if (entry->content_length > 0) store_file_truncate(entry->path, entry->content_length);
    if (entry->ctrl->ops.on_complete(entry) != 0) unlink_file(entry->path);
}
