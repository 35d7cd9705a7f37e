#include "server_channel.h"

#include <cerrno>

#include "p2p_clock.h"
#include "p2p_debug.h"
#include "platform/random.h"

namespace p2p {

SeenSet::SeenSet() : bits_(65536, false) {}

bool SeenSet::check_and_mark(std::uint16_t seq) {
    if (bits_[seq]) return true;
    bits_[seq] = true;
    order_.push_back(seq);
    if (order_.size() > P2P_SEEN_WINDOW) {
        bits_[order_.front()] = false;
        order_.pop_front();
    }
    return false;
}

void SeenSet::clear() {
    for (std::uint16_t seq : order_) bits_[seq] = false;
    order_.clear();
}

ServerChannel::ServerChannel(ServerChannelEvents* events, int wait_ms)
    : events_(events), wait_ms_(wait_ms) {
    seq_ = static_cast<std::uint16_t>(platform::random_u32() % 16384);
    token_ = platform::random_u32() + 1;
    login_deadline_ = p2p_now_ms() + P2P_LOGIN_LIFE_MS;
}

std::unique_ptr<ServerChannel> ServerChannel::open(const std::string& ip, int port,
                                                   ServerChannelEvents* events, int wait_ms) {
    std::unique_ptr<ServerChannel> ch(new ServerChannel(events, wait_ms));
    platform::UdpAddr server;
    if (platform::ipv4_parse(ip.c_str(), &server.ip) != 0 || port <= 0 || port > 65535)
        return nullptr;
    server.port = static_cast<std::uint16_t>(port);
    if (ch->sock_.open() != 0 || ch->sock_.connect(server) != 0) return nullptr;
    ch->thread_ = std::thread([c = ch.get()] { c->run(); });
    return ch;
}

ServerChannel::~ServerChannel() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (logged_in_ && sock_.valid()) {
            P2pWriter w;
            w.header(header_locked(p2p_type(P2P_CMD_LOGOUT, 0), next_seq_locked(), 0));
            sock_.send(w.bytes().data(), w.bytes().size());
            logged_in_ = false;
        }
    }
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

void ServerChannel::set_client_id(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    client_id_ = id;
}

std::uint32_t ServerChannel::client_id() const {
    std::lock_guard<std::mutex> lock(mu_);
    return client_id_;
}

bool ServerChannel::logged_in() const {
    std::lock_guard<std::mutex> lock(mu_);
    return logged_in_;
}

std::size_t ServerChannel::unanswered() const {
    std::lock_guard<std::mutex> lock(mu_);
    return unanswered_.size();
}

std::uint32_t ServerChannel::public_ip() const {
    std::lock_guard<std::mutex> lock(mu_);
    return public_ip_;
}

P2P_HEADER ServerChannel::header_locked(std::uint16_t type, std::uint16_t seq,
                                        std::uint16_t ack) const {
    P2P_HEADER h;
    h.client_id = client_id_;
    h.token = token_;
    h.type = type;
    h.seq = seq;
    h.ack = ack;
    return h;
}

std::uint16_t ServerChannel::next_seq_locked() {
    if (++seq_ == 0) ++seq_;
    return seq_;
}

void ServerChannel::send_reliable_locked(std::uint16_t cmd, std::uint16_t subtype,
                                         const std::function<void(P2pWriter&)>& items) {
    std::uint16_t seq = next_seq_locked();
    P2pWriter w;
    w.header(header_locked(p2p_type(cmd, subtype), seq, 0));
    if (items) items(w);
    p2p_debug("send packet cmd = %lu  seq=%d,  %lu", static_cast<unsigned long>(cmd), seq,
              static_cast<unsigned long>(client_id_));
    Unanswered u{seq, cmd, w.bytes(), 1, p2p_now_ms() + P2P_RESEND_MS};
    sock_.send(u.bytes.data(), u.bytes.size());
    unanswered_.push_back(std::move(u));
}

int ServerChannel::login(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    if (logged_in_) return -1;
    // A newer login stands for the older one: only its reply matters.
    for (auto it = unanswered_.begin(); it != unanswered_.end();) {
        it = it->cmd == P2P_CMD_LOGIN ? unanswered_.erase(it) : it + 1;
    }
    token_ = platform::random_u32() + 1;
    seen_reset_ = true;
    send_reliable_locked(P2P_CMD_LOGIN, 0, [id](P2pWriter& w) { w.u32(id); });
    return 0;
}

int ServerChannel::send_message(std::uint16_t subtype,
                                const std::function<void(P2pWriter&)>& items) {
    std::lock_guard<std::mutex> lock(mu_);
    send_reliable_locked(P2P_CMD_MESSAGE, subtype, items);
    return 0;
}

void ServerChannel::send_ack(std::uint16_t seq) {
    std::lock_guard<std::mutex> lock(mu_);
    P2pWriter w;
    w.header(header_locked(p2p_type(P2P_CMD_ACK, 0), 0, seq));
    sock_.send(w.bytes().data(), w.bytes().size());
}

void ServerChannel::run() {
    std::string buf(P2P_DGRAM_MAX, '\0');
    while (running_) {
        int ready = sock_.wait_readable(wait_ms_);
        if (ready < 0 && errno != EINTR) {
            sock_.close();
            break;
        }
        if (ready > 0) {
            long n = sock_.recv(buf.data(), buf.size());
            if (n >= 0) handle_datagram(buf.data(), static_cast<std::size_t>(n));
        }
        check_timers();
    }
}

void ServerChannel::handle_datagram(const void* data, std::size_t size) {
    P2pReader r(data, size);
    P2P_HEADER h;
    if (p2p_header_read(r, &h) != 0) return;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = unanswered_.begin(); it != unanswered_.end(); ++it) {
            if (it->seq == h.ack) {
                unanswered_.erase(it);
                break;
            }
        }
    }
    if (h.cmd() == P2P_CMD_ACK) return;
    if (h.type != P2P_CMD_KEEPALIVE) send_ack(h.seq);
    if (seen_reset_.exchange(false)) seen_.clear();
    if (seen_.check_and_mark(h.seq)) return;

    switch (h.cmd()) {
        case P2P_CMD_LOGIN:
            on_login_reply(h, r);
            break;
        case P2P_CMD_KEEPALIVE: {
            std::lock_guard<std::mutex> lock(mu_);
            login_deadline_ = p2p_now_ms() + P2P_LOGIN_LIFE_MS;
            keepalive_interval_ = P2P_KEEPALIVE_MS;
            break;
        }
        case P2P_CMD_MESSAGE:
            on_message(h, r);
            break;
        default:
            break;
    }
}

void ServerChannel::on_login_reply(const P2P_HEADER& h, P2pReader& r) {
    P2P_LOGIN_REPLY reply = p2p_login_reply_read(r);
    std::string nat = platform::udp_addr_text({reply.public_ip, reply.public_port});
    p2p_debug("nat address is %s", nat.c_str());
    std::uint32_t id;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (reply.state == 0) {
            std::uint64_t now = p2p_now_ms();
            logged_in_ = true;
            public_ip_ = reply.public_ip;
            login_deadline_ = now + P2P_LOGIN_LIFE_MS;
            keepalive_interval_ = P2P_KEEPALIVE_MS;
            last_keepalive_ = now;
            if (client_id_ == 0) client_id_ = h.client_id;
        }
        id = client_id_;
    }
    events_->on_login_reply(reply.state, id);
}

void ServerChannel::on_message(const P2P_HEADER& h, P2pReader& r) {
    if (h.subtype() == P2P_MSG_RELAY) {
        std::uint32_t from = r.u32();
        std::string blob = r.blob();
        p2p_debug("recv p2p request");
        events_->on_relay(from, blob);
    } else if (h.subtype() == P2P_MSG_RC_QUERY) {
        P2P_QUERY_ANSWER answer = p2p_query_answer_read(r);
        std::uint32_t self_id, self_ip;
        {
            std::lock_guard<std::mutex> lock(mu_);
            self_id = client_id_;
            self_ip = public_ip_;
        }
        answer.peers = p2p_peers_by_distance(answer.peers, self_id, self_ip);
        events_->on_query_answer(answer);
    }
}

void ServerChannel::check_timers() {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> failed;
    bool lapsed = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        std::uint64_t now = p2p_now_ms();
        for (auto it = unanswered_.begin(); it != unanswered_.end();) {
            if (it->deadline > now) {
                ++it;
            } else if (it->sends < P2P_SENDS) {
                p2p_debug("resend packet seq = %d", it->seq);
                it->sends++;
                it->deadline = now + P2P_RESEND_MS;
                resends_++;
                sock_.send(it->bytes.data(), it->bytes.size());
                ++it;
            } else {
                p2p_debug("send error");
                failed.emplace_back(it->cmd, it->seq);
                it = unanswered_.erase(it);
            }
        }
        if (logged_in_) {
            if (now > login_deadline_) {
                logged_in_ = false;
                lapsed = true;
            } else if (now - last_keepalive_ >= keepalive_interval_) {
                p2p_debug("send keepalive ");
                P2pWriter w;
                w.header(header_locked(p2p_type(P2P_CMD_KEEPALIVE, 0), next_seq_locked(), 0));
                sock_.send(w.bytes().data(), w.bytes().size());
                keepalive_interval_ = P2P_KEEPALIVE_RETRY_MS;
                last_keepalive_ = now;
            }
        }
    }
    for (const auto& f : failed) events_->on_send_failed(f.first, f.second);
    if (lapsed) events_->on_login_lapsed();
}

}  // namespace p2p
