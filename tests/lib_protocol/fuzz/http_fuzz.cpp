// libFuzzer targets over the HTTP parsers and body readers. One source, three
// programs: HTTP_FUZZ_TARGET selects what the input is.
//
//   1 (request)   header lines of a request: parse, cookies, output, redirect, clone;
//   2 (response)  a whole response sent through a socket: blocking header read,
//                 status line and common fields, body through http_res_body_get_sync2;
//   3 (chunked)   a chunked body: the framing state driven from memory in pieces
//                 chosen by the input, and the blocking reader over a socket.
//
// Anything the code does with an input must end without a crash, a sanitizer
// report, a leak or a read beyond the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_body.h"
#include "http_chat_sync.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "platform/socket.h"

#ifndef HTTP_FUZZ_TARGET
#error "define HTTP_FUZZ_TARGET as 1 (request), 2 (response) or 3 (chunked)"
#endif

namespace {

void feed_lines(HTTP_HDR* hdr, const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        if (http_hdr_feed_line(hdr, text.data() + pos, end - pos) != HTTP_HDR_FEED_MORE) return;
        pos = end + 1;
    }
}

// Sends `wire` into one end of a socket pair (from a thread, so any size
// works), closes it, and returns a blocking stream on the other end.
struct SocketWire {
    ACL_VSTREAM* stream = nullptr;
    std::thread sender;

    explicit SocketWire(const std::string& wire) {
        int fds[2];
        if (platform::sock_pair(fds) != 0) __builtin_trap();
        stream = acl_vstream_fdopen(fds[0], 0, 8192, 0, ACL_VSTREAM_TYPE_SOCK);
        int writer = fds[1];
        sender = std::thread([writer, wire] {
            size_t off = 0;
            while (off < wire.size()) {
                long n = platform::sock_send(writer, wire.data() + off, wire.size() - off);
                if (n <= 0) break;
                off += static_cast<size_t>(n);
            }
            platform::sock_close(writer);
        });
    }
    ~SocketWire() {
        acl_vstream_close(stream);  // a sender still writing then fails and ends
        sender.join();
    }
};

// Reads a response header and its whole body from `wire` with the blocking
// readers, through a buffer of `bufsize` bytes.
void read_response(const std::string& wire, int bufsize) {
    SocketWire w(wire);
    HTTP_HDR_RES* res = http_hdr_res_new();
    if (http_hdr_res_get_sync(res, w.stream, 0) == HTTP_CHAT_OK && http_hdr_res_parse(res) == 0) {
        HTTP_HDR_RES* copy = http_hdr_res_clone(res);
        http_hdr_res_free(res);
        res = copy;
        HTTP_RES* reader = http_res_new(res);
        std::string buf(static_cast<size_t>(bufsize), '\0');
        int64_t total = 0;
        for (;;) {
            int n = http_res_body_get_sync2(reader, w.stream, buf.data(), bufsize);
            if (n <= 0) break;
            if (n > bufsize) __builtin_trap();
            total += n;
        }
        if (!res->hdr.chunked && res->hdr.content_length > 0 && total > res->hdr.content_length)
            __builtin_trap();
        http_res_free(reader);
    }
    http_hdr_res_free(res);
}

[[maybe_unused]] void fuzz_request(const std::string& input) {
    HTTP_HDR_REQ* req = http_hdr_req_new();
    feed_lines(&req->hdr, input);
    if (http_hdr_req_parse_all(req) == 0) {
        std::string out;
        http_hdr_build_request(req, out);
        http_hdr_entry_off(&req->hdr, "Accept-Encoding");
        http_hdr_entry_replace(&req->hdr, "Connection", "close", 1);
        HTTP_HDR_REQ* copy = http_hdr_req_clone(req);
        http_hdr_req_free(req);
        req = copy;
        if (HTTP_HDR_REQ* moved = http_hdr_req_redirect(req, "http://example.com/a/./b?x=1"))
            http_hdr_req_free(moved);
        const char* location = http_hdr_entry_value(&req->hdr, "Location");
        if (location != nullptr) {
            if (HTTP_HDR_REQ* moved = http_hdr_req_redirect(req, location))
                http_hdr_req_free(moved);
        }
        http_hdr_build(&req->hdr, out);
        http_hdr_req_parse_all(req);
    }
    http_hdr_req_free(req);
}

[[maybe_unused]] void fuzz_response(const std::string& input) {
    // The first byte picks the body buffer size; the rest is the wire.
    if (input.empty()) return;
    int bufsize = 1 + static_cast<unsigned char>(input[0]) * 37 % 9000;
    read_response(input.substr(1), bufsize);

    HTTP_HDR_RES* res = http_hdr_res_new();
    feed_lines(&res->hdr, input.substr(1));
    if (http_hdr_res_parse(res) == 0) {
        std::string out;
        http_hdr_build(&res->hdr, out);
    }
    http_hdr_res_free(res);
}

[[maybe_unused]] void fuzz_chunked(const std::string& input) {
    if (input.empty()) return;
    const size_t piece = 1 + static_cast<unsigned char>(input[0]) % 64;
    const std::string wire = input.substr(1);

    // From memory: lines with their "\n", data in pieces of at most `piece`.
    HTTP_BODY* body = http_body_new();
    http_body_start(body, 1, -1, 1);
    size_t pos = 0;
    for (;;) {
        int64_t max = 0;
        HTTP_BODY_WANT want = http_body_want(body, &max);
        if (want == HTTP_BODY_WANT_NONE || pos >= wire.size()) {
            http_body_closed(body);
            break;
        }
        size_t n;
        if (want == HTTP_BODY_WANT_LINE) {
            size_t nl = wire.find('\n', pos);
            n = (nl == std::string::npos ? wire.size() : nl + 1) - pos;
        } else {
            n = piece;
            if (static_cast<int64_t>(n) > max) n = static_cast<size_t>(max);
            if (n > wire.size() - pos) n = wire.size() - pos;
        }
        int status = http_body_feed(body, wire.data() + pos, n);
        pos += n;
        if (status >= HTTP_CHAT_ERR_MIN) break;
    }
    http_body_free(body);

    read_response("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + wire,
                  static_cast<int>(piece));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Bad input is logged at every turn; keep the fuzzer's output readable.
    acl_msg_open("/dev/null", "log");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
#if HTTP_FUZZ_TARGET == 1
    fuzz_request(input);
#elif HTTP_FUZZ_TARGET == 2
    fuzz_response(input);
#else
    fuzz_chunked(input);
#endif
    return 0;
}
