// Asynchronous header and body readers on a real event loop over a socket
// pair: deliveries as read, statuses of every ending, and the stream's own
// callbacks taking over and coming back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acl_aio.h"
#include "http_chat_async.h"
#include "http_test_util.h"
#include "platform/socket.h"

namespace {

// A loop with one async stream; the test plays the peer on the other end.
class AsyncWire {
  public:
    AsyncWire() {
        aio_ = acl_aio_create_ex(0, 0, 0, 10000);
        int fds[2];
        EXPECT_EQ(platform::sock_pair(fds), 0);
        peer_ = fds[1];
        ACL_VSTREAM* vs = acl_vstream_fdopen(fds[0], 0, 8192, 0, ACL_VSTREAM_TYPE_SOCK);
        acl_vstream_add_close_handle(vs, on_stream_close, this);
        astream_ = acl_aio_open(aio_, vs);
    }
    ~AsyncWire() {
        if (!closed_) {
            acl_aio_iocp_close(astream_);
            run_until([this] { return closed_; });
        }
        close_peer();
        acl_aio_free(aio_);
    }

    ACL_ASTREAM* astream() { return astream_; }
    bool closed() const { return closed_; }

    void send(const std::string& data) {
        size_t off = 0;
        while (off < data.size()) {
            long n = platform::sock_send(peer_, data.data() + off, data.size() - off);
            ASSERT_GT(n, 0);
            off += static_cast<size_t>(n);
        }
    }
    void close_peer() {
        if (peer_ >= 0) platform::sock_close(peer_);
        peer_ = -1;
    }

    // From now on the loop's clock moves only with advance(): time-outs come
    // without real seconds.
    void use_fake_clock() {
        now_ = 9000;
        acl_event_set_clock_seam(acl_aio_event(aio_), fake_clock);
    }
    void advance(int seconds) { now_ += seconds; }

    // Runs loop passes until `done` holds (at most a few seconds).
    template <typename Done>
    bool run_until(Done done, int passes = 400) {
        for (int i = 0; i < passes && !done(); i++) acl_aio_loop(aio_);
        return done();
    }

  private:
    static inline time_t now_ = 0;
    static time_t fake_clock() { return now_; }

    static void on_stream_close(ACL_VSTREAM*, void* context) {
        static_cast<AsyncWire*>(context)->closed_ = true;
    }

    ACL_AIO* aio_ = nullptr;
    ACL_ASTREAM* astream_ = nullptr;
    int peer_ = -1;
    bool closed_ = false;
};

// A response read the way the proxy reads one: header, parse, then body.
struct ResponseFlow {
    ACL_ASTREAM* astream = nullptr;
    HTTP_HDR_RES* res = http_hdr_res_new();
    HTTP_RES* reader = nullptr;
    int hdr_status = -1;
    std::vector<Delivery> got;
    bool done = false;
    int stop_after = -1;  // deliveries after which the body callback returns -1

    ~ResponseFlow() {
        http_res_free(reader);
        http_hdr_res_free(res);
    }

    static int on_header(int status, void* arg) {
        auto* flow = static_cast<ResponseFlow*>(arg);
        flow->hdr_status = status;
        if (status != HTTP_CHAT_OK || http_hdr_res_parse(flow->res) < 0) {
            flow->done = true;
            return -1;
        }
        flow->reader = http_res_new(flow->res);
        http_res_body_get_async(flow->reader, flow->astream, on_body, flow, 5);
        return 0;
    }

    static int on_body(int status, char* data, int dlen, void* arg) {
        auto* flow = static_cast<ResponseFlow*>(arg);
        bool progress = status == HTTP_CHAT_DATA || status == HTTP_CHAT_CHUNK_HDR ||
                        status == HTTP_CHAT_CHUNK_TRAILER;
        flow->got.push_back({status, progress ? std::string(data, static_cast<size_t>(dlen))
                                              : std::to_string(dlen)});
        if (!progress) flow->done = true;
        if (flow->stop_after >= 0 && static_cast<int>(flow->got.size()) >= flow->stop_after) {
            flow->done = true;
            return -1;
        }
        return 0;
    }

    void start(AsyncWire& wire, int timeout = 5) {
        astream = wire.astream();
        http_hdr_res_get_async(res, astream, on_header, this, timeout);
    }

    // Puts `text` on the wire (then the peer's close when asked), starts
    // reading and runs the loop until the flow is done; false when it never is.
    bool feed(AsyncWire& wire, const std::string& text, bool close_peer = false) {
        wire.send(text);
        if (close_peer) wire.close_peer();
        start(wire);
        return wire.run_until([this] { return done; });
    }
};

// Joins consecutive data deliveries so that tests do not depend on how the
// socket split the bytes.
std::vector<Delivery> merge_data(const std::vector<Delivery>& in) {
    std::vector<Delivery> out;
    for (const Delivery& d : in) {
        if (d.status == HTTP_CHAT_DATA && !out.empty() && out.back().status == HTTP_CHAT_DATA &&
            d.data != "\r\n" && out.back().data != "\r\n")
            out.back().data += d.data;
        else
            out.push_back(d);
    }
    return out;
}

}  // namespace

TEST(HttpChatAsync, ChunkedBodyDeliveredAsRead) {
    AsyncWire wire;
    ResponseFlow flow;
    ASSERT_TRUE(flow.feed(
        wire, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"));
    std::vector<Delivery> expected = {
        {HTTP_CHAT_CHUNK_HDR, "5\r\n"}, {HTTP_CHAT_DATA, "hello"},         {HTTP_CHAT_DATA, "\r\n"},
        {HTTP_CHAT_CHUNK_HDR, "0\r\n"}, {HTTP_CHAT_CHUNK_TRAILER, "\r\n"}, {HTTP_CHAT_OK, "15"},
    };
    EXPECT_EQ(flow.got, expected);
    EXPECT_EQ(flow.hdr_status, HTTP_CHAT_OK);
}

TEST(HttpChatAsync, BodyEndings) {
    const std::string big(20000, 'b');
    const struct {
        const char* name;
        std::string wire;
        bool close_peer;
        std::vector<Delivery> expected;
    } cases[] = {
        {"length in pieces of at most 8192",
         "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + big + "extra",
         false,
         {{HTTP_CHAT_DATA, big}, {HTTP_CHAT_OK, "20000"}}},
        {"until close",
         "HTTP/1.0 200 OK\r\n\r\nto the end",
         true,
         {{HTTP_CHAT_DATA, "to the end"}, {HTTP_CHAT_OK, "10"}}},
        {"length cut short",
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
         true,
         {{HTTP_CHAT_DATA, "abc"}, {HTTP_CHAT_ERR_IO, "0"}}},
        {"chunked cut short",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n",
         true,
         {{HTTP_CHAT_CHUNK_HDR, "2\r\n"},
          {HTTP_CHAT_DATA, "ab"},
          {HTTP_CHAT_DATA, "\r\n"},
          {HTTP_CHAT_ERR_IO, "0"}}},
        {"chunk size beyond 64 bits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1FFFFFFFFFFFFFFFF\r\nx",
         false,
         {{HTTP_CHAT_ERR_PROTO, "0"}}},
        {"chunk longer than announced",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n",
         false,
         {{HTTP_CHAT_CHUNK_HDR, "1\r\n"}, {HTTP_CHAT_DATA, "a"}, {HTTP_CHAT_ERR_PROTO, "0"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AsyncWire wire;
        ResponseFlow flow;
        ASSERT_TRUE(flow.feed(wire, c.wire, c.close_peer));
        EXPECT_EQ(merge_data(flow.got), c.expected);
        for (const Delivery& d : flow.got) EXPECT_LE(d.data.size(), 8192u);
        if (c.expected.back().status >= HTTP_CHAT_ERR_MIN) {
            EXPECT_TRUE(wire.run_until([&] { return wire.closed(); }));
        }
    }
}

TEST(HttpChatAsync, HeaderEndings) {
    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 1030; i++) many += "X: v\r\n";
    const struct {
        const char* name;
        std::string wire;
        bool close_peer;
        int status;
    } cases[] = {
        {"closed before the end", "HTTP/1.1 200 OK\r\nServer: s\r\n", true, HTTP_CHAT_ERR_CLOSED},
        {"closed before anything", "", true, HTTP_CHAT_ERR_CLOSED},
        {"too many lines", many, false, HTTP_CHAT_ERR_TOO_MANY_LINES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AsyncWire wire;
        ResponseFlow flow;
        ASSERT_TRUE(flow.feed(wire, c.wire, c.close_peer));
        EXPECT_EQ(flow.hdr_status, c.status);
        EXPECT_TRUE(flow.got.empty());
        EXPECT_TRUE(wire.run_until([&] { return wire.closed(); }));
    }
}

TEST(HttpChatAsync, HeaderTimeout) {
    AsyncWire wire;
    ResponseFlow flow;
    wire.send("HTTP/1.1 200 OK\r\n");
    wire.use_fake_clock();
    flow.start(wire, 1);
    wire.advance(2);
    ASSERT_TRUE(wire.run_until([&] { return flow.done; }, 5));
    EXPECT_EQ(flow.hdr_status, HTTP_CHAT_ERR_TIMEOUT);
    EXPECT_TRUE(wire.run_until([&] { return wire.closed(); }));
}

TEST(HttpChatAsync, NegativeResultStopsTheBody) {
    AsyncWire wire;
    ResponseFlow flow;
    flow.stop_after = 2;
    wire.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    flow.start(wire);
    ASSERT_TRUE(wire.run_until([&] { return wire.closed(); }));
    EXPECT_EQ(flow.got.size(), 2u);
}

namespace {

struct OwnCallbacks {
    int closes = 0;
    int timeouts = 0;
    int reads = 0;
    static int on_close(ACL_ASTREAM*, void* context) {
        static_cast<OwnCallbacks*>(context)->closes++;
        return 0;
    }
    static int on_timeout(ACL_ASTREAM*, void* context) {
        static_cast<OwnCallbacks*>(context)->timeouts++;
        return 0;
    }
    static int on_read(ACL_ASTREAM*, void* context, char*, int) {
        static_cast<OwnCallbacks*>(context)->reads++;
        return 0;
    }
};

int count_header(int status, void* arg) {
    static_cast<std::vector<int>*>(arg)->push_back(status);
    return 0;
}

}  // namespace

TEST(HttpChatAsync, StreamsOwnCallbacksTakeOverAndComeBack) {
    // Completed: the stream gets its callbacks and context back.
    {
        AsyncWire wire;
        OwnCallbacks own;
        acl_aio_ctl(wire.astream(), ACL_AIO_CTL_CLOSE_FN, OwnCallbacks::on_close,
                    ACL_AIO_CTL_READ_FN, OwnCallbacks::on_read, ACL_AIO_CTL_CTX, &own,
                    ACL_AIO_CTL_END);
        HTTP_HDR_REQ* req = http_hdr_req_new();
        std::vector<int> statuses;
        wire.send("GET / HTTP/1.1\r\nHost: a\r\n\r\n");
        http_hdr_req_get_async(req, wire.astream(), count_header, &statuses, 5);
        ASSERT_TRUE(wire.run_until([&] { return !statuses.empty(); }));
        EXPECT_EQ(statuses, std::vector<int>{HTTP_CHAT_OK});
        http_hdr_req_free(req);  // the stream never referred to the reader
        wire.send("x");
        acl_aio_read(wire.astream());  // a plain read reaches the stream's own callback
        ASSERT_TRUE(wire.run_until([&] { return own.reads == 1; }));
        wire.close_peer();
        acl_aio_read(wire.astream());
        ASSERT_TRUE(wire.run_until([&] { return wire.closed(); }));
        EXPECT_EQ(own.closes, 1);
    }
    // Closed during the read: the stream's own close callback runs instead of
    // the user's, with the stream's own context.
    {
        AsyncWire wire;
        OwnCallbacks own;
        acl_aio_ctl(wire.astream(), ACL_AIO_CTL_CLOSE_FN, OwnCallbacks::on_close, ACL_AIO_CTL_CTX,
                    &own, ACL_AIO_CTL_END);
        HTTP_HDR_RES* res = http_hdr_res_new();
        std::vector<int> statuses;
        wire.send("HTTP/1.1 200 OK\r\n");
        wire.close_peer();
        http_hdr_res_get_async(res, wire.astream(), count_header, &statuses, 5);
        ASSERT_TRUE(wire.run_until([&] { return wire.closed(); }));
        EXPECT_TRUE(statuses.empty());
        EXPECT_EQ(own.closes, 1);
        http_hdr_res_free(res);
    }
}

namespace {

struct Writes {
    std::vector<void*> contexts;  // what each write callback was handed
    static int on_write(ACL_ASTREAM*, void* context) {
        static_cast<Writes*>(context)->contexts.push_back(context);
        return 0;
    }
};

}  // namespace

TEST(HttpChatAsync, WritesDuringAReadKeepTheStreamsOwnCallbackAndContext) {
    AsyncWire wire;
    Writes writes;
    acl_aio_ctl(wire.astream(), ACL_AIO_CTL_WRITE_FN, Writes::on_write, ACL_AIO_CTL_CTX, &writes,
                ACL_AIO_CTL_END);
    HTTP_HDR_RES* res = http_hdr_res_new();
    std::vector<int> statuses;
    wire.send("HTTP/1.1 200 OK\r\n");  // half a header: the read stays pending
    http_hdr_res_get_async(res, wire.astream(), count_header, &statuses, 5);
    ASSERT_TRUE(acl_aio_isrset(wire.astream()));
    EXPECT_EQ(acl_aio_writen(wire.astream(), "ping", 4), 0);
    EXPECT_EQ(writes.contexts, std::vector<void*>{&writes});
    wire.send("Content-Length: 0\r\n\r\n");
    ASSERT_TRUE(wire.run_until([&] { return !statuses.empty(); }));
    EXPECT_EQ(statuses, std::vector<int>{HTTP_CHAT_OK});
    EXPECT_EQ(acl_aio_writen(wire.astream(), "pong", 4), 0);
    EXPECT_EQ(writes.contexts, (std::vector<void*>{&writes, &writes}));
    http_hdr_res_free(res);
}

TEST(HttpChatAsync, StreamsOwnTimeoutCallbackAnswersAndTheStreamCloses) {
    AsyncWire wire;
    OwnCallbacks own;
    acl_aio_ctl(wire.astream(), ACL_AIO_CTL_TIMEO_FN, OwnCallbacks::on_timeout,
                ACL_AIO_CTL_CLOSE_FN, OwnCallbacks::on_close, ACL_AIO_CTL_CTX, &own,
                ACL_AIO_CTL_END);
    wire.use_fake_clock();
    HTTP_HDR_RES* res = http_hdr_res_new();
    std::vector<int> statuses;
    http_hdr_res_get_async(res, wire.astream(), count_header, &statuses, 1);
    wire.advance(2);
    // Its own callback returns 0 (keep waiting), but a read's time-out closes.
    ASSERT_TRUE(wire.run_until([&] { return wire.closed(); }, 5));
    EXPECT_EQ(own.timeouts, 1);
    EXPECT_EQ(own.closes, 1);
    EXPECT_TRUE(statuses.empty());
    http_hdr_res_free(res);
}

namespace {

struct RequestBody {
    std::vector<Delivery> got;
    bool done = false;
    static int on_body(int status, char* data, int dlen, void* arg) {
        auto* self = static_cast<RequestBody*>(arg);
        bool progress = status > 0 && status < HTTP_CHAT_ERR_MIN;
        self->got.push_back({status, progress ? std::string(data, static_cast<size_t>(dlen))
                                              : std::to_string(dlen)});
        self->done = !progress;
        return 0;
    }
};

}  // namespace

TEST(HttpChatAsync, RequestBodies) {
    AsyncWire wire;
    HTTP_HDR_REQ* req = http_hdr_req_new();
    feed_header(&req->hdr, "POST /f HTTP/1.1\r\nHost: h\r\nContent-Length: 4\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req), 0);
    HTTP_REQ* reader = http_req_new(req);
    RequestBody body;
    wire.send("dataMORE");
    ASSERT_EQ(http_req_body_get_async(reader, wire.astream(), RequestBody::on_body, &body, 5), 0);
    ASSERT_TRUE(wire.run_until([&] { return body.done; }));
    std::vector<Delivery> expected = {{HTTP_CHAT_DATA, "data"}, {HTTP_CHAT_OK, "4"}};
    EXPECT_EQ(body.got, expected);
    http_req_free(reader);

    // Without a length or chunking there is no body to read.
    http_hdr_entry_replace(&req->hdr, "Content-Length", "0", 0);
    ASSERT_EQ(http_hdr_req_parse_all(req), 0);
    reader = http_req_new(req);
    EXPECT_EQ(http_req_body_get_async(reader, wire.astream(), RequestBody::on_body, &body, 5), -1);
    http_req_free(reader);
    http_hdr_req_free(req);
}
