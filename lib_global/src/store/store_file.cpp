// Cache file names, the state check, opening and sizing, and writes at offsets.
#include "store/store_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "platform/file.h"
#include "store/store_ctrl_entry.h"
#include "store/store_range.h"
#include "store/store_worker.h"

namespace {

STORE_FILE_SIZING_FN g_sizing = nullptr;

const char* last_error() { return std::strerror(errno); }

int seek_to(ACL_VSTREAM* stream, int64_t offset, const char* func, int line) {
    if (acl_vstream_fseek(stream, offset) < 0) {
        acl_msg_error("%s(%d): fseek error(%s)", func, line, acl_vstream_strerror(stream));
        return -1;
    }
    return 0;
}

}  // namespace

STORE_FILE_SIZING_FN store_file_set_sizing_seam(STORE_FILE_SIZING_FN fn) {
    STORE_FILE_SIZING_FN old = g_sizing;
    g_sizing = fn;
    return old;
}

int store_file_path(char* buf, std::size_t size, const char* dir, const char* id, const char* ext) {
    std::string folder = dir != nullptr ? dir : "";
    std::replace(folder.begin(), folder.end(), '\\', '/');
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const char* e = ext != nullptr && *ext != '\0' ? ext : STORE_FILE_EXT;
    int n = std::snprintf(buf, size, "%s/%s.%s", folder.c_str(), id, e);
    return n < 0 || static_cast<std::size_t>(n) >= size ? -1 : 0;
}

int store_file_check(STORE_CTRL_ENTRY* entry) {
    if (platform::file_access_rw(entry->path) == 0) {
        entry->complete = 1;
        entry->fp = nullptr;
        entry->max_thread = 0;
        return STORE_FILE_FINISHED;
    }
    if (errno == EACCES) {
        acl_msg_error("%s(%d): access file(%s) not permission, error(%s)", __func__, __LINE__,
                      entry->path, last_error());
        return STORE_FILE_ERROR;
    }
    if (errno != ENOENT) {
        acl_msg_error("%s(%d): file(%s) exist, error(%s)", __func__, __LINE__, entry->path,
                      last_error());
        return STORE_FILE_ERROR;
    }
    char part[STORE_PATH_MAX];
    int n = std::snprintf(part, sizeof(part), "%s%s", entry->path, STORE_PART_SUFFIX);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof(part)) {
        acl_msg_error("%s(%d): file(%s) exist, error(%s)", __func__, __LINE__, entry->path,
                      "path too long");
        return STORE_FILE_ERROR;
    }
    if (platform::file_access_rw(part) == 0) {
        std::memcpy(entry->part_path, part, sizeof(part));
        return STORE_FILE_PARTIAL;
    }
    if (errno != ENOENT) {
        acl_msg_error("%s(%d): file(%s) exist, error(%s)", __func__, __LINE__, part, last_error());
        return STORE_FILE_ERROR;
    }
    std::memcpy(entry->part_path, part, sizeof(part));
    return STORE_FILE_NEW;
}

int store_file_fmtruncate(const char* path, int64_t length, bool* reserved) {
    bool got = false;
    int stage = 0;
    STORE_FILE_SIZING_FN fn = g_sizing != nullptr ? g_sizing : platform::file_size_at_least;
    int rc = fn(path, length, &got, &stage);
    if (reserved != nullptr) *reserved = rc == 0 && got;
    if (rc == 0) return 0;
    if (stage == platform::FILE_SIZING_OPEN)
        acl_msg_error("%s(%d): create file(%s) error(%s)", __func__, __LINE__, path, last_error());
    else
        acl_msg_error("%s(%d): create file map(%s) error(%s)", __func__, __LINE__, path,
                      last_error());
    return -1;
}

// Order: size the file (a file that cannot be sized is fetched by one
// connection, front to back, since scattered writes would extend it), open the
// stream, and fill a new file with zeros unless the sizing call reserved the
// length (a reserved file reads as zeros already; writing them again would
// block the controller thread for as long as the whole file takes to write).
int store_file_open(STORE_CTRL_ENTRY* entry, int resume) {
    int how = platform::FD_WRITE | platform::FD_CREATE | platform::FD_TRUNCATE;
    bool reserved = false;
    int64_t len = entry->content_length;
    if (len > 0) {
        if (store_file_fmtruncate(entry->part_path, len, &reserved) == 0) {
            how = platform::FD_WRITE | platform::FD_CREATE;
        } else {
            entry->max_thread = 1;
            entry->worker_limit = 1;
        }
    }
    entry->fp = acl_vstream_fopen(entry->part_path, how, STORE_FILE_MODE, STORE_FILE_DOWNLOAD_BUF);
    if (entry->fp == nullptr) {
        acl_msg_error("%s(%d): open file(%s) error(%s)", __func__, __LINE__, entry->part_path,
                      last_error());
        return -1;
    }
    if (!resume && len > 0 && !reserved) store_file_init(entry->fp, len);
    return 0;
}

int64_t store_file_put(ACL_VSTREAM* stream, const char* data, int64_t length) {
    if (seek_to(stream, 0, __func__, __LINE__) < 0) return -1;
    if (acl_vstream_buffed_writen(stream, data, static_cast<std::size_t>(length)) ==
        ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): write file error(%s)", __func__, __LINE__,
                      acl_vstream_strerror(stream));
        return -1;
    }
    return length;
}

int64_t store_file_write(STORE_WORKER* worker) {
    if (worker->data == nullptr) {
        acl_msg_error("%s(%d): sw->data null", __func__, __LINE__);
        return -1;
    }
    if (worker->dlen <= 0) {
        acl_msg_error("%s(%d): sw->dlen(%d) <= 0", __func__, __LINE__,
                      static_cast<int>(worker->dlen));
        return -1;
    }
    if (seek_to(worker->fp, worker->from, __func__, __LINE__) < 0) return -1;
    if (acl_vstream_buffed_writen(worker->fp, worker->data,
                                  static_cast<std::size_t>(worker->dlen)) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): write file error(%s), data %s", __func__, __LINE__,
                      acl_vstream_strerror(worker->fp), worker->data ? "not null" : "null");
        return -1;
    }
    return worker->dlen;
}

int store_file_reuse(STORE_CTRL_ENTRY* entry) {
    int64_t size = platform::file_size(entry->path);
    if (size < 0) {
        acl_msg_error("%s(%d): stat file(%s) error(%s)", __func__, __LINE__, entry->path,
                      last_error());
        return -1;
    }
    store_range_set_insert(entry->ranges, 0, size);
    return 0;
}

void store_file_init(ACL_VSTREAM* stream, int64_t length) {
    static const char zeros[STORE_FILE_FILL_PIECE] = {};
    while (length > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<int64_t>(length, sizeof(zeros)));
        if (acl_vstream_writen(stream, zeros, n) == ACL_VSTREAM_EOF) {
            acl_msg_error("%s(%d): write to file error(%s)", __func__, __LINE__,
                          acl_vstream_strerror(stream));
            return;
        }
        length -= static_cast<int64_t>(n);
    }
}

int store_file_ftruncate(ACL_VSTREAM* stream, int64_t length) {
    if (seek_to(stream, length, __func__, __LINE__) < 0) return -1;
    if (platform::fd_truncate(ACL_VSTREAM_SOCK(stream), length) != 0) {
        acl_msg_error("%s(%d): SetEndOfFile error(%s)", __func__, __LINE__, last_error());
        return -1;
    }
    return seek_to(stream, 0, __func__, __LINE__);
}

int store_file_truncate(const char* path, int64_t length) {
    ACL_VSTREAM* fp = acl_vstream_fopen(path, platform::FD_WRITE | platform::FD_CREATE,
                                        STORE_FILE_MODE, STORE_FILE_STAT_BUF);
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__, path, last_error());
        return -1;
    }
    int rc = store_file_ftruncate(fp, length);
    acl_vstream_close(fp);
    return rc;
}

int store_file_flush(STORE_CTRL_ENTRY* entry) {
    if (entry->fp == nullptr) return 0;
    if (acl_vstream_fflush(entry->fp) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): fflush file(%s) error(%s)", __func__, __LINE__, entry->part_path,
                      acl_vstream_strerror(entry->fp));
        return -1;
    }
    return 0;
}
