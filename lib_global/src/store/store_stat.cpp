// The progress trailer of a ".part" file: written after the body, read back on
// resume.
#include "store/store_stat.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "store/store_ctrl_entry.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_time.h"

namespace {

void put_le(unsigned char* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t get_le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; i++) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

void seal(unsigned char* rec) {
    rec[0] = rec[1] = 0;
    put_le(rec, store_stat_checksum(rec, STORE_STAT_RECORD), 2);
}

bool sealed(const unsigned char* rec) {
    unsigned char copy[STORE_STAT_RECORD];
    std::memcpy(copy, rec, sizeof(copy));
    copy[0] = copy[1] = 0;
    return get_le(rec, 2) == store_stat_checksum(copy, sizeof(copy));
}

int give_up(ACL_VSTREAM* fp) {
    acl_vstream_close(fp);
    return -1;
}

int read_at(ACL_VSTREAM* fp, int64_t offset, unsigned char* buf, std::size_t len) {
    if (acl_vstream_fseek(fp, offset) < 0) {
        acl_msg_error("%s(%d): fseek error(%s)", __func__, __LINE__, acl_vstream_strerror(fp));
        return -1;
    }
    if (acl_vstream_readn(fp, buf, len) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): read error(%s)", __func__, __LINE__,
                      *acl_vstream_strerror(fp) == '\0' ? "end of file" : acl_vstream_strerror(fp));
        return -1;
    }
    return 0;
}

// The whole trailer, checked; false when anything about it is wrong.
bool read_trailer(ACL_VSTREAM* fp, int64_t len, std::vector<STORE_RANGE>& out) {
    int64_t size = platform::fd_size(ACL_VSTREAM_SOCK(fp));
    if (size < 0) return false;
    int64_t tail = size - len;
    if (tail <= STORE_STAT_RECORD || (tail - STORE_STAT_RECORD) % STORE_STAT_RECORD != 0)
        return false;
    int64_t k = (tail - STORE_STAT_RECORD) / STORE_STAT_RECORD;

    unsigned char ctl[STORE_STAT_RECORD];
    if (read_at(fp, size - STORE_STAT_RECORD, ctl, sizeof(ctl)) < 0) return false;
    if (!sealed(ctl)) {
        acl_msg_error("%s(%d): checksum error", __func__, __LINE__);
        return false;
    }
    int32_t n = static_cast<int32_t>(get_le(ctl + 24, 4));
    if (n != k) {
        acl_msg_error("%s(%d): nitem(%d) !=%d", __func__, __LINE__, n, static_cast<int>(k));
        return false;
    }
    std::vector<unsigned char> recs(static_cast<std::size_t>(n) * STORE_STAT_RECORD);
    if (read_at(fp, len, recs.data(), recs.size()) < 0) return false;
    for (int32_t i = 0; i < n; i++) {
        const unsigned char* rec = recs.data() + static_cast<std::size_t>(i) * STORE_STAT_RECORD;
        if (!sealed(rec)) {
            acl_msg_error("%s(%d): checksum error", __func__, __LINE__);
            return false;
        }
        int64_t begin = static_cast<int64_t>(get_le(rec + 8, 8));
        int64_t end = static_cast<int64_t>(get_le(rec + 24, 8));
        if (begin >= end) {
            acl_msg_warn("%s(%d): off_begin(%lu) >= off_end(%lu)", __func__, __LINE__,
                         static_cast<unsigned long>(begin), static_cast<unsigned long>(end));
            continue;
        }
        // A range outside the body cannot come from this download's trailer.
        if (begin < 0 || end > len) {
            acl_msg_error("%s(%d): range(%lld, %lld) out of length(%lld)", __func__, __LINE__,
                          static_cast<long long>(begin), static_cast<long long>(end),
                          static_cast<long long>(len));
            return false;
        }
        out.push_back(STORE_RANGE{begin, end});
    }
    return true;
}

}  // namespace

uint16_t store_stat_checksum(const unsigned char* record, std::size_t len) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<uint32_t>(record[i]) | static_cast<uint32_t>(record[i + 1]) << 8;
    if (len % 2 != 0) sum += record[len - 1];
    sum = (sum >> 16) + (sum & 0xffff);
    sum = (sum >> 16) + (sum & 0xffff);
    return static_cast<uint16_t>(~sum & 0xffff);
}

int store_stat_log(STORE_CTRL_ENTRY* entry) {
    int64_t len = entry->content_length;
    if (len <= 0) return 0;
    // The trailer may only record bytes the file already holds.
    if (store_file_flush(entry) != 0) return -1;

    ACL_VSTREAM* fp = acl_vstream_fopen(entry->part_path, platform::FD_WRITE, STORE_FILE_MODE,
                                        STORE_FILE_STAT_BUF);
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen error(%s)", __func__, __LINE__, std::strerror(errno));
        return -1;
    }
    if (acl_vstream_fseek(fp, len) < 0) {
        acl_msg_error("%s(%d): fseek error(%s)", __func__, __LINE__, acl_vstream_strerror(fp));
        return give_up(fp);
    }
    int n = store_range_set_size(entry->ranges);
    for (int i = 0; i < n; i++) {
        const STORE_RANGE* r = store_range_set_index(entry->ranges, i);
        unsigned char rec[STORE_STAT_RECORD] = {};
        put_le(rec + 8, static_cast<uint64_t>(r->begin), 8);
        put_le(rec + 16, static_cast<uint64_t>(r->end), 8);
        put_le(rec + 24, static_cast<uint64_t>(r->end), 8);
        seal(rec);
        if (acl_vstream_buffed_writen(fp, rec, sizeof(rec)) == ACL_VSTREAM_EOF) {
            acl_msg_error("%s(%d): write stat_item error", __func__, __LINE__);
            return give_up(fp);
        }
    }
    unsigned char ctl[STORE_STAT_RECORD] = {};
    put_le(ctl + 8, static_cast<uint64_t>(len), 8);
    put_le(ctl + 16, static_cast<uint64_t>(store_range_set_sum(entry->ranges)), 8);
    put_le(ctl + 24, static_cast<uint32_t>(n), 4);
    seal(ctl);
    if (acl_vstream_buffed_writen(fp, ctl, sizeof(ctl)) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): write stat_ctrl error", __func__, __LINE__);
        return give_up(fp);
    }
    if (acl_vstream_fflush(fp) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): fflush error", __func__, __LINE__);
        return give_up(fp);
    }
    int rc = store_file_ftruncate(fp, len + STORE_STAT_RECORD * (static_cast<int64_t>(n) + 1));
    acl_vstream_close(fp);
    return rc;
}

int store_stat_log_due(STORE_CTRL_ENTRY* entry) {
    time_t now = store_time_now();
    if (now - entry->stat_time <= 1) return 0;
    entry->stat_time = now;
    store_stat_log(entry);
    return 1;
}

int store_stat_rest(STORE_CTRL_ENTRY* entry) {
    int64_t len = entry->content_length;
    if (len <= 0) return 0;
    ACL_VSTREAM* fp = acl_vstream_fopen(entry->part_path, platform::FD_READ, STORE_FILE_MODE,
                                        STORE_FILE_STAT_BUF);
    if (fp == nullptr) {
        if (errno != ENOENT)
            acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__, entry->part_path,
                          std::strerror(errno));
        return 0;
    }
    if (platform::fd_size(ACL_VSTREAM_SOCK(fp)) < 0) {
        acl_msg_error("%s(%d): stat file(%s) error(%s)", __func__, __LINE__, entry->part_path,
                      std::strerror(errno));
        acl_vstream_close(fp);
        return 0;
    }
    std::vector<STORE_RANGE> ranges;
    bool ok = read_trailer(fp, len, ranges);
    acl_vstream_close(fp);
    if (!ok) return 0;
    for (const auto& r : ranges) store_range_set_insert(entry->ranges, r.begin, r.end);
    return 1;
}
