// The connection record of the proxy and the steps shared by its modules.
// Everything here runs on the proxy thread.
//
// A record ties one browser connection to at most one web-server connection
// and lives while at least one of them is attached (nrefer counts them). Each
// attached stream carries the close handle onclose_stream: when either stream
// closes, that side is cleared and the other side is closed too; the last
// close frees the record and everything it owns. Detaching a side removes its
// close handle, so the stream can close (or move to another owner) without
// touching the record.
#pragma once

#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "acl_events.h"
#include "proxy/aio_proxy.h"
#include "proxy/dns_server.h"

struct HTTP_HDR;
struct HTTP_REQ;
struct HTTP_RES;

#define APROXY_PAGE_BUF 40960  // start of a page kept for title capture
#define APROXY_OBUF 4096       // initial room of the header output buffer
// Read buffer of a stream that carries a large body or a busy tunnel: one
// read call per 64 KiB instead of per 8 KiB. At most two per connection.
#define APROXY_BODY_BUFSIZE (64 * 1024)

struct APROXY_ENTRY;

// Flow control of one direction of a connection: bytes read from one side are
// written to the other. When the other side's output queue passes
// APROXY_FLOW_HIGH_WATER the reading side pauses until that queue has drained,
// so a slow reader never makes the proxy hold more than about one queue.
#define APROXY_FLOW_DOWN 0                   // server -> browser
#define APROXY_FLOW_UP 1                     // browser -> server
#define APROXY_FLOW_HIGH_WATER (256 * 1024)  // queued bytes that pause the reading side

struct APROXY_FLOW {
    int backed_up;  // the writing side's queue is past the high water mark
    int timer;      // the timer that takes the pending read out is set
    int paused;     // the reading side's pending read is out of the loop
};

// Connections waiting for the answer for one domain, in arrival order.
struct DOMAIN_WAITER {
    std::string domain;
    std::vector<APROXY_ENTRY*> entries;
    int nrefer = 0;
};

struct AIO_PROXY_IMPL {
    std::unordered_map<std::string, DOMAIN_WAITER*> pending;  // domain -> waiters
    std::unique_ptr<std::thread> thread;                      // the proxy thread
    std::atomic<int> quit{0};
    // Records still reading their request header: the sweep holds each to
    // the whole-header deadline.
    std::unordered_set<APROXY_ENTRY*> reading;
    int sweep_timer = 0;    // the sweep timer is set
    std::string listen_ip;  // own listening address, for CONNECT loops
    int listen_port = 0;
};

struct APROXY_ENTRY {
    AIO_PROXY* proxy;
    ACL_ASTREAM* client;          // browser, null once detached
    ACL_ASTREAM* server;          // web server, or null
    int nrefer;                   // attached streams
    char domain[DNS_DOMAIN_LEN];  // lower case, without port
    DNS_LOOKUP_MSG dns;           // copy of the answer (domain, addresses, count)
    int ip_idx;                   // next address to try
    int port;                     // upstream port
    time_t tm_begin;              // record created
    time_t tm_stamp;              // current phase started
    // Seconds spent per phase, for log lines.
    int tm_hdr_req, tm_dns, tm_connect, tm_send_req, tm_hdr_res, tm_body;
    HTTP_HDR_REQ* hdr_req;  // owned
    HTTP_HDR_RES* hdr_res;  // owned, null until read
    HTTP_REQ* http_req;     // owned, null unless a body is forwarded
    HTTP_RES* http_res;     // owned, null until the body is read
    std::string obuf;       // header text being sent
    int error_sent;         // an error reply went out; no second one
    int retries;            // resends after a server closed early
    std::string page_buf;   // start of a page for title capture
    int title_state;        // 0..3
    APROXY_FLOW flow[2];    // APROXY_FLOW_DOWN, APROXY_FLOW_UP
    std::string relay_buf;  // body pieces collected for one write to the browser
    int relay_timer;        // the timer that sends relay_buf is set
    time_t hdr_first_byte;  // when the sweep first saw request header bytes; 0: none yet
    // The request body as sent, kept for a resend while it is at most
    // APROXY_RESEND_BODY_MAX bytes; body_dropped once it grew past that.
    std::string body_copy;
    int body_dropped;
    int body_done;         // the whole request body has been read
    long long server_out;  // bytes written to the current server connection
};

#define APROXY_RESEND_BODY_MAX (64 * 1024)  // request body kept for a resend

// Record lifetime -------------------------------------------------------------

APROXY_ENTRY* aproxy_entry_new(AIO_PROXY* proxy, ACL_ASTREAM* client);
void aproxy_entry_attach_server(APROXY_ENTRY* entry, ACL_ASTREAM* server);
// Detaches the side whose buffered stream is `stream`. 1 when that freed the
// record, else 0.
int aproxy_entry_detach(APROXY_ENTRY* entry, ACL_VSTREAM* stream);
// Closes the server side and then the browser side; the record ends with them.
void aproxy_entry_close(APROXY_ENTRY* entry);
// Keeps the record alive across a call that may close both sides (from code
// that runs outside the streams' callbacks). Release returns 1 when that
// freed the record.
void aproxy_entry_hold(APROXY_ENTRY* entry);
int aproxy_entry_release(APROXY_ENTRY* entry);
// Seconds since the phase started; restarts the phase clock.
int aproxy_entry_stamp(APROXY_ENTRY* entry);

// Flow control (proxy_flow). After a write in direction `dir`: pauses the
// reading side when the writing side is backed up. Readers re-arm themselves
// after each delivery, so the pending read is taken out of the loop at the
// start of the next pass.
void aproxy_flow_wrote(APROXY_ENTRY* entry, int dir);
// The writing side of `dir` has sent everything queued: the reading side
// goes on. Its write callback calls this.
void aproxy_flow_drained(APROXY_ENTRY* entry, int dir);
// Cancels the relay's pending write timer; the record is about to be freed.
void aproxy_relay_cancel(APROXY_ENTRY* entry);
// Forgets the state of `dir` (its timer included); its reading is over.
void aproxy_flow_reset(APROXY_ENTRY* entry, int dir);
// Cancels the flow timers; the record is about to be freed.
void aproxy_flow_cancel(APROXY_ENTRY* entry);
// Write callbacks that report a drained browser (down) or server (up).
int aproxy_client_drained(ACL_ASTREAM* astream, void* ctx);
int aproxy_server_drained(ACL_ASTREAM* astream, void* ctx);

// Gives the stream of `astream` the large read buffer of a relayed body.
void aproxy_body_buffer(ACL_ASTREAM* astream);

// Writes a fixed reply to the browser with default write and timeout
// callbacks; the connection ends once it is out (when the record closes).
void aproxy_reply(APROXY_ENTRY* entry, const char* reply);

// The proxy's clock (seconds): proxy->clock when set, else the system's.
time_t aproxy_now(const AIO_PROXY* proxy);

// Leaves the hop-by-hop fields of one connection behind (RFC 9110 section
// 7.6.1): Connection and every field it names, Keep-Alive, TE, Upgrade,
// Proxy-Authorization and Proxy-Connection. The fields that frame the message
// or name its host are kept whatever Connection names, or the next reader
// would frame the bytes otherwise than we did.
void aproxy_drop_hop_fields(HTTP_HDR* hdr);

// Writes to the server side and counts the bytes (server_out).
void aproxy_server_write(APROXY_ENTRY* entry, const char* data, int dlen);

// Steps ------------------------------------------------------------------------

void begin_http_proxy(APROXY_ENTRY* entry);
// The record no longer reads its request header (proxy_sweep).
void aproxy_reading_done(APROXY_ENTRY* entry);
// Starts the sweep that enforces the whole-header deadline.
void aproxy_sweep_start(AIO_PROXY* proxy);
void search_dns(APROXY_ENTRY* entry);
void forward_start(APROXY_ENTRY* entry);
int aio_proxy_reforward(APROXY_ENTRY* entry);
void get_respond_header(APROXY_ENTRY* entry);

// Callbacks that restore defaults and the like.
int aproxy_return_zero(ACL_ASTREAM* astream, void* ctx);
int aproxy_return_neg(ACL_ASTREAM* astream, void* ctx);
