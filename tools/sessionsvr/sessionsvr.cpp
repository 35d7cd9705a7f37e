#include "sessionsvr.h"

#include <cinttypes>
#include <cstdio>
#include <thread>

#include "p2p_wire.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "platform/socket.h"

namespace {

constexpr std::size_t kSeenPerSender = 4096;  // sequence numbers kept per sender
constexpr int kReceiveBuffer = 4 << 20;       // bytes the session socket may queue

std::uint64_t addr_key(const platform::UdpAddr& a) {
    return static_cast<std::uint64_t>(a.ip) << 16 | a.port;
}

std::string header_bytes(std::uint32_t id, std::uint16_t type, std::uint16_t seq, std::uint16_t ack,
                         P2pWriter& w) {
    P2P_HEADER h;
    h.client_id = id;
    h.type = type;
    h.seq = seq;
    h.ack = ack;
    w.header(h);
    return w.bytes();
}

}  // namespace

int SessionServer::open(const platform::UdpAddr& addr, std::uint16_t stun_port) {
    if (sock_.open() != 0 || sock_.bind(addr) != 0) return -1;
    // Many clients announce at once; a deep queue spares them resends.
    platform::sock_set_buffers(sock_.fd(), kReceiveBuffer, 0);
    if (stun_port != 0) {
        platform::UdpAddr s = addr;
        s.port = stun_port;
        if (stun_.open() != 0 || stun_.bind(s) != 0) return -1;
    }
    return 0;
}

void SessionServer::run(const std::function<bool()>& stop) {
    std::thread stun_thread;
    if (stun_.valid()) {
        stun_thread = std::thread([&] {
            std::string buf(2048, '\0');
            while (!stop()) {
                if (stun_.wait_readable(200) <= 0) continue;
                platform::UdpAddr from;
                long n = stun_.recv(buf.data(), buf.size(), &from);
                if (n >= 0) handle_stun(buf.substr(0, static_cast<std::size_t>(n)), from);
            }
        });
    }
    std::string buf(P2P_DGRAM_MAX + 64, '\0');
    while (!stop()) {
        if (sock_.wait_readable(200) > 0) {
            platform::UdpAddr from;
            long n = sock_.recv(buf.data(), buf.size(), &from);
            if (n >= 0)
                handle(buf.substr(0, static_cast<std::size_t>(n)), from, platform::monotonic_ms());
        }
        sweep(platform::monotonic_ms());
    }
    if (stun_thread.joinable()) stun_thread.join();
}

void SessionServer::send(const std::string& bytes, const platform::UdpAddr& to) {
    sock_.send_to(bytes.data(), bytes.size(), to);
}

std::uint16_t SessionServer::next_seq(std::uint32_t id) {
    // Each client's numbers start at random, as a real server's would, so a
    // restarted server does not repeat the numbers of its last run.
    auto [it, fresh] = seqs_.emplace(id, 0);
    if (fresh) it->second = static_cast<std::uint16_t>(platform::random_u32());
    std::uint16_t& s = it->second;
    if (++s == 0) ++s;
    return s;
}

std::uint32_t SessionServer::assign_id() {
    while (clients_.count(next_id_) != 0 || next_id_ == 0) next_id_++;
    return next_id_++;
}

bool SessionServer::duplicate(const platform::UdpAddr& from, std::uint16_t seq) {
    std::set<std::uint16_t>& seen = seen_[addr_key(from)];
    if (!seen.insert(seq).second) return true;
    if (seen.size() > kSeenPerSender) seen.clear();  // a client that wrapped starts afresh
    return false;
}

void SessionServer::handle(const std::string& data, const platform::UdpAddr& from,
                           std::uint64_t now_ms) {
    const std::string who = platform::udp_addr_text(from);
    P2pReader r(data.data(), data.size());
    P2P_HEADER h;
    if (p2p_header_read(r, &h) != 0) {
        report_("short from=" + who + " bytes=" + std::to_string(data.size()));
        return;
    }
    char head[160];
    std::snprintf(head, sizeof(head), "from=%s id=%u cmd=%u sub=%u seq=%u ack=%u", who.c_str(),
                  h.client_id, h.cmd(), h.subtype(), h.seq, h.ack);
    if (h.cmd() == P2P_CMD_ACK) {
        report_(std::string("ack ") + head);
        return;
    }
    if (h.type == P2P_CMD_KEEPALIVE) {
        auto it = clients_.find(h.client_id);
        if (it == clients_.end()) {
            report_(std::string("keepalive-unknown ") + head);
            return;
        }
        it->second.last_seen_ms = now_ms;
        it->second.addr = from;
        P2pWriter w;
        std::string reply =
            header_bytes(h.client_id, P2P_CMD_KEEPALIVE, next_seq(h.client_id), 0, w);
        send(reply, from);
        report_(std::string("keepalive ") + head);
        return;
    }

    {
        P2pWriter w;
        send(header_bytes(h.client_id, P2P_CMD_ACK, 0, h.seq, w), from);
    }
    if (duplicate(from, h.seq)) {
        report_(std::string("duplicate ") + head);
        return;
    }

    if (h.cmd() == P2P_CMD_LOGIN) {
        std::uint32_t asked = r.u32();
        std::uint32_t id = asked != 0 ? asked : assign_id();
        SESSIONSVR_CLIENT& c = clients_[id];
        c.id = id;
        c.addr = from;
        c.last_seen_ms = now_ms;
        P2pWriter w;
        header_bytes(id, p2p_type(P2P_CMD_LOGIN, 0), next_seq(id), 0, w);
        w.u32(from.ip);
        w.u16(from.port);
        w.u16(0);
        send(w.bytes(), from);
        report_(std::string("login ") + head + " asked=" + std::to_string(asked) +
                " given=" + std::to_string(id));
        return;
    }
    if (h.cmd() == P2P_CMD_LOGOUT) {
        clients_.erase(h.client_id);
        report_(std::string("logout ") + head);
        return;
    }
    if (h.cmd() != P2P_CMD_MESSAGE) {
        report_(std::string("ignored ") + head);
        return;
    }
    auto it = clients_.find(h.client_id);
    if (it == clients_.end()) {
        report_(std::string("unknown-client ") + head);
        return;
    }
    SESSIONSVR_CLIENT& c = it->second;
    c.last_seen_ms = now_ms;
    switch (h.subtype()) {
        case P2P_MSG_RC_ADD:
        case P2P_MSG_RC_REMOVE: {
            std::uint64_t rid = r.raw64();
            bool add = h.subtype() == P2P_MSG_RC_ADD;
            if (add)
                c.resources.insert(rid);
            else
                c.resources.erase(rid);
            report_(std::string(add ? "add " : "remove ") + head + " rid=" + std::to_string(rid));
            break;
        }
        case P2P_MSG_RC_QUERY: {
            std::uint64_t rid = r.raw64();
            P2pWriter w;
            header_bytes(c.id, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RC_QUERY), next_seq(c.id), 0, w);
            int holders = 0;
            for (const auto& [id, other] : clients_)
                if (other.resources.count(rid) != 0) holders++;
            w.u16(holders > 0 ? 0 : 1);
            w.raw64(rid);
            for (const auto& [id, other] : clients_) {
                if (other.resources.count(rid) == 0) continue;
                w.u32(id);
                w.u32(other.addr.ip);
            }
            w.u32(0);
            send(w.bytes(), from);
            report_(std::string("query ") + head + " rid=" + std::to_string(rid) +
                    " holders=" + std::to_string(holders));
            break;
        }
        case P2P_MSG_RELAY: {
            std::uint32_t peer = r.u32();
            std::string blob = r.blob();
            auto to = clients_.find(peer);
            if (to == clients_.end()) {
                report_(std::string("relay-unknown ") + head + " to=" + std::to_string(peer));
                break;
            }
            P2pWriter w;
            header_bytes(peer, p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RELAY), next_seq(peer), 0, w);
            w.u32(c.id);
            w.blob(blob);
            send(w.bytes(), to->second.addr);
            report_(std::string("relay ") + head + " to=" + std::to_string(peer) +
                    " bytes=" + std::to_string(blob.size()));
            break;
        }
        default:
            report_(std::string("ignored ") + head);
    }
}

void SessionServer::sweep(std::uint64_t now_ms) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (now_ms - it->second.last_seen_ms > SESSIONSVR_FORGET_MS) {
            report_("forget id=" + std::to_string(it->first));
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

std::string stun_binding_response(const std::string& transaction, const platform::UdpAddr& mapped) {
    P2pWriter w;
    w.u16(0x0101);  // binding response
    w.u16(12);      // one attribute: 4 bytes of head, 8 of value
    std::string out = w.bytes() + transaction;
    P2pWriter a;
    a.u16(0x0001);  // MAPPED-ADDRESS
    a.u16(8);
    a.u8(0);
    a.u8(1);  // IPv4
    a.u16(mapped.port);
    a.u32(mapped.ip);
    return out + a.bytes();
}

void SessionServer::handle_stun(const std::string& data, const platform::UdpAddr& from) {
    const std::string who = platform::udp_addr_text(from);
    P2pReader r(data.data(), data.size());
    std::uint16_t type = r.u16();
    std::uint16_t length = r.u16();
    if (data.size() < 20 || type != 0x0001 || length != data.size() - 20) {
        report_("stun-dropped from=" + who + " bytes=" + std::to_string(data.size()));
        return;
    }
    std::string reply = stun_binding_response(data.substr(4, 16), from);
    stun_.send_to(reply.data(), reply.size(), from);
    report_("stun-binding from=" + who);
}
