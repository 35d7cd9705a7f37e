// The server channel against a scripted server socket in the test, with the
// P2P clock replaced so that resends, keep-alives and the login deadline run
// without sleeping.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "p2p_clock.h"
#include "p2p_wire.h"
#include "platform/udp.h"
#include "server_channel.h"
#include "test_support.h"

using namespace std::chrono_literals;
using p2p::ServerChannel;

namespace {

std::atomic<std::uint64_t> g_now{1000000};
std::uint64_t test_clock() { return g_now.load(); }

struct Dgram {
    P2P_HEADER h;
    std::string payload;
};

// The session server's side, played by the test.
class ScriptedServer {
  public:
    ScriptedServer() {
        sock_.open();
        platform::UdpAddr a;
        platform::ipv4_parse("127.0.0.1", &a.ip);
        sock_.bind(a);
        sock_.local_addr(&addr_);
    }
    int port() const { return addr_.port; }

    // The next datagram from the client within `ms`; false on a time-out.
    bool recv(Dgram& d, int ms = 10000) {
        std::string buf(2048, '\0');
        if (sock_.wait_readable(ms) <= 0) return false;
        long n = sock_.recv(buf.data(), buf.size(), &client_);
        if (n < 0) return false;
        P2pReader r(buf.data(), static_cast<std::size_t>(n));
        if (p2p_header_read(r, &d.h) != 0) return false;
        d.payload = buf.substr(P2P_HEADER_SIZE, static_cast<std::size_t>(n) - P2P_HEADER_SIZE);
        return true;
    }
    // The next datagram that is not an acknowledgement.
    bool recv_not_ack(Dgram& d, int ms = 10000) {
        while (recv(d, ms)) {
            if (d.h.cmd() != P2P_CMD_ACK) return true;
        }
        return false;
    }
    void send(const std::string& bytes) { sock_.send_to(bytes.data(), bytes.size(), client_); }

    // A datagram from the server with the given header fields and items.
    static std::string dgram(std::uint32_t id, std::uint16_t type, std::uint16_t seq,
                             const std::function<void(P2pWriter&)>& items = {}) {
        P2pWriter w;
        P2P_HEADER h;
        h.client_id = id;
        h.type = type;
        h.seq = seq;
        w.header(h);
        if (items) items(w);
        return w.bytes();
    }
    static std::string ack(std::uint16_t seq) {
        P2pWriter w;
        P2P_HEADER h;
        h.type = P2P_CMD_ACK;
        h.ack = seq;
        w.header(h);
        return w.bytes();
    }
    static std::string login_reply(std::uint32_t id, std::uint16_t seq, std::uint32_t ip,
                                   std::uint16_t state = 0) {
        return dgram(id, p2p_type(P2P_CMD_LOGIN, 0), seq, [&](P2pWriter& w) {
            w.u32(ip);
            w.u16(4321);
            w.u16(state);
        });
    }

    platform::UdpSocket sock_;
    platform::UdpAddr addr_;
    platform::UdpAddr client_;
};

class Recorder : public p2p::ServerChannelEvents {
  public:
    void on_login_reply(std::uint16_t state, std::uint32_t id) override {
        std::lock_guard<std::mutex> l(mu);
        logins.emplace_back(state, id);
    }
    void on_relay(std::uint32_t from, const std::string& blob) override {
        std::lock_guard<std::mutex> l(mu);
        relays.emplace_back(from, blob);
    }
    void on_query_answer(const P2P_QUERY_ANSWER& a) override {
        std::lock_guard<std::mutex> l(mu);
        answers.push_back(a);
    }
    void on_send_failed(std::uint16_t cmd, std::uint16_t seq) override {
        std::lock_guard<std::mutex> l(mu);
        failed.emplace_back(cmd, seq);
    }
    void on_login_lapsed() override { lapses++; }

    template <typename F>
    bool wait(F f) {
        return tarvo_test::wait_until([&] {
            std::lock_guard<std::mutex> l(mu);
            return f();
        });
    }

    std::mutex mu;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> logins;
    std::vector<std::pair<std::uint32_t, std::string>> relays;
    std::vector<P2P_QUERY_ANSWER> answers;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> failed;
    std::atomic<int> lapses{0};
};

class Channel : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = p2p_set_clock(test_clock);
        channel_ = ServerChannel::open("127.0.0.1", server_.port(), &events_, 20);
        ASSERT_NE(channel_, nullptr);
    }
    void TearDown() override {
        channel_.reset();
        p2p_set_clock(previous_);
    }

    // Logs in with `id`; the server answers with `given` and address `ip`.
    void log_in(std::uint32_t id, std::uint32_t given, std::uint32_t ip = 0x7f000001) {
        ASSERT_EQ(channel_->login(id), 0);
        Dgram d;
        ASSERT_TRUE(server_.recv_not_ack(d));
        ASSERT_EQ(d.h.cmd(), P2P_CMD_LOGIN);
        P2pReader r(d.payload.data(), d.payload.size());
        EXPECT_EQ(r.u32(), id);
        server_.send(ScriptedServer::ack(d.h.seq));
        server_.send(ScriptedServer::login_reply(given, next_seq_++, ip));
        ASSERT_TRUE(events_.wait([&] { return !events_.logins.empty(); }));
    }

    ScriptedServer server_;
    Recorder events_;
    std::unique_ptr<ServerChannel> channel_;
    std::uint16_t next_seq_ = 100;
    P2P_CLOCK_FN previous_ = nullptr;
};

TEST_F(Channel, LoginReplyGivesTheHeaderIdOnlyToAClientWithoutOne) {
    log_in(0, 1234);
    EXPECT_TRUE(channel_->logged_in());
    EXPECT_EQ(channel_->client_id(), 1234u);
    EXPECT_EQ(events_.logins[0], std::make_pair(std::uint16_t{0}, std::uint32_t{1234}));

    auto second = ServerChannel::open("127.0.0.1", server_.port(), &events_, 20);
    second->set_client_id(55);
    ASSERT_EQ(second->login(55), 0);
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    EXPECT_EQ(d.h.client_id, 55u);
    server_.send(ScriptedServer::login_reply(1234, 300, 0x7f000001));
    ASSERT_TRUE(events_.wait([&] { return events_.logins.size() == 2; }));
    EXPECT_EQ(second->client_id(), 55u);
    EXPECT_EQ(events_.logins[1].second, 55u);
}

TEST_F(Channel, NonZeroStateLeavesTheChannelLoggedOut) {
    ASSERT_EQ(channel_->login(0), 0);
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    server_.send(ScriptedServer::login_reply(77, 5, 0x7f000001, 3));
    ASSERT_TRUE(events_.wait([&] { return !events_.logins.empty(); }));
    EXPECT_EQ(events_.logins[0].first, 3);
    EXPECT_FALSE(channel_->logged_in());
    EXPECT_EQ(channel_->client_id(), 0u);
}

TEST_F(Channel, DuplicateIsAcknowledgedTwiceAndHandledOnce) {
    const std::string answer =
        ScriptedServer::dgram(0, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RC_QUERY), 7, [](P2pWriter& w) {
            w.u16(0);
            w.raw64(99);
            w.u32(0);
        });
    // The client's address is learnt from its first datagram.
    channel_->send_message(P2P_MSG_RC_QUERY, [](P2pWriter& w) { w.raw64(99); });
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    server_.send(answer);
    server_.send(answer);
    int acks = 0;
    while (acks < 2 && server_.recv(d)) {
        if (d.h.cmd() == P2P_CMD_ACK && d.h.ack == 7) acks++;
    }
    EXPECT_EQ(acks, 2);
    // A later datagram proves both copies were read before it.
    server_.send(
        ScriptedServer::dgram(0, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RELAY), 8, [](P2pWriter& w) {
            w.u32(5);
            w.blob("hello");
        }));
    ASSERT_TRUE(events_.wait([&] { return events_.relays.size() == 1; }));
    std::lock_guard<std::mutex> l(events_.mu);
    EXPECT_EQ(events_.answers.size(), 1u);
    EXPECT_EQ(events_.relays[0], std::make_pair(std::uint32_t{5}, std::string("hello")));
}

TEST_F(Channel, UnacknowledgedAddIsSentSixTimesThreeSecondsApartThenReported) {
    const std::uint64_t t0 = g_now.load();
    channel_->send_message(P2P_MSG_RC_ADD, [](P2pWriter& w) { w.raw64(0xabc); });
    Dgram first;
    ASSERT_TRUE(server_.recv_not_ack(first));
    EXPECT_EQ(first.h.subtype(), P2P_MSG_RC_ADD);
    for (int i = 1; i < 6; i++) {
        g_now = t0 + 3000 * i;
        Dgram again;
        ASSERT_TRUE(server_.recv_not_ack(again)) << "send " << i + 1;
        EXPECT_EQ(again.h.seq, first.h.seq);
        EXPECT_EQ(again.payload, first.payload);
    }
    EXPECT_EQ(channel_->resends(), 5u);
    g_now = t0 + 18000;
    ASSERT_TRUE(events_.wait([&] { return !events_.failed.empty(); }));
    EXPECT_EQ(events_.failed[0], std::make_pair(std::uint16_t{P2P_CMD_MESSAGE}, first.h.seq));
    g_now = t0 + 30000;
    channel_->check_timers();
    EXPECT_EQ(channel_->resends(), 5u);
}

TEST_F(Channel, AcknowledgedMessageIsNotSentAgain) {
    const std::uint64_t t0 = g_now.load();
    channel_->send_message(P2P_MSG_RC_REMOVE, [](P2pWriter& w) { w.raw64(1); });
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    server_.send(ScriptedServer::ack(d.h.seq));
    // The next datagram the server sees must be the keep-alive check's own
    // traffic or nothing: prove the ack was read with a relay behind it.
    server_.send(ScriptedServer::dgram(0, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RELAY), 9));
    ASSERT_TRUE(events_.wait([&] { return events_.relays.size() == 1; }));
    g_now = t0 + 20000;
    channel_->check_timers();
    EXPECT_EQ(channel_->resends(), 0u);
}

TEST_F(Channel, KeepAliveEveryThirtySecondsThenTenAndTheLoginLapsesAfter180) {
    log_in(0, 1234);
    const std::uint64_t t0 = g_now.load();
    g_now = t0 + 30000;
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    EXPECT_EQ(d.h.type, P2P_CMD_KEEPALIVE);
    g_now = t0 + 40000;  // unanswered: the next follows 10 s later
    ASSERT_TRUE(server_.recv_not_ack(d));
    EXPECT_EQ(d.h.type, P2P_CMD_KEEPALIVE);

    // A reply moves the deadline to 180 s after it and the interval back to
    // 30 s; the relay behind it shows it was read.
    const std::uint16_t last_seq = d.h.seq;
    server_.send(ScriptedServer::dgram(1234, P2P_CMD_KEEPALIVE, 200));
    server_.send(ScriptedServer::dgram(1234, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RELAY), 201));
    ASSERT_TRUE(events_.wait([&] { return events_.relays.size() == 1; }));
    g_now = t0 + 60000;  // 20 s after the last keep-alive: none is due
    channel_->check_timers();
    g_now = t0 + 70000;
    do {
        ASSERT_TRUE(server_.recv_not_ack(d));
    } while (d.h.cmd() != P2P_CMD_KEEPALIVE);
    EXPECT_EQ(d.h.seq, static_cast<std::uint16_t>(last_seq + 1)) << "no keep-alive at 60 s";

    g_now = t0 + 40000 + 180000;  // still inside the deadline the reply set
    channel_->check_timers();
    EXPECT_TRUE(channel_->logged_in());
    g_now = t0 + 40000 + 180000 + 2000;
    ASSERT_TRUE(events_.wait([&] { return events_.lapses.load() == 1; }));
    EXPECT_FALSE(channel_->logged_in());
}

TEST_F(Channel, QueryAnswerLeavesThisClientOutAndSortsByDistance) {
    log_in(0, 1234, 0x0a000064);
    server_.send(ScriptedServer::dgram(1234, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RC_QUERY), 101,
                                       [](P2pWriter& w) {
                                           w.u16(0);
                                           w.raw64(5);
                                           w.u32(9);
                                           w.u32(0x0a0000ff);
                                           w.u32(1234);  // this client
                                           w.u32(0x0a000064);
                                           w.u32(8);
                                           w.u32(0x0a000060);
                                           w.u32(0);
                                       }));
    ASSERT_TRUE(events_.wait([&] { return events_.answers.size() == 1; }));
    std::lock_guard<std::mutex> l(events_.mu);
    const P2P_QUERY_ANSWER& a = events_.answers[0];
    EXPECT_EQ(a.rid, 5u);
    ASSERT_EQ(a.peers.size(), 2u);
    EXPECT_EQ(a.peers[0].id, 8u);
    EXPECT_EQ(a.peers[1].id, 9u);
}

TEST_F(Channel, RelayBlobTooLargeForADatagramIsLeftOut) {
    channel_->send_message(P2P_MSG_RELAY, [](P2pWriter& w) {
        w.u32(4242);
        w.blob(std::string(1600, 'c'));
    });
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    EXPECT_EQ(d.payload, std::string("\0\0\x10\x92", 4));
}

TEST_F(Channel, DestroyingALoggedInChannelLogsOut) {
    log_in(0, 1234);
    channel_.reset();
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));
    EXPECT_EQ(d.h.cmd(), P2P_CMD_LOGOUT);
    EXPECT_EQ(d.h.client_id, 1234u);
}

TEST_F(Channel, MalformedDatagramsNeverBreakTheLogin) {
    channel_->send_message(P2P_MSG_RC_ADD, [](P2pWriter& w) { w.raw64(1); });
    Dgram d;
    ASSERT_TRUE(server_.recv_not_ack(d));  // the channel's address is known now

    std::mt19937 rng(20261211);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> len(0, 80);
    for (int i = 0; i < 10000; i++) {
        std::string bytes;
        switch (i % 4) {
            case 0:  // short headers
                bytes = std::string(static_cast<std::size_t>(i % 20), '\x04');
                break;
            case 1:  // a relay whose blob length lies
                bytes =
                    ScriptedServer::dgram(0, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RELAY),
                                          static_cast<std::uint16_t>(40000 + i), [&](P2pWriter& w) {
                                              w.u32(3);
                                              w.u16(static_cast<std::uint16_t>(byte(rng) * 300));
                                              w.u32(0x41414141);
                                          });
                break;
            case 2:  // a query answer cut anywhere
                bytes =
                    ScriptedServer::dgram(0, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RC_QUERY),
                                          static_cast<std::uint16_t>(20000 + i), [&](P2pWriter& w) {
                                              w.u16(0);
                                              w.raw64(1);
                                              w.u32(5);
                                          });
                bytes.resize(static_cast<std::size_t>(20 + len(rng) % 15));
                break;
            default:  // random bytes
                for (int n = len(rng) + 1; n > 0; n--)
                    bytes.push_back(static_cast<char>(byte(rng)));
        }
        // Never a login reply: those would log the channel in by themselves.
        if (bytes.size() >= 16 && (bytes[15] & 7) == 0) bytes[15] |= 4;
        server_.send(bytes);
    }
    EXPECT_FALSE(channel_->logged_in());
    // Drain what the channel answered, then log in as usual.
    while (server_.recv(d, 300)) {
    }
    ASSERT_EQ(channel_->login(0), 0);
    ASSERT_TRUE(server_.recv_not_ack(d));
    while (d.h.cmd() != P2P_CMD_LOGIN) ASSERT_TRUE(server_.recv_not_ack(d));
    server_.send(ScriptedServer::login_reply(777, 60000, 0x7f000001));
    ASSERT_TRUE(tarvo_test::wait_until([&] { return channel_->logged_in(); }));
    EXPECT_EQ(channel_->client_id(), 777u);
}

TEST(SeenSet, KeepsAWindowSoTheServerCanWrapPast65535) {
    p2p::SeenSet seen;
    EXPECT_FALSE(seen.check_and_mark(7));
    EXPECT_TRUE(seen.check_and_mark(7));
    for (std::uint32_t i = 8; i < 8 + 65536; i++) {
        ASSERT_FALSE(seen.check_and_mark(static_cast<std::uint16_t>(i))) << i;
    }
    // After a whole turn the recent numbers still count as seen, old ones not.
    EXPECT_TRUE(seen.check_and_mark(static_cast<std::uint16_t>(8 + 65535)));
    EXPECT_FALSE(seen.check_and_mark(static_cast<std::uint16_t>(8 + 65536 + 100)));
}

}  // namespace
