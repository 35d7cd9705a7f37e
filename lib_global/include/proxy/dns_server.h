// dns_server: host-name lookups that never block the proxy thread.
//
// A lookup is answered from the cache (dns_cache) when it can be; otherwise the
// question goes over the service's own message channel (a private socket
// pair: no other process can reach it) to a resolver thread of the service's
// own work queue, and the answer comes back over the same channel to the
// loop thread, where it is cached and handed to the callback. Each service
// owns its channel, so several services (proxies) may live in one process;
// the cache (dns_cache) is still one per process.
//
// Contract of dns_server_lookup: the message's callback runs exactly once, on
// the loop thread: before dns_server_lookup returns (cache hit, or a request
// that could not be sent, answered as "not found") or later from the loop.
#pragma once

#include <ctime>

#include "proxy/netdb.h"

struct ACL_AIO;
struct ACL_MSGIO;
struct ACL_WORKQ;
struct DNS_SERVER;
struct DNS_LOOKUP_MSG;

#define DNS_MSG_LOOKUP_REQ 1100  // channel message: lookup request
#define DNS_MSG_LOOKUP_REP 1101  // channel message: lookup reply
#define DNS_MAX_IP 5             // addresses kept per answer
#define DNS_IP_LEN 64            // bytes of one address text
#define DNS_DOMAIN_LEN 256       // bytes of a domain, NUL included
#define DNS_WORKERS_MAX 100      // resolver threads at most
#define DNS_WORKERS_IDLE 60      // seconds before an idle resolver thread ends

typedef void (*DNS_LOOKUP_FN)(const DNS_LOOKUP_MSG* msg);

// Passed by value through the channel; the fields keep this order.
struct DNS_LOOKUP_MSG {
    char domain[DNS_DOMAIN_LEN];      // lower case
    char ip[DNS_MAX_IP][DNS_IP_LEN];  // dotted IPv4 addresses
    int ip_cnt;                       // 0..DNS_MAX_IP; 0: not found
    int begin;                        // start time in seconds, set by the requester
    DNS_LOOKUP_FN callback;           // completion, on the loop thread
    void* ctx;                        // the requester's context
    DNS_SERVER* dns_server;           // the service (for its reply lock)
    ACL_MSGIO* reply_channel;         // where the answer goes back
    ACL_NETDB* h_dns_db;              // resolver result, between worker and reply handler only
};

// Creates the service on `aio` (the loop that will call the callbacks) with a
// cache lifetime in seconds. Failures are fatal.
DNS_SERVER* dns_server_create(ACL_AIO* aio, int timeout);

// Resolves msg->domain; see the contract above. 0, or -1 when the request
// could not be sent (the callback has then run with ip_cnt 0).
int dns_server_lookup(DNS_SERVER* server, const DNS_LOOKUP_MSG* msg);
