// Blocking header and body readers over a buffered stream.
#include "http_chat_sync.h"

#include <algorithm>
#include <string>

#include "acl_msg.h"

namespace {

// Reads one line with its "\n" into `buf`. A line longer than the buffer is
// cut: its remaining pieces are read and dropped, so that what follows is
// never mistaken for a line of its own. The bytes stored, or -1 when nothing
// could be read.
int read_line(ACL_VSTREAM* stream, char* buf, size_t size) {
    int n = acl_vstream_gets(stream, buf, size);
    if (n == ACL_VSTREAM_EOF) return -1;
    if ((n > 0 && buf[n - 1] == '\n') || static_cast<size_t>(n) < size - 1)
        return n;  // a whole line, or the last one of the stream

    char rest[HTTP_CHAT_SYNC_LINE_MAX];
    for (;;) {
        int m = acl_vstream_gets(stream, rest, sizeof(rest));
        if (m == ACL_VSTREAM_EOF || (m > 0 && rest[m - 1] == '\n') ||
            static_cast<size_t>(m) < sizeof(rest) - 1)
            break;
    }
    return n;
}

int read_failure_status(const ACL_VSTREAM* stream) {
    return (stream->flag & ACL_VSTREAM_FLAG_TIMEOUT) ? HTTP_CHAT_ERR_TIMEOUT : HTTP_CHAT_ERR_IO;
}

}  // namespace

int http_hdr_get_sync(HTTP_HDR* hdr, ACL_VSTREAM* stream, int timeout) {
    if (hdr == nullptr || stream == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_get_sync", __LINE__);

    const int saved_timeout = stream->rw_timeout;
    if (timeout > 0) stream->rw_timeout = timeout;

    char line[HTTP_CHAT_SYNC_LINE_MAX];
    int ret;
    for (;;) {
        int n = read_line(stream, line, sizeof(line));
        if (n < 0) {
            ret = read_failure_status(stream);
            break;
        }
        ret = http_hdr_feed_line(hdr, line, static_cast<size_t>(n));
        if (ret != HTTP_HDR_FEED_MORE) break;
    }
    stream->rw_timeout = saved_timeout;
    return ret;
}

int http_hdr_req_get_sync(HTTP_HDR_REQ* req, ACL_VSTREAM* stream, int timeout) {
    return http_hdr_get_sync(&req->hdr, stream, timeout);
}

int http_hdr_res_get_sync(HTTP_HDR_RES* res, ACL_VSTREAM* stream, int timeout) {
    return http_hdr_get_sync(&res->hdr, stream, timeout);
}

int http_res_body_get_sync2(HTTP_RES* res, ACL_VSTREAM* stream, void* buf, int size) {
    static const char myname[] = "http_res_body_get_sync2";

    if (res == nullptr || stream == nullptr || buf == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    if (size <= 0) {
        acl_msg_error("%s, %s(%d): size(%d) invalid", __FILE_NAME__, myname, __LINE__, size);
        return -1;
    }
    const HTTP_HDR& hdr = res->hdr_res->hdr;
    if (!hdr.chunked && hdr.content_length == 0) {
        acl_msg_error("%s, %s(%d): content_length(%d)", __FILE_NAME__, myname, __LINE__, 0);
        return 0;
    }
    HTTP_BODY* body = res->body;
    if (!http_body_started(body)) http_body_start(body, hdr.chunked, hdr.content_length, 1);

    for (;;) {
        int64_t max = 0;
        switch (http_body_want(body, &max)) {
            case HTTP_BODY_WANT_NONE:
                return body->state == HTTP_BODY_FAILED ? -1 : 0;

            case HTTP_BODY_WANT_LINE: {
                const int state = body->state;
                char line[HTTP_CHAT_SYNC_LINE_MAX];
                int n = read_line(stream, line, sizeof(line));
                int status =
                    n < 0 ? HTTP_CHAT_ERR_IO : http_body_feed(body, line, static_cast<size_t>(n));
                if (status < HTTP_CHAT_ERR_MIN) continue;
                if (state == HTTP_BODY_CHUNK_SIZE) {
                    std::string text(line, n < 0 ? 0 : static_cast<size_t>(n));
                    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                        text.pop_back();
                    acl_msg_error("%s(%d): chunked hdr(%s) invalid", myname, __LINE__,
                                  text.c_str());
                } else if (state == HTTP_BODY_CHUNK_END)
                    acl_msg_error("%s(%d): gets sep line error", myname, __LINE__);
                else
                    acl_msg_error("%s(%d): get line error", myname, __LINE__);
                return -1;
            }

            case HTTP_BODY_WANT_DATA: {
                size_t want = static_cast<size_t>(std::min<int64_t>(max, size));
                int got = acl_vstream_read(stream, buf, want);
                if (got <= 0) {
                    acl_msg_error("%s(%d): read error(%s), %lld bytes still due", myname, __LINE__,
                                  acl_vstream_strerror(stream), static_cast<long long>(max));
                    return -1;
                }
                http_body_feed(body, static_cast<const char*>(buf), static_cast<size_t>(got));
                return got;
            }

            case HTTP_BODY_WANT_ANY: {
                int got = acl_vstream_read(stream, buf, static_cast<size_t>(size));
                if (got <= 0)
                    return (stream->flag & (ACL_VSTREAM_FLAG_ERR | ACL_VSTREAM_FLAG_TIMEOUT)) ? -1
                                                                                              : 0;
                http_body_feed(body, static_cast<const char*>(buf), static_cast<size_t>(got));
                return got;
            }
        }
    }
}
