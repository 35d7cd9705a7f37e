// Buffered streams in blocking use: connect, line and count reads, buffered
// writes, time-outs, end of file, close handles and file streams.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "platform/socket.h"
#include "test_support.h"

namespace {

// A loopback listener and the "ip:port" to reach it.
struct Listener {
    ACL_VSTREAM* stream = acl_vstream_listen_ex("127.0.0.1:0", 16, ACL_BLOCKING, 0, 0);
    std::string addr() const { return stream->addr_local; }
    ~Listener() { acl_vstream_close(stream); }
};

TEST(VstreamBlocking, EchoLinesCountsAndBufferedWrites) {
    Listener lis;
    ASSERT_NE(lis.stream, nullptr);
    std::thread server([&] {
        ACL_VSTREAM* c = acl_vstream_accept_ex(lis.stream, nullptr, 0);
        ASSERT_NE(c, nullptr);
        char line[256];
        int n;
        while ((n = acl_vstream_gets(c, line, sizeof(line))) > 0)
            ASSERT_EQ(acl_vstream_writen(c, line, static_cast<size_t>(n)), n);
        acl_vstream_close(c);
    });

    ACL_VSTREAM* s = acl_vstream_connect_ex(lis.addr().c_str(), ACL_BLOCKING, 5, 5, 100);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(acl_vstream_bufsize(s), static_cast<size_t>(ACL_VSTREAM_BUFSIZE));

    // Several small buffered writes go out together on the flush.
    ASSERT_EQ(acl_vstream_buffed_fprintf(s, "hello %d\r\n", 1), 9);
    ASSERT_EQ(acl_vstream_buffed_writen(s, "second\n", 7), 7);
    ASSERT_EQ(acl_vstream_fflush(s), 0);

    char buf[64];
    ASSERT_EQ(acl_vstream_gets(s, buf, sizeof(buf)), 9);
    EXPECT_STREQ(buf, "hello 1\r\n");
    ASSERT_EQ(acl_vstream_gets_nonl(s, buf, sizeof(buf)), 6);
    EXPECT_STREQ(buf, "second");

    // A long line in pieces through a small caller buffer, then readn.
    std::string big(20000, 'x');
    big += "\n";
    ASSERT_EQ(acl_vstream_writen(s, big.data(), big.size()), static_cast<int>(big.size()));
    std::string back(big.size(), '\0');
    ASSERT_EQ(acl_vstream_readn(s, back.data(), back.size()), static_cast<int>(big.size()));
    EXPECT_EQ(back, big);

    // A line longer than the caller's buffer comes in pieces.
    ASSERT_EQ(acl_vstream_fprintf(s, "0123456789\n"), 11);
    char small[5];
    ASSERT_EQ(acl_vstream_gets(s, small, sizeof(small)), 4);
    EXPECT_STREQ(small, "0123");
    ASSERT_EQ(acl_vstream_gets(s, small, sizeof(small)), 4);
    ASSERT_EQ(acl_vstream_gets(s, small, sizeof(small)), 3);
    EXPECT_STREQ(small, "89\n");

    // An empty line reads as 0 without its end.
    ASSERT_EQ(acl_vstream_fprintf(s, "\r\n"), 2);
    EXPECT_EQ(acl_vstream_gets_nonl(s, buf, sizeof(buf)), 0);

    acl_vstream_close(s);
    server.join();
}

TEST(VstreamBlocking, ReadTimeoutFlagsTheStream) {
    Listener lis;
    ASSERT_NE(lis.stream, nullptr);
    std::atomic<bool> done{false};
    std::thread server([&] {
        ACL_VSTREAM* c = acl_vstream_accept_ex(lis.stream, nullptr, 0);
        // Stay silent until the client has given up.
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        acl_vstream_writen(c, "late\n", 5);
        acl_vstream_close(c);
    });

    ACL_VSTREAM* s = acl_vstream_connect_ex(lis.addr().c_str(), ACL_BLOCKING, 5, 1, 0);
    ASSERT_NE(s, nullptr);
    char buf[64];
    EXPECT_EQ(acl_vstream_gets(s, buf, sizeof(buf)), ACL_VSTREAM_EOF);
    EXPECT_TRUE(s->flag & ACL_VSTREAM_FLAG_TIMEOUT);
    EXPECT_STREQ(acl_vstream_strerror(s), "read timeout");

    // The time-out is not final: a later read gets what comes. The line is
    // sent before the read starts, so a slow server thread cannot run the
    // read into its one-second time-out again.
    done = true;
    server.join();
    EXPECT_EQ(acl_vstream_gets(s, buf, sizeof(buf)), 5);
    EXPECT_FALSE(s->flag & ACL_VSTREAM_FLAG_TIMEOUT);
    acl_vstream_close(s);
}

TEST(VstreamBlocking, WriteTimeoutWhenThePeerStopsReading) {
    int fds[2];
    ASSERT_EQ(platform::sock_pair(fds), 0);
    platform::sock_set_buffers(fds[0], 4096, 4096);
    ACL_VSTREAM* s = acl_vstream_fdopen(fds[0], 0, 0, 1, ACL_VSTREAM_TYPE_SOCK);
    std::string big(1 << 20, 'w');
    EXPECT_EQ(acl_vstream_writen(s, big.data(), big.size()), ACL_VSTREAM_EOF);
    EXPECT_TRUE(s->flag & ACL_VSTREAM_FLAG_TIMEOUT);
    EXPECT_STREQ(acl_vstream_strerror(s), "write timeout");
    acl_vstream_close(s);
    platform::sock_close(fds[1]);
}

TEST(VstreamBlocking, HalfLineThenEndOfFile) {
    Listener lis;
    ASSERT_NE(lis.stream, nullptr);
    std::thread server([&] {
        ACL_VSTREAM* c = acl_vstream_accept_ex(lis.stream, nullptr, 0);
        acl_vstream_writen(c, "half", 4);
        acl_vstream_close(c);
    });
    ACL_VSTREAM* s = acl_vstream_connect_ex(lis.addr().c_str(), ACL_BLOCKING, 0, 5, 0);
    ASSERT_NE(s, nullptr);
    char buf[64];
    EXPECT_EQ(acl_vstream_gets(s, buf, sizeof(buf)), 4);
    EXPECT_STREQ(buf, "half");
    EXPECT_EQ(acl_vstream_gets(s, buf, sizeof(buf)), ACL_VSTREAM_EOF);
    EXPECT_TRUE(s->flag & ACL_VSTREAM_FLAG_EOF);
    EXPECT_EQ(std::string(acl_vstream_strerror(s)).rfind("closed by peer(", 0), 0u);
    server.join();
    acl_vstream_close(s);
}

TEST(VstreamConnect, BadAddressesFail) {
    EXPECT_EQ(acl_vstream_connect_ex("127.0.0.1", ACL_BLOCKING, 1, 1, 0), nullptr);
    EXPECT_EQ(acl_vstream_connect_ex("127.0.0.1:notaport", ACL_BLOCKING, 1, 1, 0), nullptr);
    EXPECT_EQ(acl_vstream_connect_ex("no-such-host.invalid:80", ACL_BLOCKING, 1, 1, 0), nullptr);

    // A port nobody listens on: refused both timed and direct.
    int port;
    {
        Listener lis;
        ASSERT_NE(lis.stream, nullptr);
        port = std::stoi(lis.addr().substr(lis.addr().rfind(':') + 1));
    }
    std::string addr = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, 2, 1, 0), nullptr);
    EXPECT_EQ(acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, 0, 1, 0), nullptr);
}

std::string g_order;
void mark(ACL_VSTREAM*, void* ctx) { g_order += static_cast<const char*>(ctx); }

TEST(VstreamClose, HandlesRunInOrderAndOneCanBeRemoved) {
    g_order.clear();
    char a[] = "a", b[] = "b", c[] = "c";
    int fds[2];
    ASSERT_EQ(platform::sock_pair(fds), 0);
    ACL_VSTREAM* s = acl_vstream_fdopen(fds[0], 0, 10, 0, ACL_VSTREAM_TYPE_SOCK);
    EXPECT_EQ(acl_vstream_bufsize(s), static_cast<size_t>(ACL_VSTREAM_BUFSIZE));
    acl_vstream_add_close_handle(s, mark, a);
    acl_vstream_add_close_handle(s, mark, b);
    acl_vstream_add_close_handle(s, mark, c);
    acl_vstream_delete_close_handle(s, mark, b);
    acl_vstream_delete_close_handle(s, mark, nullptr);  // no such pair: nothing removed
    acl_vstream_close(s);
    EXPECT_EQ(g_order, "ac");
    platform::sock_close(fds[1]);
}

TEST(VstreamFile, WriteThenReadLines) {
    tarvo_test::TempDir dir;
    std::string path = dir.file("lines.txt");
    ACL_VSTREAM* w = acl_vstream_fopen(
        path.c_str(), platform::FD_WRITE | platform::FD_CREATE | platform::FD_TRUNCATE, 0600, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(acl_vstream_buffed_fprintf(w, "one\n"), 4);
    EXPECT_EQ(acl_vstream_buffed_fprintf(w, "two"), 3);
    EXPECT_EQ(acl_vstream_close(w), 0);  // the close flushes

    ACL_VSTREAM* r = acl_vstream_fopen(path.c_str(), platform::FD_READ, 0, 0);
    ASSERT_NE(r, nullptr);
    char buf[16];
    EXPECT_EQ(acl_vstream_gets_nonl(r, buf, sizeof(buf)), 3);
    EXPECT_STREQ(buf, "one");
    EXPECT_EQ(acl_vstream_gets(r, buf, sizeof(buf)), 3);
    EXPECT_STREQ(buf, "two");
    EXPECT_EQ(acl_vstream_read(r, buf, sizeof(buf)), ACL_VSTREAM_EOF);
    acl_vstream_close(r);
}

}  // namespace
