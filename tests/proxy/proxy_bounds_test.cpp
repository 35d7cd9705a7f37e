// The proxy in-process: what one connection may cost it. Headers are bound
// in size and time, a browser that leaves is noticed while the server
// thinks, the listen queue is the system's largest, and a tunnel to the
// proxy itself is refused.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/child_process.h"
#include "proxy_inproc.h"

using namespace proxy_inproc;

namespace {

TEST_F(ProxyTest, RequestHeaderPastSixtyFourKibibytesGetsTheBadRequestReply) {
    ScriptedServer server([](platform::TcpSocket& s) {
        std::string head, body;
        if (read_request(s, head, body)) s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    });
    std::string t = target_of(server.port());
    std::string line(30 * 1024, 'v');
    auto r = raw_exchange(proxy_port(), "GET http://" + t + "/ HTTP/1.1\r\nHost: " + t +
                                            "\r\nX-A: " + line + "\r\nX-B: " + line +
                                            "\r\nX-C: " + line + "\r\n\r\n");
    EXPECT_EQ(r, PROXY_REPLY_BAD_REQUEST);
    EXPECT_EQ(server.accepted(), 0);
}

TEST_F(ProxyTest, ResponseHeaderPastSixtyFourKibibytesClosesTheConnection) {
    ScriptedServer server([](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 200 OK\r\n");
        std::string line = "X-Big: " + std::string(100 * 1024, 'b') + "\r\n";
        for (int i = 0; i < 20; ++i)
            if (s.send_all(line) != 0) return;
    });
    bool closed = false;
    auto r = raw_get("http://" + target_of(server.port()) + "/", "", &closed, 5000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(r, "");
    EXPECT_EQ(server.accepted(), 1) << "not resent";
}

std::atomic<time_t> g_proxy_now{0};
time_t proxy_clock() { return g_proxy_now.load(); }

TEST_F(ProxyTest, DribblingBrowserIsClosedAtTheWholeHeaderDeadline) {
    g_proxy_now = time(nullptr);
    use_settings(AIO_PROXY_CONN_TIMEOUT, AIO_PROXY_RW_TIMEOUT, proxy_clock);
    platform::TcpSocket dribbler, idle;
    ASSERT_EQ(dribbler.connect("127.0.0.1", proxy_port()), 0);
    ASSERT_EQ(idle.connect("127.0.0.1", proxy_port()), 0);
    dribbler.send_all("GET http://127.0.0.1/ HT");
    // Each read stays within the read timeout; only the whole header's
    // deadline ends this. The clock moves a minute per poll.
    std::string out;
    bool closed = tarvo_test::wait_until(
        [&] {
            g_proxy_now += AIO_PROXY_HDR_TIMEOUT + 1;
            dribbler.send_all("T");
            return dribbler.recv_some(out, 200) == 0;
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(closed) << out;
    EXPECT_EQ(out, "");
    // A connection that has sent nothing is left to the read timeout.
    std::string nothing;
    EXPECT_EQ(idle.recv_some(nothing, 300), -1) << "still open";
    // And the proxy serves.
    EXPECT_EQ(curl(proxy_port(), {nginx_url("/small.html")}).output, g_world->small);
}

TEST_F(ProxyTest, BrowserLeavingWhileTheServerThinksEndsBothSides) {
    std::atomic<bool> server_saw_close{false};
    ScriptedServer thinker([&](platform::TcpSocket& s) {
        std::string head, body, rest;
        if (!read_request(s, head, body)) return;
        if (s.recv_until_close(rest, 30000) == 1) server_saw_close = true;
    });
    platform::TcpSocket c;
    ASSERT_EQ(c.connect("127.0.0.1", proxy_port()), 0);
    std::string t = target_of(thinker.port());
    c.send_all("GET http://" + t + "/ HTTP/1.1\r\nHost: " + t + "\r\n\r\n");
    ASSERT_TRUE(thinker.wait_accepted(1, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the request is in
    c.close();
    EXPECT_TRUE(
        tarvo_test::wait_until([&] { return server_saw_close.load(); }, std::chrono::seconds(10)))
        << "the server side is closed as soon as the browser hangs up";
}

TEST_F(ProxyTest, ListenQueueIsTheSystemsLargest) {
    std::ifstream in("/proc/sys/net/core/somaxconn");
    int somaxconn = 0;
    in >> somaxconn;
    ASSERT_GT(somaxconn, 0);
    std::string out;
    ASSERT_EQ(platform::run_program(
                  {"/usr/bin/ss", "-ltnH", "sport = :" + std::to_string(proxy_port())}, out, 10000),
              0);
    // State Recv-Q Send-Q ...: for a listener Send-Q is its backlog.
    std::istringstream fields(out);
    std::string state, recvq, sendq;
    fields >> state >> recvq >> sendq;
    EXPECT_EQ(sendq, std::to_string(somaxconn)) << out;
}

TEST_F(ProxyTest, ConnectToTheProxysOwnAddressGetsTheLoopReply) {
    std::string self = target_of(proxy_port());
    bool closed = false;
    auto r = raw_exchange(
        proxy_port(), "CONNECT " + self + " HTTP/1.1\r\nHost: " + self + "\r\n\r\n", &closed, 5000);
    EXPECT_EQ(r, PROXY_REPLY_LOOP);
    EXPECT_TRUE(closed);
}

}  // namespace
