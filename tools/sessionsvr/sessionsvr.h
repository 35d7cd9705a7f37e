// sessionsvr: a stand-in for the P2P session server and its STUN service.
// It is not part of the system; tests, benchmarks and local runs use it.
//
// Session service (UDP, the client's wire format of p2p_wire.h):
//   - login: a client id of 0 is given a new id, any other id is kept; the
//     reply carries the sender's address and port and state 0;
//   - every datagram but an acknowledgement and a keep-alive is acknowledged,
//     and a repeated sequence number from the same sender is acted on once;
//   - a keep-alive from a known client is answered (type 3) and keeps it;
//     one from an unknown client is not answered, so that client's login
//     lapses and it logs in again;
//   - add / remove record the resources per client; a query is answered with
//     the holders (id and IPv4 address; status 1 when nobody holds it);
//   - a relay blob (subtype 1) goes to the named peer with the sender's id;
//   - a client without a keep-alive or login for SESSIONSVR_FORGET_MS is
//     forgotten with its resources; logout forgets it at once.
// The server's own datagrams are sent once: nothing here is resent.
//
// STUN service (UDP, RFC 3489): a binding request (type 0x0001) is answered
// with a binding response (0x0101) carrying MAPPED-ADDRESS, the sender's
// address and port. Anything else is dropped.
//
// Each datagram is reported as one line (see the .cpp for the words).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/udp.h"

constexpr std::uint64_t SESSIONSVR_FORGET_MS = 180000;
constexpr std::uint16_t SESSIONSVR_STUN_PORT = 8002;

struct SESSIONSVR_CLIENT {
    std::uint32_t id = 0;
    platform::UdpAddr addr;
    std::uint64_t last_seen_ms = 0;
    std::set<std::uint64_t> resources;
};

class SessionServer {
  public:
    using Report = std::function<void(const std::string&)>;
    explicit SessionServer(Report report) : report_(std::move(report)) {}

    // Binds the session service to `addr` and the STUN service to the same
    // address at `stun_port` (0: no STUN service). 0, or -1 with errno.
    int open(const platform::UdpAddr& addr, std::uint16_t stun_port);
    // Serves both until `stop` returns true (asked about every 200 ms).
    void run(const std::function<bool()>& stop);

    // Handles one datagram of the session service (also for tests).
    void handle(const std::string& data, const platform::UdpAddr& from, std::uint64_t now_ms);
    // Answers one datagram of the STUN service.
    void handle_stun(const std::string& data, const platform::UdpAddr& from);
    // Forgets the clients silent since before now - SESSIONSVR_FORGET_MS.
    void sweep(std::uint64_t now_ms);

  private:
    void send(const std::string& bytes, const platform::UdpAddr& to);
    std::uint16_t next_seq(std::uint32_t id);
    std::uint32_t assign_id();
    bool duplicate(const platform::UdpAddr& from, std::uint16_t seq);

    Report report_;
    platform::UdpSocket sock_;
    platform::UdpSocket stun_;
    std::map<std::uint32_t, SESSIONSVR_CLIENT> clients_;
    std::map<std::uint32_t, std::uint16_t> seqs_;            // the server's sequence per client
    std::map<std::uint64_t, std::set<std::uint16_t>> seen_;  // per sender address
    std::uint32_t next_id_ = 1001;
};

// The RFC 3489 binding response for a request with `transaction` (16 bytes)
// from `mapped`.
std::string stun_binding_response(const std::string& transaction, const platform::UdpAddr& mapped);
