#include "session.h"

#include "p2p_debug.h"

namespace p2p {

namespace {

constexpr std::uint64_t kRecordRemovalMs = 3000;

}  // namespace

Session::Session(const std::string& ip, int port, const P2P_SESSION_CALLBACKS& callbacks)
    : ip_(ip.substr(0, 255)), port_(port), callbacks_(callbacks) {
    std::lock_guard<std::mutex> lock(lock_);
    open_channel_locked();
}

Session::~Session() {
    std::unique_ptr<ServerChannel> channel;
    {
        std::lock_guard<std::mutex> lock(lock_);
        closing_ = true;
    }
    timers_.stop();
    {
        std::lock_guard<std::mutex> lock(lock_);
        std::lock_guard<std::mutex> channel_lock(channel_mu_);
        channel = std::move(channel_);
        fetches_.clear();
    }
    channel.reset();  // logs out, joins the receiving thread
}

void Session::open_channel_locked() {
    if (channel_ != nullptr) return;
    std::unique_ptr<ServerChannel> channel = ServerChannel::open(ip_, port_, this);
    std::lock_guard<std::mutex> channel_lock(channel_mu_);
    channel_ = std::move(channel);
}

void Session::post_relogin_locked() {
    if (closing_) return;
    if (relogin_ != 0) timers_.cancel(relogin_);
    relogin_ = timers_.post(P2P_RELOGIN_MS, [this] { relogin(); });
}

void Session::login(std::uint32_t client_id) {
    std::lock_guard<std::mutex> lock(lock_);
    client_id_ = client_id;
    if (channel_ == nullptr) {
        post_relogin_locked();
        return;
    }
    if (client_id != 0) channel_->set_client_id(client_id);
    if (channel_->logged_in()) return;
    channel_->login(client_id);
    // Until a reply comes, the login is sent anew every P2P_RELOGIN_MS.
    post_relogin_locked();
}

void Session::relogin() {
    std::lock_guard<std::mutex> lock(lock_);
    relogin_ = 0;
    open_channel_locked();
    if (channel_ == nullptr) {
        post_relogin_locked();
        return;
    }
    if (channel_->logged_in()) return;
    if (client_id_ != 0) channel_->set_client_id(client_id_);
    channel_->login(client_id_);
    post_relogin_locked();
}

void Session::report_login(std::uint16_t state, std::uint32_t client_id) {
    if (callbacks_.on_login != nullptr) callbacks_.on_login(state, client_id);
}

void Session::on_login_reply(std::uint16_t state, std::uint32_t client_id) {
    p2p_debug("OnLoginReply state = %d", state);
    {
        std::lock_guard<std::mutex> lock(lock_);
        client_id_ = client_id;
        if (state == P2P_LOGIN_STATE_OK && relogin_ != 0) {
            timers_.cancel(relogin_);
            relogin_ = 0;
        }
    }
    report_login(state, client_id);
}

void Session::on_login_lapsed() {
    std::uint32_t id;
    {
        std::lock_guard<std::mutex> lock(lock_);
        id = client_id_;
        post_relogin_locked();
    }
    report_login(P2P_LOGIN_STATE_LAPSED, id);
}

void Session::on_send_failed(std::uint16_t cmd, std::uint16_t seq) {
    p2p_debug("send failed: cmd = %u, seq = %u", static_cast<unsigned>(cmd),
              static_cast<unsigned>(seq));
}

void Session::on_relay(std::uint32_t from, const std::string& blob) {
    // Candidates of peers that want a channel to this client: they belong to
    // the peer transport, which this build does not carry yet.
    p2p_debug("relay blob from %lu, %zu bytes, dropped", static_cast<unsigned long>(from),
              blob.size());
}

int Session::modify_rc(std::uint64_t rid, int add) {
    std::lock_guard<std::mutex> channel_lock(channel_mu_);
    if (channel_ == nullptr) return -1;
    return channel_->send_message(add ? P2P_MSG_RC_ADD : P2P_MSG_RC_REMOVE,
                                  [rid](P2pWriter& w) { w.raw64(rid); });
}

int Session::get_rc_data(std::uint64_t rid, const P2P_DATA_REQUEST& req) {
    int result;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (channel_ == nullptr || !channel_->logged_in()) return -1;
        auto it = fetches_.find(rid);
        if (it == fetches_.end()) {
            fetches_.emplace(rid, std::make_unique<FetchRecord>(req));
            channel_->send_message(P2P_MSG_RC_QUERY, [rid](P2pWriter& w) { w.raw64(rid); });
            return 0;
        }
        FetchRecord& rec = *it->second;
        result = rec.hand(req);
        if (result == 0 && rec.removal != 0) {
            timers_.cancel(rec.removal);
            rec.removal = 0;
        }
        if (result == -1 && callbacks_.on_data_received != nullptr) {
            P2P_DATA_DELIVERY d{rid, req.offset, req.length};
            callbacks_.on_data_received(nullptr, &d);
        }
    }
    return result;
}

void Session::on_query_answer(const P2P_QUERY_ANSWER& answer) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = fetches_.find(answer.rid);
    if (it == fetches_.end()) return;
    FetchRecord& rec = *it->second;
    if (answer.status != 0) {
        if (callbacks_.on_data_received != nullptr) {
            P2P_DATA_DELIVERY d = rec.failure();
            callbacks_.on_data_received(nullptr, &d);
        }
        return;
    }
    for (const P2P_PEER& p : answer.peers) {
        p2p_debug("Get user id = %lu", static_cast<unsigned long>(p.id));
        rec.add_peer(p.id);
    }
}

void Session::clear_rc(std::uint64_t rid) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = fetches_.find(rid);
    if (it != fetches_.end()) it->second->clear();
}

void Session::stop_rc(std::uint64_t rid) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = fetches_.find(rid);
    if (it == fetches_.end() || closing_) return;
    FetchRecord& rec = *it->second;
    rec.clear();
    if (rec.removal != 0) timers_.cancel(rec.removal);
    rec.removal = timers_.post(kRecordRemovalMs, [this, rid] {
        std::lock_guard<std::mutex> lock(lock_);
        p2p_debug("delete getres id = %lu", static_cast<unsigned long>(rid));
        fetches_.erase(rid);
    });
}

std::uint32_t Session::client_id() {
    std::lock_guard<std::mutex> lock(lock_);
    return client_id_;
}

bool Session::logged_in() {
    std::lock_guard<std::mutex> lock(lock_);
    return channel_ != nullptr && channel_->logged_in();
}

std::vector<std::uint32_t> Session::peers_of(std::uint64_t rid) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = fetches_.find(rid);
    if (it == fetches_.end()) return {};
    return it->second->peers();
}

}  // namespace p2p
