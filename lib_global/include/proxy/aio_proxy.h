// aio_proxy: the local HTTP proxy. One proxy per process; it owns one event
// loop that runs on the proxy thread and serves every browser connection and
// its web-server connection there.
//
// One browser connection carries exactly one request: every request sent on
// and every response relayed carries "Connection: close".
//
// Road of a request: accept -> read and check the request header (framing,
// within 64 KiB and 60 s; loop test with the x-via-tarvospeed header; the
// request-target names the server) -> DNS (dns_server) -> connect, trying the
// answer's addresses in turn -> send header and body (or open a CONNECT
// tunnel) -> read the response header -> either hand both sockets to the
// acceleration hooks (GET only) or relay header and body to the browser.
// Every method is forwarded; hop-by-hop fields stay here.
//
// Lifecycle: aio_proxy_create makes the proxy; aio_proxy_start starts its
// thread, which runs until aio_proxy_stop (the service never stops it). After
// aio_proxy_start only the proxy thread touches the proxy and its records;
// the timeouts may be changed before it starts.
#pragma once

#include <ctime>

#include "proxy/proxy_replies.h"

struct ACL_AIO;
struct ACL_ASTREAM;
struct ACL_VSTREAM;
struct ACL_WORKQ;
struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct DNS_SERVER;
struct AIO_PROXY_IMPL;

#define AIO_PROXY_FLAG_HTTP 0x1  // accepted connections are served as HTTP
#define AIO_PROXY_FLAGS_DEFAULT 3
#define AIO_PROXY_CONN_TIMEOUT 300   // seconds for a connect to a web server
#define AIO_PROXY_RW_TIMEOUT 300     // seconds without progress on a read or write
#define AIO_PROXY_LISTEN_TIMEOUT 30  // seconds between idle wake-ups of the listener
// The system's largest listen queue: Windows reads SOMAXCONN so, and Linux
// cuts any larger backlog to net.core.somaxconn. A short queue stalls and
// resets browsers that open hundreds of connections at once.
#define AIO_PROXY_LISTEN_BACKLOG 0x7fffffff
#define AIO_PROXY_HDR_TIMEOUT 60    // seconds from a request header's first byte to its end
#define AIO_PROXY_DNS_LIFETIME 300  // seconds a DNS answer is cached
#define AIO_PROXY_MAX_RETRY 3       // resends when a server closes before answering

// Asked with each response header: non-zero diverts the response to the
// accelerate hook.
typedef int (*AIO_PROXY_CAN_ACCEL_FN)(HTTP_HDR_REQ* hdr_req, HTTP_HDR_RES* hdr_res);

// Takes over both connections: the two blocking buffered streams and the two
// header clones belong to the hook from the call on.
// Where the proxy reads the time for the whole-header deadline (seconds).
// Tests step a clock of their own.
typedef time_t (*AIO_PROXY_CLOCK_FN)(void);

typedef void (*AIO_PROXY_ACCEL_FN)(ACL_VSTREAM* client, ACL_VSTREAM* server, HTTP_HDR_REQ* hdr_req,
                                   HTTP_HDR_RES* hdr_res);

struct AIO_PROXY {
    ACL_AIO* aio;              // the event loop, run by the proxy thread
    ACL_WORKQ* wq;             // the proxy's own work queue (the request path queues nothing)
    ACL_ASTREAM* listener;     // listening socket
    int conn_timeout;          // seconds, AIO_PROXY_CONN_TIMEOUT
    int rw_timeout;            // seconds, AIO_PROXY_RW_TIMEOUT
    int listen_timeout;        // seconds, AIO_PROXY_LISTEN_TIMEOUT
    int hdr_timeout;           // seconds, AIO_PROXY_HDR_TIMEOUT
    AIO_PROXY_CLOCK_FN clock;  // null: the system clock
    DNS_SERVER* dns_server;    // lookups, answered on the proxy thread
    unsigned int flags;        // AIO_PROXY_FLAG_*
    int cap_title;             // page title capture on
    AIO_PROXY_CAN_ACCEL_FN can_accel;  // may be null
    AIO_PROXY_ACCEL_FN accel;          // may be null
    AIO_PROXY_IMPL* impl;              // pending lookups, thread; private
};

// Listens on `addr` ("ip:port", backlog AIO_PROXY_LISTEN_BACKLOG) and builds the proxy with its
// loop, DNS service and work queue. Null with "listen addr(%s) error" when
// the address cannot be listened on.
AIO_PROXY* aio_proxy_create(const char* addr, int cap_title);

// Stores both hooks; the acceleration path runs only when both are set.
// Ignored for a null proxy. Call before aio_proxy_start.
void aio_proxy_set_accel_hooks(AIO_PROXY* proxy, AIO_PROXY_CAN_ACCEL_FN can_accel,
                               AIO_PROXY_ACCEL_FN accel);

// Starts the proxy thread. 0, or -1 when it runs already or cannot start.
int aio_proxy_start(AIO_PROXY* proxy);

// Ends the proxy thread after its current loop pass and waits for it (tests;
// the service never stops its proxy). Connections open at that moment stay
// as they are.
void aio_proxy_stop(AIO_PROXY* proxy);

// This process's identity in x-via-tarvospeed: "tarvospeed-<pid>".
const char* aio_proxy_via(void);
