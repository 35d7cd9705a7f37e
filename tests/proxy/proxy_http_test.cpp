// The proxy in-process: every method forwarded with its body, resends that
// carry the body, the statuses whose response has no body, the
// request-target naming the server, and hop-by-hop fields.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "proxy_inproc.h"
#include "recording_origin.h"

using namespace proxy_inproc;

namespace {

std::string request_line(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// Sends `method` with `payload` by Content-Length to the server on `port`;
// the whole answer.
std::string exchange_with_body(int proxy_port, const std::string& method, int port,
                               const std::string& payload) {
    std::string t = target_of(port);
    return raw_exchange(proxy_port, method + " http://" + t + "/p HTTP/1.1\r\nHost: " + t +
                                        "\r\nContent-Length: " + std::to_string(payload.size()) +
                                        "\r\n\r\n" + payload);
}

TEST_F(ProxyTest, EveryMethodIsForwardedWithItsBody) {
    const struct {
        std::string method, body;
    } cases[] = {
        {"PUT", "put body"},   {"DELETE", ""},       {"PATCH", "{\"a\":1}"},
        {"OPTIONS", ""},       {"PROPFIND", "<x/>"}, {"DELETE", "with a body"},
        {"POST", "post body"}, {"GET", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.body);
        RecordingOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone", 0);
        std::string t = target_of(origin.port());
        std::string req = c.method + " http://" + t + "/m HTTP/1.1\r\nHost: " + t + "\r\n";
        if (!c.body.empty()) req += "Content-Length: " + std::to_string(c.body.size()) + "\r\n";
        auto r = raw_exchange(proxy_port(), req + "\r\n" + c.body);
        EXPECT_EQ(r.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r;
        EXPECT_EQ(body_of(r), "done");
        auto got = origin.requests();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(request_line(got[0].head), c.method + " /m HTTP/1.1");
        EXPECT_EQ(got[0].body, c.body);
    }
}

TEST_F(ProxyTest, HeadAnswerEndsAfterTheHeaderWhateverItsLength) {
    ScriptedServer server([](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        std::string rest;
        s.recv_until_close(rest, 8000);  // keeps the connection: the proxy must end it
    });
    std::string t = target_of(server.port());
    bool closed = false;
    auto r = raw_exchange(
        proxy_port(), "HEAD http://" + t + "/ HTTP/1.1\r\nHost: " + t + "\r\n\r\n", &closed, 5000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(r.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r;
    EXPECT_EQ(header_value(r, "Content-Length"), "1000");
    EXPECT_EQ(body_of(r), "");
}

TEST_F(ProxyTest, ChunkedRequestBodyIsForwardedInOnePlainForm) {
    RecordingOrigin origin;
    std::string t = target_of(origin.port());
    auto r = raw_exchange(proxy_port(), "POST http://" + t + "/up HTTP/1.1\r\nHost: " + t +
                                            "\r\nTransfer-Encoding: chunked\r\n\r\n"
                                            "5;name=v\r\nhello\r\n1A\nabcdefghijklmnopqrstuvwxyz\n"
                                            "0\r\nX-Trailer: t\r\n\r\n");
    EXPECT_EQ(body_of(r), "ok");
    auto got = origin.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(header_value(got[0].head, "Transfer-Encoding"), "chunked");
    EXPECT_EQ(got[0].body, "5\r\nhello\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n");
    EXPECT_EQ(got[0].after, "");
}

TEST_F(ProxyTest, ResendCarriesTheBody) {
    std::atomic<int> n{0};
    std::mutex mu;
    std::vector<std::string> bodies;
    ScriptedServer flaky([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        {
            std::lock_guard<std::mutex> lock(mu);
            bodies.push_back(body);
        }
        if (++n < 3) return;  // closes before answering
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
    });
    std::string payload = pattern_bytes(40 * 1024, 4);
    auto r = exchange_with_body(proxy_port(), "POST", flaky.port(), payload);
    EXPECT_TRUE(body_of(r) == payload) << head_of(r);
    std::lock_guard<std::mutex> lock(mu);
    ASSERT_EQ(bodies.size(), 3u);
    for (const auto& b : bodies) EXPECT_TRUE(b == payload) << b.size();
}

TEST_F(ProxyTest, BodyTooLargeToKeepIsNotResentAndTheErrorComesAtOnce) {
    ScriptedServer closer([](platform::TcpSocket& s) {
        std::string head, body;
        read_request(s, head, body);
    });
    std::string payload = pattern_bytes(100 * 1024, 6);
    auto r = exchange_with_body(proxy_port(), "PUT", closer.port(), payload);
    EXPECT_EQ(r, PROXY_REPLY_RESPOND_ERROR);
    EXPECT_EQ(closer.accepted(), 1);
}

TEST_F(ProxyTest, RedirectBodyIsRelayedAnd304And204EndAfterTheHeader) {
    const struct {
        std::string status, body_sent, body_relayed;
    } cases[] = {
        {"302 Found", "0123456789", "0123456789"},
        {"301 Moved", "0123456789", "0123456789"},
        {"304 Not Modified", "0123456789", ""},
        {"204 No Content", "0123456789", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        ScriptedServer server([&](platform::TcpSocket& s) {
            std::string head, body;
            if (!read_request(s, head, body)) return;
            s.send_all("HTTP/1.1 " + c.status +
                       "\r\nLocation: http://x/\r\nContent-Length: 10\r\n\r\n" + c.body_sent);
            std::string rest;
            s.recv_until_close(rest, 5000);
        });
        bool closed = false;
        auto r = raw_get("http://" + target_of(server.port()) + "/", "", &closed, 4000);
        EXPECT_TRUE(closed);
        EXPECT_EQ(r.rfind("HTTP/1.1 " + c.status + "\r\n", 0), 0u) << r;
        EXPECT_EQ(body_of(r), c.body_relayed);
    }
    // nginx's redirect has a body too: curl gets all of it.
    auto redirect = curl(proxy_port(), {"-D", "-", nginx_url("/redirect")});
    EXPECT_EQ(redirect.status, 0) << "no 'transfer closed with bytes remaining'";
    EXPECT_EQ(redirect.output.rfind("HTTP/1.1 302", 0), 0u) << redirect.output;
    EXPECT_NE(body_of(redirect.output), "");
}

TEST_F(ProxyTest, EveryInterimStatusButSwitchingIsSkipped) {
    ScriptedServer server([](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n");
        s.send_all("HTTP/1.1 102 Processing\r\n\r\n");
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal");
    });
    auto r = raw_get("http://" + target_of(server.port()) + "/");
    EXPECT_EQ(r.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r;
    EXPECT_EQ(body_of(r), "final");
}

TEST_F(ProxyTest, UnparsableResponseHeaderClosesWithoutResending) {
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\nContent-Length : 2\r\n\r\nok",
        "HTTP/1.1 99 Low\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\nok",
    };
    for (const auto& h : heads) {
        SCOPED_TRACE(h);
        ScriptedServer server([&](platform::TcpSocket& s) {
            std::string head, body;
            if (!read_request(s, head, body)) return;
            s.send_all(h);
        });
        bool closed = false;
        auto r = raw_get("http://" + target_of(server.port()) + "/", "", &closed, 5000);
        EXPECT_TRUE(closed);
        EXPECT_EQ(r, "");
        EXPECT_EQ(server.accepted(), 1) << "not resent";
    }
}

TEST_F(ProxyTest, ResponseWithConflictingFramingIsRelayedUntilCloseWithoutItsLength) {
    ScriptedServer server([](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 30\r\n\r\n");
        s.send_all("abcdefghijklmnopqrstuvwxyz");
    });
    bool closed = false;
    auto r = raw_get("http://" + target_of(server.port()) + "/", "", &closed, 5000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(header_value(r, "Content-Length"), "");
    EXPECT_EQ(body_of(r), "abcdefghijklmnopqrstuvwxyz");
}

TEST_F(ProxyTest, RequestTargetDecidesTheServerAndHostIsMadeToMatch) {
    RecordingOrigin named, other;
    std::string t = target_of(named.port());
    auto r = raw_exchange(proxy_port(), "GET http://" + t + "/a HTTP/1.1\r\nHost: " +
                                            target_of(other.port()) + "\r\n\r\n");
    EXPECT_EQ(body_of(r), "ok");
    EXPECT_EQ(other.accepted(), 0);
    auto got = named.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(header_value(got[0].head, "Host"), t);

    // HTTP/1.0 without Host: it leaves as 1.1 with the URL's host.
    auto r10 = raw_exchange(proxy_port(), "GET http://" + t + "/b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(body_of(r10), "ok");
    got = named.requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(request_line(got[1].head), "GET /b HTTP/1.1");
    EXPECT_EQ(header_value(got[1].head, "Host"), t);
}

TEST_F(ProxyTest, HopByHopFieldsStayAtTheProxy) {
    RecordingOrigin origin(
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nKeep-Alive: timeout=5\r\nUpgrade: h2c\r\n"
        "Connection: keep-alive, X-Hop\r\nX-Hop: 1\r\nX-End: 1\r\n\r\nok");
    std::string t = target_of(origin.port());
    auto r = raw_exchange(proxy_port(),
                          "POST http://" + t + "/h HTTP/1.1\r\nHost: " + t +
                              "\r\nConnection: keep-alive, X-Private, Content-Length, Host\r\n"
                              "X-Private: secret\r\nKeep-Alive: 300\r\nTE: trailers\r\n"
                              "Upgrade: websocket\r\nProxy-Authorization: Basic eA==\r\n"
                              "Proxy-Connection: keep-alive\r\nX-Kept: 1\r\nContent-Length: 4\r\n"
                              "\r\nbody");
    auto got = origin.requests();
    ASSERT_EQ(got.size(), 1u);
    const std::string& head = got[0].head;
    for (const char* gone :
         {"X-Private", "Keep-Alive", "TE", "Upgrade", "Proxy-Authorization", "Proxy-Connection"})
        EXPECT_EQ(header_value(head, gone), "") << gone;
    EXPECT_EQ(header_value(head, "Connection"), "close");
    EXPECT_EQ(header_value(head, "X-Kept"), "1");
    EXPECT_EQ(header_value(head, "Content-Length"), "4") << "framing is never dropped";
    EXPECT_EQ(header_value(head, "Host"), t);
    EXPECT_EQ(got[0].body, "body");

    for (const char* gone : {"Keep-Alive", "Upgrade", "X-Hop"})
        EXPECT_EQ(header_value(r, gone), "") << gone;
    EXPECT_EQ(header_value(r, "Connection"), "close");
    EXPECT_EQ(header_value(r, "X-End"), "1");
    EXPECT_EQ(body_of(r), "ok");
}

TEST_F(ProxyTest, OnlyGetIsOfferedToAcceleration) {
    int before = g_accelerated;
    bool closed = false;
    std::string t = target_of(nginx_port());
    auto head = raw_exchange(
        proxy_port(), "HEAD http://" + t + "/accelerate/v.flv HTTP/1.1\r\nHost: " + t + "\r\n\r\n",
        &closed, 5000);
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    EXPECT_EQ(body_of(head), "");
    EXPECT_EQ(g_accelerated, before) << "a HEAD answer is relayed by the proxy itself";
    auto get = raw_get("http://" + t + "/accelerate/v.flv");
    EXPECT_EQ(body_of(get), "accelerated");
    EXPECT_EQ(g_accelerated, before + 1);
}

}  // namespace
