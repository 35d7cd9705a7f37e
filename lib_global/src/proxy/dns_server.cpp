#include "proxy/dns_server.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_msgio.h"
#include "acl_workq.h"
#include "proxy/dns_cache.h"

// The channel is a private socket pair: a TCP listener, even on loopback,
// would let any local user send lookups and read replies that carry this
// process's heap pointers. Each service owns its pair, so two proxies in one
// process never share a channel.
struct DNS_SERVER {
    ACL_AIO* aio;
    ACL_WORKQ* wq;          // resolver threads
    ACL_MSGIO* listener;    // requests arrive here; written by resolver threads only
    ACL_MSGIO* client;      // sends requests, replies arrive here; loop thread only
    std::mutex reply_lock;  // one whole reply at a time on a connection
};

namespace {

void fill_addrs(DNS_LOOKUP_MSG* msg, const ACL_NETDB* db) {
    int n = acl_netdb_size(db);
    if (n > DNS_MAX_IP) n = DNS_MAX_IP;
    for (int i = 0; i < n; ++i)
        snprintf(msg->ip[i], sizeof(msg->ip[i]), "%s", acl_netdb_index_ip(db, i));
    msg->ip_cnt = n;
}

void reply_lookup_msg(DNS_LOOKUP_MSG* msg) {
    const char* myname = "reply_lookup_msg";
    DNS_SERVER* server = msg->dns_server;
    int ret;
    {
        std::lock_guard<std::mutex> lock(server->reply_lock);
        ret = acl_msgio_send(msg->reply_channel, DNS_MSG_LOOKUP_REP, msg, sizeof(*msg));
    }
    if (ret < 0) {
        acl_msg_error("%s: send msg error, domain(%s)", myname, msg->domain);
        // The reply handler never sees this entry: it is freed here.
        acl_netdb_free(msg->h_dns_db);
    }
    delete msg;
}

void lookup_thread(int, ACL_WORKER_ATTR* worker) {
    const char* myname = "lookup_thread";
    auto* msg = static_cast<DNS_LOOKUP_MSG*>(worker->job_arg);
    int h_error = 0;
    std::string error;
    ACL_NETDB* db = acl_gethostbyname2(msg->domain, &h_error, &error);
    if (db == nullptr) {
        acl_msg_error("%s: gethostbyname error(%s), domain(%s)", myname, error.c_str(),
                      msg->domain);
        msg->ip_cnt = 0;
        msg->h_dns_db = nullptr;
    } else {
        msg->h_dns_db = db;
        fill_addrs(msg, db);
    }
    reply_lookup_msg(msg);
}

int on_lookup_request(int, ACL_MSGIO* mio, const ACL_MSGIO_MSG* info, void* ctx) {
    auto* server = static_cast<DNS_SERVER*>(ctx);
    if (info->dlen != static_cast<int>(sizeof(DNS_LOOKUP_MSG))) {
        acl_msg_error("on_lookup_request: dlen(%d) invalid", info->dlen);
        return -1;
    }
    auto* msg = new DNS_LOOKUP_MSG;
    std::memcpy(msg, info->body, sizeof(*msg));
    msg->dns_server = server;
    msg->reply_channel = mio;
    msg->h_dns_db = nullptr;
    if (acl_workq_add(server->wq, lookup_thread, 0, msg) != 0) {
        msg->ip_cnt = 0;
        reply_lookup_msg(msg);
    }
    return 0;
}

int on_lookup_reply(int, ACL_MSGIO*, const ACL_MSGIO_MSG* info, void*) {
    if (info->dlen != static_cast<int>(sizeof(DNS_LOOKUP_MSG))) {
        acl_msg_error("on_lookup_reply: dlen(%d) invalid", info->dlen);
        return -1;
    }
    DNS_LOOKUP_MSG msg;
    std::memcpy(&msg, info->body, sizeof(msg));
    if (msg.ip_cnt > 0 && msg.h_dns_db != nullptr) dns_cache_push(msg.h_dns_db);
    acl_netdb_free(msg.h_dns_db);
    msg.h_dns_db = nullptr;
    msg.callback(&msg);
    return 0;
}

}  // namespace

DNS_SERVER* dns_server_create(ACL_AIO* aio, int timeout) {
    const char* myname = "dns_server_create";
    if (aio == nullptr) acl_msg_fatal("%s(%d): aio null", myname, __LINE__);
    dns_cache_init(timeout, 0);

    auto* server = new DNS_SERVER;
    server->aio = aio;
    if (acl_msgio_pair(aio, &server->listener, &server->client) < 0)
        acl_msg_fatal("%s: listen error", myname);
    // Each end takes only its own message type, of the one size it has.
    acl_msgio_limit(server->listener, DNS_MSG_LOOKUP_REQ, sizeof(DNS_LOOKUP_MSG));
    acl_msgio_limit(server->client, DNS_MSG_LOOKUP_REP, sizeof(DNS_LOOKUP_MSG));
    acl_msgio_reg(server->listener, DNS_MSG_LOOKUP_REQ, on_lookup_request, server);
    acl_msgio_reg(server->client, DNS_MSG_LOOKUP_REP, on_lookup_reply, server);

    server->wq = acl_workq_create(DNS_WORKERS_MAX, DNS_WORKERS_IDLE, 0, 0);
    if (server->wq == nullptr) acl_msg_fatal("%s: create work queue error", myname);
    return server;
}

int dns_server_lookup(DNS_SERVER* server, const DNS_LOOKUP_MSG* msg) {
    const char* myname = "dns_server_lookup";

    DNS_LOOKUP_MSG copy = *msg;
    copy.dns_server = server;
    copy.h_dns_db = nullptr;
    ACL_NETDB* db = dns_cache_lookup(copy.domain);
    if (db != nullptr) {
        fill_addrs(&copy, db);
        acl_netdb_free(db);
        copy.callback(&copy);
        return 0;
    }
    if (acl_msgio_send(server->client, DNS_MSG_LOOKUP_REQ, &copy, sizeof(copy)) < 0) {
        acl_msg_error("%s: send msg error, domain(%s)", myname, copy.domain);
        // Connections wait for this answer; a not-found answer lets them end
        // with the DNS-failure reply instead of hanging.
        copy.ip_cnt = 0;
        copy.callback(&copy);
        return -1;
    }
    return 0;
}
