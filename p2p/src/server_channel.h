// The server channel: the client's conversation with the session server over
// one connected UDP socket, with its own receiving thread.
//
// Reliability: login, logout and messages carry a sequence number (counted on
// from a random start below 16,384; 0 is skipped because it means "none" in
// the acknowledged field) and stay on the unanswered list until the server
// acknowledges them. Each is sent P2P_SENDS times in all, P2P_RESEND_MS apart,
// then dropped with on_send_failed. Every received datagram but an
// acknowledgement and a keep-alive reply is acknowledged at once.
//
// Duplicates: a received sequence number is acted on once. The seen-set holds
// the last P2P_SEEN_WINDOW distinct numbers received; older ones are forgotten
// first, so after the server's numbers wrap past 65,535 its new datagrams are
// taken again, and the whole 16-bit space never counts as seen. Sending a
// login starts the set afresh: a server that restarted counts its numbers
// from anew, and its login reply must not pass for a duplicate.
//
// Keep-alive: while logged in, a keep-alive goes out 30,000 ms after the last
// one (10,000 ms after one that went unanswered); a login with no reply for
// 180,000 ms has lapsed (on_login_lapsed, the channel is logged out).
//
// A datagram shorter than the 20-byte header is dropped without an answer:
// it carries no sequence number to acknowledge.
//
// Threads: the events are called on the receiving thread with no lock of the
// channel held. Sends may come from any thread. Destroying the channel (not
// from one of its events) logs out when logged in, stops and joins the thread
// and closes the socket.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "p2p_wire.h"
#include "platform/udp.h"

namespace p2p {

constexpr std::uint64_t P2P_RESEND_MS = 3000;
constexpr int P2P_SENDS = 6;
constexpr std::uint64_t P2P_KEEPALIVE_MS = 30000;
constexpr std::uint64_t P2P_KEEPALIVE_RETRY_MS = 10000;
constexpr std::uint64_t P2P_LOGIN_LIFE_MS = 180000;
constexpr int P2P_RECV_WAIT_MS = 1000;
constexpr std::size_t P2P_SEEN_WINDOW = 4096;

class ServerChannelEvents {
  public:
    virtual ~ServerChannelEvents() = default;
    // A login reply with `state`; `client_id` is the channel's id after it.
    virtual void on_login_reply(std::uint16_t state, std::uint32_t client_id) = 0;
    // A blob another peer relayed through the server.
    virtual void on_relay(std::uint32_t from, const std::string& blob) = 0;
    // The answer to a query, its holders this client left out, nearest first.
    virtual void on_query_answer(const P2P_QUERY_ANSWER& answer) = 0;
    virtual void on_send_failed(std::uint16_t cmd, std::uint16_t seq) = 0;
    virtual void on_login_lapsed() = 0;
};

// The seen-set of received sequence numbers (see the header comment).
class SeenSet {
  public:
    SeenSet();
    // True when `seq` was seen already; otherwise marks it.
    bool check_and_mark(std::uint16_t seq);
    void clear();

  private:
    std::vector<bool> bits_;
    std::deque<std::uint16_t> order_;
};

class ServerChannel {
  public:
    // Opens the socket towards ip:port and starts the receiving thread; null
    // when the socket cannot be made. `wait_ms` bounds each wait for a
    // datagram, after which the resend and keep-alive checks run.
    static std::unique_ptr<ServerChannel> open(const std::string& ip, int port,
                                               ServerChannelEvents* events,
                                               int wait_ms = P2P_RECV_WAIT_MS);
    ~ServerChannel();
    ServerChannel(const ServerChannel&) = delete;
    ServerChannel& operator=(const ServerChannel&) = delete;

    void set_client_id(std::uint32_t id);
    std::uint32_t client_id() const;
    bool logged_in() const;
    std::uint32_t public_ip() const;

    // Sends a login with `id` (a new token; an earlier login still unanswered
    // is dropped). 0, or -1 when already logged in.
    int login(std::uint32_t id);
    // Sends a reliable message; `items` writes the payload. 0.
    int send_message(std::uint16_t subtype, const std::function<void(P2pWriter&)>& items);

    // Handles one received datagram, as the receiving thread does.
    void handle_datagram(const void* data, std::size_t size);
    // The resend and keep-alive checks, as the receiving thread runs them.
    void check_timers();

    // Datagrams sent again after a missing acknowledgement, since opening.
    std::uint64_t resends() const { return resends_.load(); }
    // Reliable datagrams not acknowledged yet.
    std::size_t unanswered() const;

  private:
    struct Unanswered {
        std::uint16_t seq;
        std::uint16_t cmd;
        std::string bytes;
        int sends;
        std::uint64_t deadline;
    };

    ServerChannel(ServerChannelEvents* events, int wait_ms);
    void run();
    P2P_HEADER header_locked(std::uint16_t type, std::uint16_t seq, std::uint16_t ack) const;
    std::uint16_t next_seq_locked();
    void send_reliable_locked(std::uint16_t cmd, std::uint16_t subtype,
                              const std::function<void(P2pWriter&)>& items);
    void send_ack(std::uint16_t seq);
    void on_login_reply(const P2P_HEADER& h, P2pReader& r);
    void on_message(const P2P_HEADER& h, P2pReader& r);

    ServerChannelEvents* events_;
    int wait_ms_;
    platform::UdpSocket sock_;
    std::atomic<bool> running_{true};
    std::thread thread_;
    SeenSet seen_;                         // receiving thread only
    std::atomic<bool> seen_reset_{false};  // a login asks the receiving thread to clear seen_

    mutable std::mutex mu_;  // everything below
    std::uint32_t client_id_ = 0;
    std::uint32_t token_ = 0;
    std::uint16_t seq_ = 0;
    bool logged_in_ = false;
    std::uint32_t public_ip_ = 0;
    std::uint64_t login_deadline_ = 0;
    std::uint64_t keepalive_interval_ = P2P_KEEPALIVE_MS;
    std::uint64_t last_keepalive_ = 0;
    std::deque<Unanswered> unanswered_;
    std::atomic<std::uint64_t> resends_{0};
};

}  // namespace p2p
