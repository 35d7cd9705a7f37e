// The flat entry points over the one session of the process.
#include <memory>
#include <mutex>
#include <new>

#include "p2p_session.h"
#include "session.h"

namespace {

std::mutex g_mu;  // guards g_session (the pointer, not the session)
std::shared_ptr<p2p::Session> g_session;

// The session, kept alive for the caller's call even if Session_Close runs
// meanwhile.
std::shared_ptr<p2p::Session> session() {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_session;
}

}  // namespace

int Init_Session(const char* ip, int port, const P2P_SESSION_CALLBACKS* callbacks) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (g_session != nullptr) return 0;
    P2P_SESSION_CALLBACKS cb{};
    if (callbacks != nullptr) cb = *callbacks;
    try {
        g_session = std::make_shared<p2p::Session>(ip != nullptr ? ip : "", port, cb);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

void Session_Login(std::uint32_t client_id) {
    if (auto s = session()) s->login(client_id);
}

int Session_ModifyRc(std::uint64_t rid, int add) {
    auto s = session();
    return s != nullptr ? s->modify_rc(rid, add) : -1;
}

int Session_GetRcData(std::uint64_t rid, const P2P_DATA_REQUEST* req) {
    auto s = session();
    if (s == nullptr || req == nullptr) return -1;
    return s->get_rc_data(rid, *req);
}

void Session_ClearRc(std::uint64_t rid) {
    if (auto s = session()) s->clear_rc(rid);
}

void Session_StopRc(std::uint64_t rid) {
    if (auto s = session()) s->stop_rc(rid);
}

void Session_Close(void) {
    std::shared_ptr<p2p::Session> s;
    {
        std::lock_guard<std::mutex> lock(g_mu);
        s = std::move(g_session);
    }
    // The last reference ends the session here, or in the call that still
    // holds it.
}

std::uint32_t Session_ClientId(void) {
    auto s = session();
    return s != nullptr ? s->client_id() : 0;
}

bool Session_LoggedIn(void) {
    auto s = session();
    return s != nullptr && s->logged_in();
}
