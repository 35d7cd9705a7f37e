// The proxy in-process: relay, intake, upstream and acceleration.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/socket.h"
#include "proxy/dns_cache.h"
#include "proxy_inproc.h"

using namespace proxy_inproc;
namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------ relay

TEST_F(ProxyTest, CurlGetsIdenticalBodiesFromNginx) {
    auto small = curl(proxy_port(), {nginx_url("/small.html")});
    EXPECT_EQ(small.status, 0);
    EXPECT_EQ(small.output, g_world->small);
    auto medium = curl(proxy_port(), {nginx_url("/medium.bin")});
    EXPECT_EQ(medium.status, 0);
    EXPECT_TRUE(medium.output == g_world->medium) << "size " << medium.output.size();
}

TEST_F(ProxyTest, ResponseHeaderIsMarkedCloseAndRequestCarriesVia) {
    std::string seen;
    ScriptedServer server(answer_ok(seen));
    auto r = raw_get("http://127.0.0.1:" + std::to_string(server.port()) + "/a?b=c",
                     "Proxy-Connection: keep-alive\r\nConnection: keep-alive\r\n");
    EXPECT_EQ(header_value(r, "Connection"), "close");
    EXPECT_EQ(header_value(r, "Proxy-Connection"), "close");
    EXPECT_EQ(body_of(r), "ok");
    EXPECT_EQ(seen.rfind("GET /a?b=c HTTP/1.1\r\n", 0), 0u) << seen;
    EXPECT_EQ(header_value(seen, "Connection"), "close");
    EXPECT_EQ(header_value(seen, "Proxy-Connection"), "") << "a hop-by-hop field stays here";
    EXPECT_EQ(header_value(seen, "x-via-tarvospeed"), aio_proxy_via());
}

TEST_F(ProxyTest, PostBodyReachesServerUnchanged) {
    std::mutex received_mu;  // the server thread writes it, curl's exit does not order that
    std::string received;
    ScriptedServer echo([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        std::lock_guard<std::mutex> lock(received_mu);
        received = body;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
    });
    std::string payload = pattern_bytes(300 * 1024 + 3, 9);
    write_file(g_world->dir.path() / "post.bin", payload);
    auto r = curl(proxy_port(),
                  {"--data-binary", "@" + (g_world->dir.path() / "post.bin").string(), "-H",
                   "Expect:", "http://127.0.0.1:" + std::to_string(echo.port()) + "/post"});
    EXPECT_EQ(r.status, 0);
    {
        std::lock_guard<std::mutex> lock(received_mu);
        EXPECT_TRUE(received == payload) << received.size();
    }
    EXPECT_TRUE(r.output == payload) << r.output.size();

    // A POST with a zero length goes straight to the response.
    auto empty = curl(proxy_port(), {"-X", "POST", "-H", "Content-Length: 0",
                                     "http://127.0.0.1:" + std::to_string(echo.port()) + "/e"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.output, "");
}

TEST_F(ProxyTest, ChunkedResponseReachesBrowserStillChunked) {
    const std::string chunked =
        "5\r\nhello\r\n1a;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n"
        "0\r\nX-Trailer: yes\r\n\r\n";
    ScriptedServer server([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        s.send_all(chunked.substr(0, 9));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        s.send_all(chunked.substr(9));
        std::string rest;
        s.recv_until_close(rest, 5000);  // keeps the connection: the framing must end it
    });
    bool closed = false;
    auto r = raw_get("http://127.0.0.1:" + std::to_string(server.port()) + "/c", "", &closed, 5000);
    EXPECT_TRUE(closed) << "the end of the chunked body ends the connection";
    EXPECT_EQ(header_value(r, "Transfer-Encoding"), "chunked");
    EXPECT_EQ(body_of(r), chunked);

    // nginx turns a reply without length into chunks; curl decodes them.
    auto c = curl(proxy_port(), {"-D", "-", nginx_url("/chunked/x")});
    EXPECT_EQ(c.status, 0);
    EXPECT_NE(c.output.find("Transfer-Encoding: chunked"), std::string::npos) << head_of(c.output);
    EXPECT_TRUE(body_of(c.output) == pattern_bytes(300000, 77)) << body_of(c.output).size();
}

TEST_F(ProxyTest, BodyWithoutLengthIsReadUntilClose) {
    auto r = curl(proxy_port(),
                  {"http://127.0.0.1:" + std::to_string(g_world->close_delimited->port()) + "/u"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.output == pattern_bytes(300000, 77)) << r.output.size();
}

TEST_F(ProxyTest, InterimContinueIsFollowedOnlyByTheFinalHeader) {
    ScriptedServer server([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 100 Continue\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal");
    });
    auto r = raw_get("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(r.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r;
    EXPECT_EQ(r.find("100 Continue"), std::string::npos);
    EXPECT_EQ(body_of(r), "final");
}

// ------------------------------------------------------------ intake

TEST_F(ProxyTest, LoopIsDetectedInAnyCaseAndOtherIdentitiesPass) {
    std::string seen;
    ScriptedServer server(answer_ok(seen));
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    std::string mine = aio_proxy_via();
    std::string upper = mine;
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& via : {mine, upper}) {
        for (const char* name : {"x-via-tarvospeed", "X-Via-TarvoSpeed"}) {
            auto r = raw_get(url, std::string(name) + ": " + via + "\r\n");
            EXPECT_EQ(r, PROXY_REPLY_LOOP) << name << ": " << via;
        }
    }
    EXPECT_EQ(server.accepted(), 0) << "a looping request never reaches a server";

    auto r = raw_get(url, "X-Via-Tarvospeed: tarvospeed-1\r\n");
    EXPECT_EQ(body_of(r), "ok");
    EXPECT_EQ(header_value(seen, "x-via-tarvospeed"), "tarvospeed-1");
}

TEST_F(ProxyTest, MalformedRequestsCloseWithoutHarmingOthers) {
    // A slow download runs while the bad requests arrive.
    std::string slow_body;
    std::thread slow([&] {
        auto r = curl(proxy_port(), {"--limit-rate", "2M", nginx_url("/medium.bin")});
        slow_body = r.output;
    });
    std::string line100k(100 * 1024, 'a');
    std::string many_lines;
    for (int i = 0; i < 2000; ++i) many_lines += "X-H" + std::to_string(i) + ": v\r\n";
    std::string noise = pattern_bytes(4096, 3);
    const std::string cases[] = {
        noise + "\r\n\r\n",
        "GET http://127.0.0.1/" + line100k + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET http://127.0.0.1/ HTTP/1.1\r\nHost: 127.0.0.1\r\n" + many_lines + "\r\n",
        "GET /relative HTTP/1.1\r\nUser-Agent: t\r\n\r\n",
        "POST http://127.0.0.1:" + std::to_string(nginx_port()) +
            "/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: abc\r\n\r\nxyz",
    };
    for (const auto& req : cases) {
        bool closed = false;
        auto r = raw_exchange(proxy_port(), req, &closed, 10000);
        EXPECT_TRUE(closed) << req.substr(0, 60);
        EXPECT_EQ(r.rfind("HTTP/1.1 200", 0), std::string::npos) << req.substr(0, 60);
    }
    slow.join();
    EXPECT_TRUE(slow_body == g_world->medium) << slow_body.size();
    // The proxy still serves.
    EXPECT_EQ(curl(proxy_port(), {nginx_url("/small.html")}).output, g_world->small);
}

TEST_F(ProxyTest, SilentBrowserIsDroppedAfterTheReadWriteTimeout) {
    use_settings(AIO_PROXY_CONN_TIMEOUT, 1, nullptr);
    platform::TcpSocket s;
    ASSERT_EQ(s.connect("127.0.0.1", proxy_port()), 0);
    std::string out;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.recv_until_close(out, 10000), 1) << "closed by the proxy";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(out, "");
}

TEST_F(ProxyTest, ServerSilentAfterTheRequestGetsTheResponseTimeout) {
    use_settings(AIO_PROXY_CONN_TIMEOUT, 1, nullptr);
    ScriptedServer server([&](platform::TcpSocket& s) {
        std::string rest;
        s.recv_until_close(rest, 8000);
    });
    auto r = raw_get("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(r, PROXY_REPLY_RESPOND_TIMEOUT);
}

// ------------------------------------------------------------ upstream

TEST_F(ProxyTest, NameThatDoesNotResolveGetsTheDnsReply) {
    auto r = raw_exchange(proxy_port(),
                          "GET http://nowhere.test/ HTTP/1.1\r\nHost: nowhere.test\r\n\r\n");
    EXPECT_EQ(r, PROXY_REPLY_DNS_ERROR);
    // Failures are not cached: the next request asks again.
    raw_exchange(proxy_port(), "GET http://nowhere.test/ HTTP/1.1\r\nHost: nowhere.test\r\n\r\n");
    EXPECT_EQ(lookups("nowhere.test"), 2);
}

TEST_F(ProxyTest, RefusedConnectGetsTheConnectErrorReply) {
    add_name("refused.test", {"127.0.0.1"});
    int closed_port = platform::free_loopback_port();
    std::string host = "refused.test:" + std::to_string(closed_port);
    auto r = raw_exchange(proxy_port(),
                          "GET http://" + host + "/ HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(r, PROXY_REPLY_CONNECT_ERROR);
}

TEST_F(ProxyTest, SecondAddressIsTriedWhenTheFirstRefuses) {
    // Nothing listens on 127.0.0.2 at nginx's port; nginx answers on 127.0.0.1.
    add_name("two.test", {"127.0.0.2", "127.0.0.1", "127.0.0.3"});
    auto r = raw_get("http://two.test:" + std::to_string(nginx_port()) + "/small.html");
    EXPECT_EQ(r.rfind("HTTP/1.1 200", 0), 0u) << r;
    EXPECT_EQ(body_of(r), g_world->small);
}

TEST_F(ProxyTest, TenConnectionsForOneHostShareOneLookup) {
    add_name("ten.test", {"127.0.0.1"});
    {
        std::lock_guard<std::mutex> lock(g_dns_mu);
        g_hold = "ten.test";
        g_release = false;
    }
    std::string host = "ten.test:" + std::to_string(nginx_port());
    std::vector<platform::TcpSocket> clients(10);
    for (auto& c : clients) {
        ASSERT_EQ(c.connect("127.0.0.1", proxy_port()), 0);
        c.send_all("GET http://" + host + "/small.html HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    }
    // Wait until the one lookup is under way, give the others time to queue.
    tarvo_test::wait_until([] { return lookups("ten.test") != 0; }, std::chrono::seconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        std::lock_guard<std::mutex> lock(g_dns_mu);
        g_release = true;
        g_hold.clear();
    }
    g_dns_cv.notify_all();
    for (auto& c : clients) {
        std::string out;
        c.recv_until_close(out, 10000);
        EXPECT_EQ(body_of(out), g_world->small);
    }
    EXPECT_EQ(lookups("ten.test"), 1);
}

TEST_F(ProxyTest, CachedAnswerServesFor299SecondsNot300) {
    add_name("cache.test", {"127.0.0.1"});
    std::string url = "http://cache.test:" + std::to_string(nginx_port()) + "/small.html";
    time_t t0 = time(nullptr) + 100000;  // far from any earlier answer
    g_dns_now = t0;
    EXPECT_EQ(body_of(raw_get(url)), g_world->small);
    EXPECT_EQ(lookups("cache.test"), 1);
    g_dns_now = t0 + 299;
    EXPECT_EQ(body_of(raw_get(url)), g_world->small);
    EXPECT_EQ(lookups("cache.test"), 1) << "299 seconds later: answered from the cache";
    g_dns_now = t0 + 300;
    EXPECT_EQ(body_of(raw_get(url)), g_world->small);
    EXPECT_EQ(lookups("cache.test"), 2) << "300 seconds later: asked again";
    g_dns_now = 0;
}

TEST_F(ProxyTest, ServerClosingBeforeAnsweringIsRetriedThreeTimes) {
    ScriptedServer server([&](platform::TcpSocket& s) {
        std::string head, body;
        read_request(s, head, body);
    });
    auto r = raw_get("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(r, PROXY_REPLY_RESPOND_ERROR);
    EXPECT_EQ(server.accepted(), 4) << "the first attempt and three resends";

    // A server that fails twice and then answers is reached on the third try.
    std::atomic<int> n{0};
    ScriptedServer flaky([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        if (++n < 3) return;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlate");
    });
    auto ok = raw_get("http://127.0.0.1:" + std::to_string(flaky.port()) + "/");
    EXPECT_EQ(body_of(ok), "late");
}

TEST_F(ProxyTest, ConnectTunnelCarriesBytesBothWaysUntilClose) {
    std::atomic<bool> server_saw_close{false};
    ScriptedServer echo([&](platform::TcpSocket& s) {
        s.send_all("greeting");
        for (;;) {
            std::string in;
            long n = s.recv_some(in, 5000);
            if (n <= 0) break;
            s.send_all(in);
        }
        server_saw_close = true;
    });
    platform::TcpSocket c;
    ASSERT_EQ(c.connect("127.0.0.1", proxy_port()), 0);
    std::string target = "127.0.0.1:" + std::to_string(echo.port());
    c.send_all("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
    std::string got;
    std::string expect_start = std::string(PROXY_REPLY_TUNNEL_OK) + "greeting";
    ASSERT_EQ(c.recv_until(got, expect_start, 5000), 1) << got;
    EXPECT_EQ(got, expect_start);
    std::string big = pattern_bytes(1 << 20, 11);
    std::thread writer([&] { c.send_all(big); });
    std::string echoed;
    while (echoed.size() < big.size() && c.recv_some(echoed, 5000) > 0) {
    }
    writer.join();
    EXPECT_TRUE(echoed == big) << echoed.size();
    c.close();
    EXPECT_TRUE(
        tarvo_test::wait_until([&] { return server_saw_close.load(); }, std::chrono::seconds(3)));
}

TEST_F(ProxyTest, AcceleratedResponseIsLeftToTheHook) {
    int before = g_accelerated;
    auto r = raw_get(nginx_url("/accelerate/v.flv"));
    EXPECT_EQ(r, "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\naccelerated")
        << "nothing of the server's response is written by the proxy";
    EXPECT_EQ(g_accelerated, before + 1);
    // A response the hook declines is relayed as usual.
    auto missing = raw_get(nginx_url("/accelerate/none.flv"));
    EXPECT_EQ(missing.rfind("HTTP/1.1 404", 0), 0u) << missing;
    EXPECT_EQ(g_accelerated, before + 1);
}

TEST_F(ProxyTest, ServerThatNeverAcceptsGetsTheConnectTimeoutReply) {
    // A listener that never accepts, its queue filled: further connects hang.
    platform::TcpListener full;
    ASSERT_EQ(full.listen("127.0.0.1", 0, 0), 0);
    std::vector<platform::TcpSocket> fillers;
    for (int i = 0; i < 8; ++i) {
        platform::TcpSocket s;
        if (s.connect("127.0.0.1", full.port(), 200) != 0) break;
        fillers.push_back(std::move(s));
    }
    platform::TcpSocket probe;
    if (probe.connect("127.0.0.1", full.port(), 300) == 0)
        GTEST_SKIP() << "this system completes connects beyond the listen queue";
    use_settings(1, AIO_PROXY_RW_TIMEOUT, nullptr);
    add_name("slow.test", {"127.0.0.1"});
    std::string host = "slow.test:" + std::to_string(full.port());
    auto r = raw_exchange(proxy_port(),
                          "GET http://" + host + "/ HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(r, PROXY_REPLY_CONNECT_TIMEOUT);
}

TEST_F(ProxyTest, ListenerSurvivesIdlePeriods) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(curl(proxy_port(), {nginx_url("/small.html")}).output, g_world->small);
}

TEST_F(ProxyTest, OnlyTheFirstFiveAddressesAreTried) {
    // Five addresses that refuse, then the one that would answer.
    add_name("eight.test", {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6",
                            "127.0.0.1", "127.0.0.7", "127.0.0.8"});
    std::string host = "eight.test:" + std::to_string(nginx_port());
    auto r = raw_exchange(
        proxy_port(), "GET http://" + host + "/small.html HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(r, PROXY_REPLY_CONNECT_ERROR);
}

// Descriptors open in this process: the proxy's sockets among them.
std::size_t open_descriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST_F(ProxyTest, BrowserLeavingMidBodyEndsBothSides) {
    // The browser stops reading, so the proxy holds back the server; then
    // the browser leaves. Both sides end and the proxy goes on serving.
    // The server offers far more than the buffers hold and notes when the
    // proxy lets go of its connection.
    std::atomic<int> server_ended{0};
    ScriptedServer server([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n");
        const std::string piece(65536, 'b');
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            platform::sock_send_nowait(s.fd(), piece.data(), piece.size());
            if (platform::fd_wait(s.fd(), platform::WAIT_READ, 50) > 0) {
                char c;
                if (platform::sock_recv(s.fd(), &c, 1) <= 0) {
                    server_ended++;
                    return;
                }
            }
        }
    });
    // One exchange first: the DNS service opens its channel's far end on the
    // first lookup, and that descriptor stays.
    ASSERT_EQ(curl(proxy_port(), {nginx_url("/small.html")}).output, g_world->small);
    const std::size_t fds_before = open_descriptors();
    std::string host = "127.0.0.1:" + std::to_string(server.port());
    for (int i = 0; i < 5; ++i) {
        platform::TcpSocket c;
        ASSERT_EQ(c.connect("127.0.0.1", proxy_port()), 0);
        c.send_all("GET http://" + host + "/big HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        std::string some;
        c.recv_some(some, 5000);
        EXPECT_EQ(some.rfind("HTTP/1.1 200", 0), 0u) << some.substr(0, 40);
        std::this_thread::sleep_for(std::chrono::milliseconds(100 * i));
        c.close();
    }
    // The server side: the proxy closed each of its five connections.
    EXPECT_TRUE(
        tarvo_test::wait_until([&] { return server_ended.load() == 5; }, std::chrono::seconds(20)))
        << server_ended.load() << " of 5 server connections ended";
    // The browser side: once the server's handlers returned, no descriptor of
    // the five exchanges is left open, so the proxy closed the browser
    // sockets too.
    EXPECT_TRUE(tarvo_test::wait_until([&] { return open_descriptors() <= fds_before; },
                                       std::chrono::seconds(20)))
        << open_descriptors() << " descriptors open, " << fds_before << " before";
    EXPECT_EQ(curl(proxy_port(), {nginx_url("/small.html")}).output, g_world->small);
}

}  // namespace
