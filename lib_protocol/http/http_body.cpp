// Body framing: what to read next and the status of each unit read.
#include "http_body.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "acl_msg.h"
#include "http_status.h"

namespace {

bool is_bare_line_break(const char* line, size_t len) {
    return (len == 1 && line[0] == '\n') || (len == 2 && line[0] == '\r' && line[1] == '\n');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

HTTP_BODY* http_body_new(void) {
    auto* body = new (std::nothrow) HTTP_BODY;
    if (body == nullptr)
        acl_msg_fatal("%s, %s(%d): can't calloc, error=%s", __FILE_NAME__, "http_body_new",
                      __LINE__, std::strerror(errno));
    return body;
}

void http_body_free(HTTP_BODY* body) { delete body; }

void http_body_start(HTTP_BODY* body, int chunked, int64_t content_length, int read_until_close) {
    body->total = 0;
    body->data_total = 0;
    body->left = 0;
    if (chunked) {
        body->state = HTTP_BODY_CHUNK_SIZE;
    } else if (content_length > 0) {
        body->state = HTTP_BODY_LENGTH;
        body->left = content_length;
    } else {
        body->state = read_until_close ? HTTP_BODY_UNTIL_CLOSE : HTTP_BODY_DONE;
    }
}

int http_body_started(const HTTP_BODY* body) { return body->state != HTTP_BODY_UNSTARTED; }

HTTP_BODY_WANT http_body_want(const HTTP_BODY* body, int64_t* max) {
    switch (body->state) {
        case HTTP_BODY_LENGTH:
        case HTTP_BODY_CHUNK_DATA:
            if (max != nullptr) *max = body->left;
            return HTTP_BODY_WANT_DATA;
        case HTTP_BODY_UNTIL_CLOSE:
            return HTTP_BODY_WANT_ANY;
        case HTTP_BODY_CHUNK_SIZE:
        case HTTP_BODY_CHUNK_END:
        case HTTP_BODY_TRAILER:
            return HTTP_BODY_WANT_LINE;
        default:
            return HTTP_BODY_WANT_NONE;
    }
}

int http_body_chunk_size(const char* line, size_t len, int64_t* size) {
    // The size comes first on its line (RFC 9112 section 7.1): a reader that
    // skipped leading blanks would find sizes that others do not.
    size_t i = 0;
    uint64_t value = 0;
    size_t digits = 0;
    for (int d; i < len && (d = hex_value(line[i])) >= 0; i++, digits++) {
        if (value > (static_cast<uint64_t>(INT64_MAX) >> 4))
            return -1;  // one more digit would not fit 63 bits
        value = value << 4 | static_cast<uint64_t>(d);
    }
    if (digits == 0) return -1;
    if (i < len && line[i] != ';' && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
        line[i] != '\n')
        return -1;
    *size = static_cast<int64_t>(value);
    return 0;
}

int http_body_feed(HTTP_BODY* body, const char* data, size_t len) {
    static const char myname[] = "http_body_feed";

    switch (body->state) {
        case HTTP_BODY_LENGTH:
        case HTTP_BODY_CHUNK_DATA:
            if (len == 0 || static_cast<uint64_t>(len) > static_cast<uint64_t>(body->left))
                acl_msg_fatal("%s(%d): len(%zu) not within left(%lld)", myname, __LINE__, len,
                              static_cast<long long>(body->left));
            body->left -= static_cast<int64_t>(len);
            body->total += static_cast<int64_t>(len);
            body->data_total += static_cast<int64_t>(len);
            if (body->left == 0)
                body->state =
                    body->state == HTTP_BODY_LENGTH ? HTTP_BODY_DONE : HTTP_BODY_CHUNK_END;
            return HTTP_CHAT_DATA;

        case HTTP_BODY_UNTIL_CLOSE:
            body->total += static_cast<int64_t>(len);
            body->data_total += static_cast<int64_t>(len);
            return HTTP_CHAT_DATA;

        case HTTP_BODY_CHUNK_SIZE: {
            int64_t size = 0;
            if (http_body_chunk_size(data, len, &size) < 0) {
                body->state = HTTP_BODY_FAILED;
                return HTTP_CHAT_ERR_PROTO;
            }
            body->total += static_cast<int64_t>(len);
            body->left = size;
            body->state = size > 0 ? HTTP_BODY_CHUNK_DATA : HTTP_BODY_TRAILER;
            return HTTP_CHAT_CHUNK_HDR;
        }

        case HTTP_BODY_CHUNK_END:
            // Anything but a bare line break means the chunk was longer than its
            // size line said: the framing is lost.
            if (!is_bare_line_break(data, len)) {
                body->state = HTTP_BODY_FAILED;
                return HTTP_CHAT_ERR_PROTO;
            }
            body->total += static_cast<int64_t>(len);
            body->state = HTTP_BODY_CHUNK_SIZE;
            return HTTP_CHAT_DATA;

        case HTTP_BODY_TRAILER:
            body->total += static_cast<int64_t>(len);
            if (is_bare_line_break(data, len)) body->state = HTTP_BODY_DONE;
            return HTTP_CHAT_CHUNK_TRAILER;

        default:
            acl_msg_fatal("%s(%d): body wants nothing, state(%d)", myname, __LINE__, body->state);
    }
}

int http_body_closed(const HTTP_BODY* body) {
    return body->state == HTTP_BODY_UNTIL_CLOSE || body->state == HTTP_BODY_DONE ? HTTP_CHAT_OK
                                                                                 : HTTP_CHAT_ERR_IO;
}
