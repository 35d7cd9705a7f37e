// The dump upload of tarvologger: connect, header line, file body.
#include "logger_dump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/file.h"
#include "platform/self.h"

namespace {

// The header's size field is a signed 32-bit number: larger files cannot be
// announced, so they are refused like an empty one.
constexpr std::int64_t kSizeMax = std::numeric_limits<std::int32_t>::max();

// The text of the stream's own failure when it has one, else the system's.
std::string write_error_text(const ACL_VSTREAM* stream) {
    const char* text = acl_vstream_strerror(stream);
    if (text != nullptr && *text != '\0') return text;
    return platform::last_error_text();
}

}  // namespace

LOGGER_DUMP* logger_dump_new(const char* addr) {
    if (addr == nullptr) acl_msg_fatal("%s(%d): addr null", __func__, __LINE__);
    LOGGER_DUMP* dump = new LOGGER_DUMP;
    std::snprintf(dump->addr, sizeof(dump->addr), "%s", addr);
    dump->stream = nullptr;
    dump->conn_timeout = LOGGER_DUMP_TIMEOUT;
    dump->rw_timeout = LOGGER_DUMP_TIMEOUT;
    return dump;
}

void logger_dump_free(LOGGER_DUMP* dump) {
    if (dump == nullptr) return;
    if (dump->stream != nullptr) acl_vstream_close(dump->stream);
    delete dump;
}

int logger_dump_connect(LOGGER_DUMP* dump) {
    if (dump == nullptr) acl_msg_fatal("%s(%d): dump null", __func__, __LINE__);
    if (dump->stream != nullptr)
        acl_msg_fatal("%s(%d): addr(%s) already connected", __func__, __LINE__, dump->addr);

    errno = 0;
    dump->stream = acl_vstream_connect_ex(dump->addr, ACL_BLOCKING, dump->conn_timeout,
                                          dump->rw_timeout, ACL_VSTREAM_BUFSIZE);
    if (dump->stream == nullptr) {
        acl_msg_error("%s(%d): connect addr(%s) error(%s)", __func__, __LINE__, dump->addr,
                      platform::last_error_text().c_str());
        return -1;
    }
    return 0;
}

std::int64_t file_size(const char* filepath) {
    std::int64_t size = platform::file_size(filepath);
    if (size < 0) {
        acl_msg_error("%s(%d): stat filepath(%s) error(%s)", __func__, __LINE__, filepath,
                      platform::last_error_text().c_str());
        return -1;
    }
    return size;
}

int logger_dump_file(LOGGER_DUMP* dump, const char* filepath, const char* version,
                     unsigned int uid) {
    if (dump == nullptr || dump->stream == nullptr || filepath == nullptr || version == nullptr)
        acl_msg_fatal("%s(%d): input invalid", __func__, __LINE__);

    std::int64_t size = file_size(filepath);
    if (size <= 0 || size > kSizeMax) {
        acl_msg_error("%s(%d): filepath(%s)'s size(%lld) invalid", __func__, __LINE__, filepath,
                      static_cast<long long>(size));
        return -1;
    }

    if (acl_vstream_fprintf(dump->stream, "%s:uid=%u|file=%s|ver=%s|size=%d\r\n", LOGGER_DUMP_HEAD,
                            uid, filepath, version, static_cast<int>(size)) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): write to addr(%s) error", __func__, __LINE__, dump->addr);
        return -1;
    }

    std::FILE* fp = std::fopen(filepath, "rb");
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__, filepath,
                      platform::last_error_text().c_str());
        return -1;
    }
    char buf[LOGGER_DUMP_READ_SIZE];
    std::setvbuf(fp, nullptr, _IOFBF, sizeof(buf));

    // `count` is what the file held when read; at most the announced `size`
    // bytes go out, so that a dump that grew meanwhile cannot put bytes on the
    // wire that the header did not announce.
    std::int64_t count = 0;
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), fp)) > 0) {
        std::int64_t room = size - count;
        count += static_cast<std::int64_t>(n);
        if (room <= 0) continue;
        std::size_t send = static_cast<std::int64_t>(n) < room ? n : static_cast<std::size_t>(room);
        if (acl_vstream_writen(dump->stream, buf, send) == ACL_VSTREAM_EOF) {
            std::fclose(fp);
            acl_msg_error("%s(%d): write to addr(%s) error(%s)", __func__, __LINE__, dump->addr,
                          write_error_text(dump->stream).c_str());
            return -1;
        }
    }

    if (count == size)
        acl_msg_info("%s(%d): dump size(%lld) == file(%s)'s size(%d)", __func__, __LINE__,
                     static_cast<long long>(count), filepath, static_cast<int>(size));
    else
        acl_msg_warn("%s(%d): dump size(%lld) != file(%s)'s size(%d)", __func__, __LINE__,
                     static_cast<long long>(count), filepath, static_cast<int>(size));
    std::fclose(fp);
    return 0;
}
