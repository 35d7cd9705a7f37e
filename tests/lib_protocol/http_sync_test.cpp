// Blocking readers over a real socket stream: headers, bodies without chunk
// framing, cut lines, early close and time-out.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "acl_vstream.h"
#include "http_chat_sync.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "platform/socket.h"

namespace {

// A socket pair: the test writes `wire` into one end (and closes it unless
// told to keep it open); the reader gets a buffered stream on the other.
class Wire {
  public:
    explicit Wire(const std::string& wire, bool close_after = true, int rw_timeout = 0) {
        int fds[2];
        EXPECT_EQ(platform::sock_pair(fds), 0);
        writer_ = fds[1];
        stream_ = acl_vstream_fdopen(fds[0], 0, 8192, rw_timeout, ACL_VSTREAM_TYPE_SOCK);
        sender_ = std::thread([this, wire, close_after] {
            size_t off = 0;
            while (off < wire.size()) {
                long n = platform::sock_send(writer_, wire.data() + off, wire.size() - off);
                if (n <= 0) break;
                off += static_cast<size_t>(n);
            }
            if (close_after) close_writer();
        });
    }
    ~Wire() {
        sender_.join();
        close_writer();
        acl_vstream_close(stream_);
    }
    ACL_VSTREAM* stream() { return stream_; }

  private:
    void close_writer() {
        if (writer_ >= 0) platform::sock_close(writer_);
        writer_ = -1;
    }
    int writer_ = -1;
    ACL_VSTREAM* stream_ = nullptr;
    std::thread sender_;
};

// Reads a response header and its whole body through http_res_body_get_sync2
// with a buffer of `bufsize`; returns the body and the last result.
struct BodyResult {
    std::string body;
    int last;
};

BodyResult read_response(const std::string& wire, int bufsize) {
    Wire w(wire);
    HTTP_HDR_RES* res = http_hdr_res_new();
    EXPECT_EQ(http_hdr_res_get_sync(res, w.stream(), 0), HTTP_CHAT_OK);
    EXPECT_EQ(http_hdr_res_parse(res), 0);
    HTTP_RES* reader = http_res_new(res);
    BodyResult out{"", 0};
    std::string buf(static_cast<size_t>(bufsize), '\0');
    for (int guard = 0; guard < 100000; guard++) {
        out.last = http_res_body_get_sync2(reader, w.stream(), buf.data(), bufsize);
        if (out.last <= 0) break;
        EXPECT_LE(out.last, bufsize);
        out.body.append(buf.data(), static_cast<size_t>(out.last));
    }
    http_res_free(reader);
    http_hdr_res_free(res);
    return out;
}

}  // namespace

TEST(HttpChatSync, BodiesWithoutFraming) {
    const struct {
        const char* name;
        std::string wire;
        int bufsize;
        std::string body;
        int last;
    } cases[] = {
        {"one chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 64,
         "hello", 0},
        {"chunks, extensions and trailers through a small buffer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3;x=1\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\nX-T: 1\r\n\r\nNEXT",
         4, "abc0123456789abcdef", 0},
        {"length stops at the length",
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789tail", 3, "0123456789", 0},
        {"length cut short by close", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234", 64,
         "01234", -1},
        {"until close", "HTTP/1.0 200 OK\r\nServer: s\r\n\r\nall of it", 4, "all of it", 0},
        {"chunk cut short by close",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", 64, "hel", -1},
        {"trailer cut short by close",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\nX: 1\r\n", 64, "hi",
         -1},
        {"chunk longer than its size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhiya\r\n0\r\n\r\n", 64, "hi",
         -1},
        {"chunk size beyond 64 bits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF\r\n", 64, "", -1},
        {"zero length", "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\nignored", 64, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BodyResult r = read_response(c.wire, c.bufsize);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.last, c.last);
    }
}

TEST(HttpChatSync, HeaderLines) {
    // A line longer than the line buffer is cut, and what follows it is still
    // read as the next line (even when the cut falls just before its "\r\n").
    const std::string exact = "X-Exact: " + std::string(8190 - 9, 'e') + "\r\n";
    const std::string wire = "GET /a HTTP/1.1\r\nX-Long: " + std::string(20000, 'a') + "\r\n" +
                             exact + "Host: h.com\r\n\r\nbody";
    Wire w(wire);
    HTTP_HDR_REQ* req = http_hdr_req_new();
    ASSERT_EQ(http_hdr_req_get_sync(req, w.stream(), 0), HTTP_CHAT_OK);
    ASSERT_EQ(http_hdr_req_parse_all(req), 0);
    EXPECT_STREQ(req->host, "h.com");
    EXPECT_EQ(req->hdr.entries.size(), 4u);
    EXPECT_EQ(std::string(http_hdr_entry_value(&req->hdr, "X-Long")).size(),
              HTTP_CHAT_SYNC_LINE_MAX - 1 - 8);
    EXPECT_EQ(std::string(http_hdr_entry_value(&req->hdr, "X-Exact")).size(), 8190u - 9);
    char rest[8] = {};
    EXPECT_EQ(acl_vstream_readn(w.stream(), rest, 4), 4);
    EXPECT_STREQ(rest, "body");
    http_hdr_req_free(req);
}

TEST(HttpChatSync, HeaderFailures) {
    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 1100; i++) many += "X: v\r\n";
    const struct {
        const char* name;
        std::string wire;
        int status;
    } cases[] = {
        {"closed mid-header", "HTTP/1.1 200 OK\r\nServer: s\r\n", HTTP_CHAT_ERR_IO},
        {"closed before anything", "", HTTP_CHAT_ERR_IO},
        {"too many lines", many + "\r\n", HTTP_CHAT_ERR_TOO_MANY_LINES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Wire w(c.wire);
        HTTP_HDR_RES* res = http_hdr_res_new();
        EXPECT_EQ(http_hdr_res_get_sync(res, w.stream(), 0), c.status);
        http_hdr_res_free(res);
    }
}

TEST(HttpChatSync, HeaderTimeoutLeavesStreamTimeoutAlone) {
    Wire w("HTTP/1.1 200 OK\r\n", false, 30);
    HTTP_HDR_RES* res = http_hdr_res_new();
    EXPECT_EQ(http_hdr_res_get_sync(res, w.stream(), 1), HTTP_CHAT_ERR_TIMEOUT);
    EXPECT_EQ(w.stream()->rw_timeout, 30);
    http_hdr_res_free(res);
}
