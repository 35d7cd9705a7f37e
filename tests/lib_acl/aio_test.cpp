// Async streams: reads completed at once or through the loop, the write queue,
// the close decision, callbacks and their defaults, connect and accept.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "acl_aio.h"
#include "platform/socket.h"

namespace {

// The loop's clock for the time-out tests, moved by hand.
time_t g_now = 7000;
time_t fake_clock() { return g_now; }

struct Fixture : ::testing::Test {
    // Short passes: tests that wait for the loop do not idle a second each time.
    ACL_AIO* aio = acl_aio_create_ex(0, 0, 0, 100000);
    ~Fixture() override { acl_aio_free(aio); }

    // From now on the loop's clock moves only with advance().
    void use_fake_clock() {
        g_now = 7000;
        acl_event_set_clock_seam(acl_aio_event(aio), fake_clock);
    }
    void advance(int seconds) { g_now += seconds; }

    // Runs passes until `done` holds, at most `passes` of them.
    bool run_until(const std::function<bool()>& done, int passes = 100) {
        for (int i = 0; i < passes && !done(); i++) acl_aio_loop(aio);
        return done();
    }
};

// What the callbacks saw.
struct Seen {
    std::vector<std::string> reads;
    int writes = 0;
    int timeouts = 0;
    int closes = 0;
    int timeout_result = -1;  // what the timeout callback returns
    bool again = true;        // read the next line from the read callback
    int (*reader)(ACL_ASTREAM*) = acl_aio_gets;
};

int on_read(ACL_ASTREAM* a, void* ctx, char* data, int dlen) {
    auto* seen = static_cast<Seen*>(ctx);
    seen->reads.emplace_back(data, static_cast<size_t>(dlen));
    if (seen->again) seen->reader(a);
    return 0;
}

int on_write(ACL_ASTREAM*, void* ctx) {
    static_cast<Seen*>(ctx)->writes++;
    return 0;
}

int on_timeout(ACL_ASTREAM*, void* ctx) {
    auto* seen = static_cast<Seen*>(ctx);
    seen->timeouts++;
    int r = seen->timeout_result;
    seen->timeout_result = -1;  // a second time-out closes
    return r;
}

int on_close(ACL_ASTREAM*, void* ctx) {
    static_cast<Seen*>(ctx)->closes++;
    return 0;
}

// An astream over one end of a socket pair; the test holds the other end.
struct Pair {
    ACL_ASTREAM* astream = nullptr;
    int peer = -1;
    Pair(ACL_AIO* aio, Seen* seen) {
        int fds[2];
        if (platform::sock_pair(fds) != 0) return;
        astream = acl_aio_open(aio, acl_vstream_fdopen(fds[0], 0, 0, 0, ACL_VSTREAM_TYPE_SOCK));
        peer = fds[1];
        acl_aio_ctl(astream, ACL_AIO_CTL_READ_FN, on_read, ACL_AIO_CTL_WRITE_FN, on_write,
                    ACL_AIO_CTL_TIMEO_FN, on_timeout, ACL_AIO_CTL_CLOSE_FN, on_close,
                    ACL_AIO_CTL_CTX, seen, ACL_AIO_CTL_END);
    }
    ~Pair() {
        if (peer >= 0) platform::sock_close(peer);
    }
    void send(const std::string& s) const {
        ASSERT_EQ(platform::sock_send(peer, s.data(), s.size()), static_cast<long>(s.size()));
    }
    // Whatever the peer can read now (non-blocking).
    std::string drain() const {
        std::string out;
        char buf[65536];
        while (platform::fd_wait(peer, platform::WAIT_READ, 0) > 0) {
            long n = platform::sock_recv(peer, buf, sizeof(buf));
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
};

using AioRead = Fixture;

TEST_F(AioRead, BufferedLinesBeyondTheNestingLimitCompleteInTheNextPass) {
    Seen seen;
    Pair p(aio, &seen);
    std::string all;
    for (int i = 0; i < 12; i++) all += "line" + std::to_string(i) + "\n";
    p.send(all);

    // The first read takes all 12 lines into the buffer and completes nine
    // inside one another; the tenth goes through the loop.
    acl_aio_gets(p.astream);
    EXPECT_EQ(seen.reads.size(), static_cast<size_t>(ACL_AIO_NESTED_MAX - 1));
    EXPECT_TRUE(acl_aio_isrset(p.astream));

    // The socket itself is empty now: only the buffered-data rule can make
    // the next pass deliver.
    acl_aio_loop(aio);
    ASSERT_EQ(seen.reads.size(), 12u);
    EXPECT_EQ(seen.reads[0], "line0\n");
    EXPECT_EQ(seen.reads[11], "line11\n");
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 0);  // a read is pending
    EXPECT_TRUE(run_until([&] { return seen.closes == 1; }));
}

TEST_F(AioRead, HalfLineBeforeCloseIsDeliveredThenCloseRunsOnce) {
    struct Case {
        const char* name;
        int (*reader)(ACL_ASTREAM*);
        const char* sent;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"gets", acl_aio_gets, "whole\nhalf", {"whole\n", "half"}},
        {"gets_nonl", acl_aio_gets_nonl, "a\r\nb\r", {"a", "b"}},
        {"read", acl_aio_read, "xyz", {"xyz"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Seen seen;
        seen.reader = c.reader;
        Pair p(aio, &seen);
        p.send(c.sent);
        platform::sock_close(p.peer);
        p.peer = -1;
        c.reader(p.astream);
        EXPECT_TRUE(run_until([&] { return seen.closes > 0; }));
        EXPECT_EQ(seen.reads, c.expected);
        run_until([] { return false; }, 2);
        EXPECT_EQ(seen.closes, 1);
    }
}

TEST_F(AioRead, ReadnWaitsForTheWholeCountAcrossPasses) {
    Seen seen;
    seen.again = false;
    Pair p(aio, &seen);
    p.send("abc");
    EXPECT_EQ(acl_aio_readn(p.astream, 6), 0);
    acl_aio_loop(aio);
    EXPECT_TRUE(seen.reads.empty());
    p.send("defgh");
    EXPECT_TRUE(run_until([&] { return !seen.reads.empty(); }));
    EXPECT_EQ(seen.reads, std::vector<std::string>{"abcdef"});
    // "gh" stays buffered for the next read, delivered at once.
    EXPECT_EQ(acl_aio_read(p.astream), 0);
    EXPECT_EQ(seen.reads.back(), "gh");
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 1);
    EXPECT_EQ(seen.closes, 1);
}

// Sends `total` bytes of 'x' to the peer end of `p` from a thread, so the
// loop can read while the socket buffer stays small.
std::thread feed(int fd, size_t total) {
    return std::thread([fd, total] {
        std::string chunk(65536, 'x');
        for (size_t sent = 0; sent < total;) {
            size_t n = std::min(chunk.size(), total - sent);
            if (platform::fd_wait(fd, platform::WAIT_WRITE, 5000) <= 0) return;
            long k = platform::sock_send(fd, chunk.data(), n);
            if (k <= 0) return;
            sent += static_cast<size_t>(k);
        }
    });
}

TEST_F(AioRead, OverlongLineClosesButALargeCountIsRead) {
    Seen seen;
    seen.again = false;
    Pair lines(aio, &seen);
    std::thread t1 = feed(lines.peer, ACL_AIO_LINE_MAX + 100000);
    acl_aio_gets(lines.astream);
    EXPECT_TRUE(run_until([&] { return seen.closes == 1; }, 2000));
    EXPECT_TRUE(seen.reads.empty());  // nothing of the endless line is handed over
    t1.join();

    Seen seen2;
    seen2.again = false;
    Pair count(aio, &seen2);
    size_t big = 2 * ACL_AIO_LINE_MAX;
    std::thread t2 = feed(count.peer, big);
    acl_aio_readn(count.astream, static_cast<int>(big));
    EXPECT_TRUE(run_until([&] { return !seen2.reads.empty(); }, 2000));
    t2.join();
    ASSERT_EQ(seen2.reads.size(), 1u);
    EXPECT_EQ(seen2.reads[0].size(), big);
    EXPECT_EQ(seen2.closes, 0);
    EXPECT_EQ(acl_aio_iocp_close(count.astream), 1);
}

using AioWrite = Fixture;

// Fills the astream's socket until a write has to be queued.
void fill_until_queued(ACL_ASTREAM* a) {
    platform::sock_set_buffers(acl_aio_vstream(a)->fd, 4096, 4096);
    std::string chunk(65536, 'q');
    while (acl_aio_write_left(a) == 0)
        acl_aio_writen(a, chunk.data(), static_cast<int>(chunk.size()));
}

TEST_F(AioWrite, SmallWriteBehindAQueueNeverGoesDirectlyAndOrderHolds) {
    Seen seen;
    Pair p(aio, &seen);
    fill_until_queued(p.astream);
    // Make room in the socket: a direct send would now succeed and overtake.
    std::string got = p.drain();
    ASSERT_GT(acl_aio_write_left(p.astream), 0u);
    acl_aio_writen(p.astream, "Z", 1);
    // The write flushed what it could; output still queued means Z waits
    // behind it (a direct send happens only with an empty queue).
    EXPECT_GE(acl_aio_write_left(p.astream), 2u);
    EXPECT_EQ(seen.writes, 0);

    EXPECT_TRUE(run_until(
        [&] {
            got += p.drain();
            return seen.writes > 0;
        },
        500));
    got += p.drain();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 'Z');
    EXPECT_EQ(got.find('Z'), got.size() - 1);
    EXPECT_EQ(got.find_first_not_of('q'), got.size() - 1);
    EXPECT_EQ(seen.writes, 1);
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 1);
}

TEST_F(AioWrite, CloseWithQueuedOutputSendsItFirst) {
    Seen seen;
    Pair p(aio, &seen);
    fill_until_queued(p.astream);
    size_t total = acl_aio_write_left(p.astream);
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 0);
    EXPECT_EQ(seen.closes, 0);

    std::string got;
    EXPECT_TRUE(run_until(
        [&] {
            got += p.drain();
            return seen.closes > 0;
        },
        2000));
    got += p.drain();
    EXPECT_GE(got.size(), total);
    EXPECT_EQ(got.find_first_not_of('q'), std::string::npos);
    run_until([] { return false; }, 2);
    EXPECT_EQ(seen.closes, 1);
}

TEST_F(AioWrite, DirectWriteRunsTheWriteCallbackAtOnce) {
    Seen seen;
    Pair p(aio, &seen);
    EXPECT_EQ(acl_aio_writen(p.astream, "hello", 5), 0);
    EXPECT_EQ(seen.writes, 1);
    EXPECT_FALSE(acl_aio_iswset(p.astream));
    EXPECT_EQ(p.drain(), "hello");
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 1);
}

using AioLifecycle = Fixture;

TEST_F(AioLifecycle, TimeoutCallbackZeroRearmsMinusOneCloses) {
    Seen seen;
    seen.timeout_result = 0;
    use_fake_clock();
    Pair p(aio, &seen);
    acl_aio_ctl(p.astream, ACL_AIO_CTL_TIMEOUT, 1, ACL_AIO_CTL_END);
    acl_aio_gets(p.astream);
    advance(1);
    acl_aio_loop(aio);
    EXPECT_EQ(seen.timeouts, 0);  // due only once the clock is later than the deadline
    advance(1);
    EXPECT_TRUE(run_until([&] { return seen.timeouts == 1; }, 3));
    EXPECT_EQ(seen.closes, 0);
    EXPECT_TRUE(acl_aio_isrset(p.astream));  // registered again, with a fresh deadline
    acl_aio_loop(aio);
    EXPECT_EQ(seen.timeouts, 1);
    advance(2);
    EXPECT_TRUE(run_until([&] { return seen.closes == 1; }, 3));
    EXPECT_EQ(seen.timeouts, 2);
}

TEST_F(AioLifecycle, NullCallbackRestoresTheDefault) {
    Seen seen;
    seen.timeout_result = 0;  // the custom callback would keep the stream
    use_fake_clock();
    Pair p(aio, &seen);
    acl_aio_ctl(p.astream, ACL_AIO_CTL_TIMEO_FN, (ACL_AIO_TIMEO_FN) nullptr, ACL_AIO_CTL_TIMEOUT, 1,
                ACL_AIO_CTL_END);
    acl_aio_gets(p.astream);
    advance(2);
    EXPECT_TRUE(run_until([&] { return seen.closes == 1; }, 3));
    EXPECT_EQ(seen.timeouts, 0);  // the default ran and closed the stream

    // The default read callback just drops the data.
    Seen seen2;
    Pair q(aio, &seen2);
    acl_aio_ctl(q.astream, ACL_AIO_CTL_READ_FN, (ACL_AIO_READ_FN) nullptr, ACL_AIO_CTL_END);
    q.send("dropped\n");
    EXPECT_EQ(acl_aio_gets(q.astream), 0);
    EXPECT_TRUE(seen2.reads.empty());
    // Nothing of the dropped line lingers for the next read.
    acl_aio_ctl(q.astream, ACL_AIO_CTL_READ_FN, on_read, ACL_AIO_CTL_END);
    seen2.again = false;
    q.send("next\n");
    EXPECT_EQ(acl_aio_gets(q.astream), 0);
    EXPECT_EQ(seen2.reads, std::vector<std::string>{"next\n"});
    EXPECT_EQ(acl_aio_iocp_close(q.astream), 1);
}

TEST_F(AioLifecycle, DetachedStreamKeepsItsSocketAfterClose) {
    Seen seen;
    Pair p(aio, &seen);
    acl_aio_gets(p.astream);  // registered: detaching must take it out of the loop
    ACL_VSTREAM* vs = acl_aio_vstream(p.astream);
    acl_aio_ctl(p.astream, ACL_AIO_CTL_STREAM, (ACL_VSTREAM*)nullptr, ACL_AIO_CTL_END);
    EXPECT_EQ(acl_aio_vstream(p.astream), nullptr);
    EXPECT_EQ(acl_aio_iocp_close(p.astream), 1);
    EXPECT_EQ(seen.closes, 1);
    EXPECT_EQ(acl_event_nstreams(acl_aio_event(aio)), 0);

    acl_non_blocking(vs->fd, ACL_BLOCKING);
    EXPECT_EQ(acl_vstream_writen(vs, "still open", 10), 10);
    EXPECT_EQ(p.drain(), "still open");
    acl_vstream_close(vs);
}

// A read callback that closes from inside: the stream survives until the
// callback has returned, then the close callback runs once.
int close_inside(ACL_ASTREAM* a, void* ctx, char*, int) {
    auto* seen = static_cast<Seen*>(ctx);
    EXPECT_EQ(acl_aio_iocp_close(a), 0);
    EXPECT_EQ(seen->closes, 0);
    acl_aio_writen(a, "bye", 3);  // still usable here
    return 0;
}

TEST_F(AioLifecycle, CloseInsideACallbackWaitsForItsReturn) {
    Seen seen;
    Pair p(aio, &seen);
    acl_aio_ctl(p.astream, ACL_AIO_CTL_READ_FN, close_inside, ACL_AIO_CTL_END);
    p.send("x\n");
    EXPECT_EQ(acl_aio_gets(p.astream), -1);
    EXPECT_EQ(seen.closes, 1);
    EXPECT_EQ(p.drain(), "bye");
}

// A read callback of one stream that writes to a second, whose peer is gone.
struct Relay {
    ACL_ASTREAM* other = nullptr;
    Seen* other_seen = nullptr;
    int write_result = 0;
    int closes_during_callback = -1;
    int close_result = -1;
    static int on_read(ACL_ASTREAM*, void* ctx, char*, int) {
        auto* r = static_cast<Relay*>(ctx);
        r->write_result = acl_aio_writen(r->other, "x", 1);
        // The failed side is still a valid record here: its close waits.
        r->close_result = acl_aio_iocp_close(r->other);
        r->closes_during_callback = r->other_seen->closes;
        return 0;
    }
};

TEST_F(AioLifecycle, SideFailingInAnotherStreamsCallbackClosesAfterThatCallbackReturns) {
    Seen seen_a, seen_b;
    Pair a(aio, &seen_a);
    Pair b(aio, &seen_b);
    platform::sock_close(b.peer);  // writes to b now fail
    b.peer = -1;
    Relay relay{b.astream, &seen_b};
    acl_aio_ctl(a.astream, ACL_AIO_CTL_READ_FN, Relay::on_read, ACL_AIO_CTL_CLOSE_FN,
                (ACL_AIO_CLOSE_FN) nullptr, ACL_AIO_CTL_CTX, &relay, ACL_AIO_CTL_END);
    EXPECT_EQ(acl_aio_gets(a.astream), 0);  // pending: the callback will run from the loop
    a.send("go\n");
    EXPECT_TRUE(run_until([&] { return relay.closes_during_callback >= 0; }, 20));
    EXPECT_EQ(relay.write_result, -1);
    EXPECT_EQ(relay.close_result, 0);
    EXPECT_EQ(relay.closes_during_callback, 0);
    EXPECT_EQ(seen_b.closes, 1);  // ran once the callback had returned, in the same pass
    EXPECT_EQ(acl_aio_iocp_close(a.astream), 1);  // outside any callback: at once
}

TEST_F(AioLifecycle, NegativeReadResultClosesAfterTheQueuedReply) {
    Seen seen;
    Pair p(aio, &seen);
    fill_until_queued(p.astream);
    acl_aio_ctl(
        p.astream, ACL_AIO_CTL_READ_FN, +[](ACL_ASTREAM*, void*, char*, int) { return -1; },
        ACL_AIO_CTL_END);
    p.send("q\n");
    EXPECT_EQ(acl_aio_gets(p.astream), -1);
    EXPECT_EQ(seen.closes, 0);  // output still queued
    std::string got;
    EXPECT_TRUE(run_until(
        [&] {
            got += p.drain();
            return seen.closes == 1;
        },
        2000));
}

using AioNet = Fixture;

struct Server {
    std::vector<ACL_ASTREAM*> clients;
    int accept_result = 0;
};

int echo_read(ACL_ASTREAM* a, void*, char* data, int dlen) {
    acl_aio_writen(a, data, dlen);
    acl_aio_gets(a);
    return 0;
}

int on_accept(ACL_ASTREAM* client, void* ctx) {
    auto* server = static_cast<Server*>(ctx);
    server->clients.push_back(client);
    acl_aio_ctl(client, ACL_AIO_CTL_READ_FN, echo_read, ACL_AIO_CTL_END);
    acl_aio_gets(client);
    return server->accept_result;
}

struct Client {
    bool connected = false;
    bool closed = false;
    std::string reply;
};

int client_connected(ACL_ASTREAM* a, void* ctx) {
    static_cast<Client*>(ctx)->connected = true;
    acl_aio_writen(a, "ping\n", 5);
    acl_aio_gets(a);
    return 0;
}

int client_read(ACL_ASTREAM*, void* ctx, char* data, int dlen) {
    static_cast<Client*>(ctx)->reply.assign(data, static_cast<size_t>(dlen));
    return -1;  // done: close
}

int client_closed(ACL_ASTREAM*, void* ctx) {
    static_cast<Client*>(ctx)->closed = true;
    return 0;
}

ACL_ASTREAM* connect_client(ACL_AIO* aio, const std::string& addr, Client* c) {
    ACL_ASTREAM* a = acl_aio_connect(aio, addr.c_str(), 5);
    if (a != nullptr)
        acl_aio_ctl(a, ACL_AIO_CTL_CONNECT_FN, client_connected, ACL_AIO_CTL_READ_FN, client_read,
                    ACL_AIO_CTL_CLOSE_FN, client_closed, ACL_AIO_CTL_CTX, c, ACL_AIO_CTL_END);
    return a;
}

TEST_F(AioNet, ConnectAcceptEcho) {
    ACL_VSTREAM* ls = acl_vstream_listen_ex("127.0.0.1:0", 64, ACL_NON_BLOCKING, 0, 0);
    ASSERT_NE(ls, nullptr);
    std::string addr = ls->addr_local;
    Server server;
    ACL_ASTREAM* listener = acl_aio_open(aio, ls);
    acl_aio_ctl(listener, ACL_AIO_CTL_ACCEPT_FN, on_accept, ACL_AIO_CTL_CTX, &server,
                ACL_AIO_CTL_END);
    acl_aio_accept(listener);

    Client c1, c2;
    ASSERT_NE(connect_client(aio, addr, &c1), nullptr);
    ASSERT_NE(connect_client(aio, addr, &c2), nullptr);
    EXPECT_TRUE(run_until([&] { return c1.closed && c2.closed; }));
    EXPECT_TRUE(c1.connected);
    EXPECT_EQ(c1.reply, "ping\n");
    EXPECT_EQ(c2.reply, "ping\n");
    ASSERT_EQ(server.clients.size(), 2u);
    // The server side sees the clients go.
    EXPECT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == 1; }));
    EXPECT_EQ(acl_aio_iocp_close(listener), 0);  // registered: closes in the next pass
    EXPECT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == 0; }));
}

TEST_F(AioNet, NegativeAcceptResultClosesClientAndListener) {
    ACL_VSTREAM* ls = acl_vstream_listen_ex("127.0.0.1:0", 64, ACL_NON_BLOCKING, 0, 0);
    ASSERT_NE(ls, nullptr);
    std::string addr = ls->addr_local;
    Server server;
    server.accept_result = -1;
    ACL_ASTREAM* listener = acl_aio_open(aio, ls);
    acl_aio_ctl(listener, ACL_AIO_CTL_ACCEPT_FN, on_accept, ACL_AIO_CTL_CTX, &server,
                ACL_AIO_CTL_END);
    acl_aio_accept(listener);
    Client c;
    connect_client(aio, addr, &c);
    EXPECT_TRUE(run_until([&] { return c.closed; }));
    EXPECT_EQ(server.clients.size(), 1u);
    EXPECT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == 0; }));
}

TEST_F(AioNet, RefusedConnectEndsInTheCloseCallback) {
    std::string addr;
    {
        ACL_VSTREAM* ls = acl_vstream_listen_ex("127.0.0.1:0", 1, ACL_BLOCKING, 0, 0);
        ASSERT_NE(ls, nullptr);
        addr = ls->addr_local;
        acl_vstream_close(ls);
    }
    Client c;
    ACL_ASTREAM* a = connect_client(aio, addr, &c);
    if (a != nullptr) {  // refused later rather than at once
        EXPECT_TRUE(run_until([&] { return c.closed; }));
    }
    EXPECT_FALSE(c.connected);
}

}  // namespace
