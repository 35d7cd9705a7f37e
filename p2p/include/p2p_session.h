// The P2P session: the proxy's one way into the peer-to-peer network.
//
// One process-wide session logs in to the session server (UDP), keeps the
// login alive, announces and withdraws the resources this machine shares,
// asks the server who holds a resource the proxy wants, and calls the proxy
// back through three callbacks. Requests never wait for the network: they go
// out, and answers arrive through the callbacks.
//
// Lifecycle: the session exists from Init_Session to Session_Close. Every
// entry point but Init_Session does nothing (or returns -1) without it. The
// callbacks are copied at Init_Session and called on the library's own
// threads (the server channel's receiver and the timer thread), never with a
// lock of the caller held; the login handler is called without the session
// lock, so it may call back into the session.
//
// Logging in: Session_Login sends the login and, until a reply with state 0
// arrives, sends it again every P2P_RELOGIN_MS (a new login replaces the one
// still unanswered). A login that lapses (no keep-alive answer within
// 180,000 ms) is reported to the login handler with state
// P2P_LOGIN_STATE_LAPSED and retried the same way, so the proxy never takes
// itself for logged in while the server cannot hear it.
//
// Fetching from peers: Session_GetRcData opens a fetch record per resource and
// asks the server for the holders; peer transfers themselves come with the
// peer transport. Until then a record keeps its holders (this client left out,
// nearest address first) and its queued range.
//
// Debug lines ("send packet cmd = ...", "resend packet seq = %d", "send error",
// "send keepalive ", "nat address is %s", "OnLoginReply state = %d", ...) are
// written to the proxy's log when debug section P2P_DEBUG_SECTION is switched
// on at level P2P_DEBUG_LEVEL (debug_level=74:4).
#pragma once

#include <cstdint>

#define P2P_DEBUG_SECTION 74
#define P2P_DEBUG_LEVEL 4

#define P2P_RELOGIN_MS 6000         // re-login message delay
#define P2P_LOGIN_STATE_OK 0        // logged in
#define P2P_LOGIN_STATE_LAPSED 255  // the login lapsed; re-login is under way
#define P2P_HANDLER_BUF_SIZE 2048   // buffer given to the data-request handler

// A peer's request for a range of a shared resource (at most 65,535 bytes).
struct P2P_DATA_REQUEST {
    std::uint64_t rid;
    std::uint64_t offset;
    std::uint64_t length;
};

// Bytes of a fetched range: resource, begin offset and byte count.
struct P2P_DATA_DELIVERY {
    std::uint64_t rid;
    std::uint64_t begin;
    std::uint64_t length;
};

// Fills `buf` (of `size` bytes) with the requested range; the bytes placed, or
// 0 or less when there is nothing to send.
typedef int (*P2P_DATA_REQUEST_FN)(const P2P_DATA_REQUEST* req, char* buf, int size);
// Fetched bytes have arrived (`data` null: the fetch failed; empty data with
// begin and length 0: the requested range is complete). The bytes taken; 0 or
// less stops the fetch.
typedef std::int64_t (*P2P_DATA_RECEIVED_FN)(const char* data, const P2P_DATA_DELIVERY* delivery);
// The server answered a login (state 0: logged in), or the login lapsed
// (P2P_LOGIN_STATE_LAPSED). `client_id` is the id the session now holds.
typedef void (*P2P_LOGIN_FN)(std::uint16_t state, std::uint32_t client_id);

// In this order. Any of them may be null: that event is then dropped.
struct P2P_SESSION_CALLBACKS {
    P2P_DATA_REQUEST_FN on_data_request;
    P2P_DATA_RECEIVED_FN on_data_received;
    P2P_LOGIN_FN on_login;
};

// Creates the session for the server at `ip` (dotted IPv4, at most 255
// characters kept) and `port`. A second call while a session exists returns 0
// and changes nothing. When the channel's socket cannot be made, the session
// exists without it and Session_Login retries. 0, or -1 when the session could
// not be created.
int Init_Session(const char* ip, int port, const P2P_SESSION_CALLBACKS* callbacks);

// Logs in with `client_id` (0 asks the server to assign one).
void Session_Login(std::uint32_t client_id);

// Announces (add 1) or withdraws (add 0) a resource. 0 when the message was
// sent (the server's answer is not awaited); -1 without a session or channel.
int Session_ModifyRc(std::uint64_t rid, int add);

// Asks for a range of a resource from peers. -1 while logged out (no handler
// is called); 0 when the first request for the resource went to the server;
// for a later request: -1 when no peer is known (the data-received handler is
// called at once with no bytes), -2 while an earlier range is still pending,
// 0 when the range was queued.
int Session_GetRcData(std::uint64_t rid, const P2P_DATA_REQUEST* req);

// Drops the resource's queued range; the record and its holders stay.
void Session_ClearRc(std::uint64_t rid);
// As Session_ClearRc, then removes the record 3,000 ms later.
void Session_StopRc(std::uint64_t rid);

// Ends the session: the server channel logs out when logged in, every thread
// of the library is stopped and waited for.
void Session_Close(void);

// What the session knows, for the proxy's status and for tests: the client id
// and whether the server channel is logged in. 0 / false without a session.
std::uint32_t Session_ClientId(void);
bool Session_LoggedIn(void);
