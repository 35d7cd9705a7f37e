// The statistics line of a completed download and its way to the logging server.
#include <cstdio>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "store/store_stat.h"

int store_stat_line(char* buf, std::size_t size, unsigned uid, const char* rc, uint64_t total_len,
                    uint64_t http_len, unsigned http_speed, uint64_t p2p_len, unsigned p2p_speed) {
    int n = std::snprintf(
        buf, size,
        "%s:uid=%u|rc=%s|total_len=%llu|http(len=%llu,speed=%u)|p2p(len=%llu,speed=%u)\r\n",
        "client_download_stat", uid, rc, static_cast<unsigned long long>(total_len),
        static_cast<unsigned long long>(http_len), http_speed,
        static_cast<unsigned long long>(p2p_len), p2p_speed);
    if (n < 0) return 0;
    return static_cast<std::size_t>(n) < size ? n : static_cast<int>(size) - 1;
}

int store_logger_write(const char* addr, const char* line) {
    ACL_VSTREAM* conn = acl_vstream_connect_ex(addr, ACL_BLOCKING, STORE_LOGGER_TIMEOUT,
                                               STORE_LOGGER_TIMEOUT, STORE_STAT_LINE_MAX);
    if (conn == nullptr) {
        acl_msg_warn("%s(%d): can't connect logger server(%s)", __func__, __LINE__, addr);
        return -1;
    }
    int rc = 0;
    std::size_t len = std::char_traits<char>::length(line);
    if (acl_vstream_writen(conn, line, len) == ACL_VSTREAM_EOF) {
        acl_msg_warn("%s(%d): write to logger server(%s) error", __func__, __LINE__, addr);
        rc = -1;
    }
    acl_vstream_close(conn);
    return rc;
}
