// The session behind the flat Session_ entry points (p2p_session.h).
//
// The session lock guards the server channel and the fetch table; it is held
// while the fetch table is consulted or changed and while the re-login
// message runs, and it is never held while the channel is destroyed (the
// channel's thread may be waiting for it) or while the login handler runs.
//
// Announcing and withdrawing resources (modify_rc) takes only channel_mu_, a
// leaf lock around the channel pointer: the resource list calls it while it
// holds its own lock, which the session's handlers take under the session
// lock, so taking the session lock there could deadlock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "fetch_record.h"
#include "p2p_session.h"
#include "server_channel.h"
#include "timer_queue.h"

namespace p2p {

class Session : public ServerChannelEvents {
  public:
    Session(const std::string& ip, int port, const P2P_SESSION_CALLBACKS& callbacks);
    ~Session() override;

    void login(std::uint32_t client_id);
    int modify_rc(std::uint64_t rid, int add);
    int get_rc_data(std::uint64_t rid, const P2P_DATA_REQUEST& req);
    void clear_rc(std::uint64_t rid);
    void stop_rc(std::uint64_t rid);

    const std::string& server_ip() const { return ip_; }
    std::uint32_t client_id();
    bool logged_in();
    // The holders the fetch record of `rid` knows (empty without a record).
    std::vector<std::uint32_t> peers_of(std::uint64_t rid);

    // ServerChannelEvents
    void on_login_reply(std::uint16_t state, std::uint32_t client_id) override;
    void on_relay(std::uint32_t from, const std::string& blob) override;
    void on_query_answer(const P2P_QUERY_ANSWER& answer) override;
    void on_send_failed(std::uint16_t cmd, std::uint16_t seq) override;
    void on_login_lapsed() override;

  private:
    void relogin();
    void post_relogin_locked();
    void open_channel_locked();
    void report_login(std::uint16_t state, std::uint32_t client_id);

    const std::string ip_;
    const int port_;
    const P2P_SESSION_CALLBACKS callbacks_;

    std::mutex lock_;  // the session lock: everything below
    std::uint32_t client_id_ = 0;
    std::mutex channel_mu_;  // also guards channel_ itself; taken after lock_
    std::unique_ptr<ServerChannel> channel_;
    std::map<std::uint64_t, std::unique_ptr<FetchRecord>> fetches_;
    TimerQueue::Id relogin_ = 0;
    bool closing_ = false;

    TimerQueue timers_;  // last member: its jobs reach everything above
};

}  // namespace p2p
