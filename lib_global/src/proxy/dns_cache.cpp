#include "proxy/dns_cache.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "acl_msg.h"

namespace {

struct DNS_CACHE_ENTRY {
    ACL_NETDB* h_dns_db = nullptr;  // owned
    std::string name;               // at most 255 bytes
    time_t tm_timeout = 0;          // expiry: insertion time + lifetime
};

struct DNS_CACHE {
    std::unordered_map<std::string, std::list<DNS_CACHE_ENTRY>::iterator> table;
    std::list<DNS_CACHE_ENTRY> cache_list;  // insertion order, oldest first
    int timeout = DNS_CACHE_LIFETIME_DEFAULT;
    std::unique_ptr<std::mutex> lock;  // only when created thread-safe
};

DNS_CACHE* g_cache = nullptr;
DNS_CACHE_CLOCK_FN g_clock = nullptr;

time_t now() { return g_clock ? g_clock() : time(nullptr); }

class Guard {
  public:
    explicit Guard(DNS_CACHE* c) : m_(c->lock.get()) {
        if (m_) m_->lock();
    }
    ~Guard() {
        if (m_) m_->unlock();
    }

  private:
    std::mutex* m_;
};

void entry_remove(std::list<DNS_CACHE_ENTRY>::iterator it) {
    acl_netdb_free(it->h_dns_db);
    g_cache->table.erase(it->name);
    g_cache->cache_list.erase(it);
}

void expire(time_t t) {
    while (!g_cache->cache_list.empty()) {
        auto it = g_cache->cache_list.begin();
        if (it->tm_timeout > t) break;
        entry_remove(it);
    }
}

std::string lower_cut(const char* name) {
    std::string s = name;
    if (s.size() > ACL_NETDB_NAME_MAX - 1) s.resize(ACL_NETDB_NAME_MAX - 1);
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void dns_cache_init(int timeout, int thread_safe) {
    if (g_cache == nullptr) {
        g_cache = new DNS_CACHE;
        if (thread_safe) g_cache->lock = std::make_unique<std::mutex>();
        g_cache->table.reserve(DNS_CACHE_BUCKETS);
    }
    if (timeout > 0) g_cache->timeout = timeout;
}

void dns_cache_set_clock(DNS_CACHE_CLOCK_FN fn) { g_clock = fn; }

void dns_cache_clear(void) {
    if (g_cache == nullptr) return;
    Guard g(g_cache);
    while (!g_cache->cache_list.empty()) entry_remove(g_cache->cache_list.begin());
}

ACL_NETDB* dns_cache_lookup(const char* name) {
    const char* myname = "dns_cache_lookup";
    if (g_cache == nullptr || name == nullptr || *name == 0) return nullptr;
    Guard g(g_cache);
    time_t t = now();
    expire(t);
    auto found = g_cache->table.find(lower_cut(name));
    if (found == g_cache->table.end()) return nullptr;
    auto it = found->second;
    if (it->h_dns_db == nullptr) {
        acl_msg_error("%s, %s(%d): h_dns_db null", __FILE__, myname, __LINE__);
        entry_remove(it);
        return nullptr;
    }
    if (it->tm_timeout <= t) {
        entry_remove(it);
        return nullptr;
    }
    return acl_netdb_clone(it->h_dns_db);
}

void dns_cache_push(const ACL_NETDB* h_dns_db) {
    const char* myname = "dns_cache_push";
    if (h_dns_db == nullptr) {
        acl_msg_error("%s(%d): input invalid", myname, __LINE__);
        return;
    }
    if (h_dns_db->name.empty()) {
        acl_msg_error("%s(%d): host name empty", myname, __LINE__);
        return;
    }
    if (h_dns_db->size <= 0) {
        acl_msg_error("%s(%d): size(%d) <= 0", myname, __LINE__, h_dns_db->size);
        return;
    }
    if (h_dns_db->size != static_cast<int>(h_dns_db->addrs.size()))
        acl_msg_fatal("%s(%d): size(%d) != array size(%d)", myname, __LINE__, h_dns_db->size,
                      static_cast<int>(h_dns_db->addrs.size()));
    if (g_cache == nullptr) acl_msg_fatal("%s(%d): acl_netdb_cache_init first", myname, __LINE__);

    Guard g(g_cache);
    std::string name = lower_cut(h_dns_db->name.c_str());
    auto found = g_cache->table.find(name);
    std::list<DNS_CACHE_ENTRY>::iterator it;
    if (found != g_cache->table.end()) {
        // A fresh answer restarts the lifetime, so it moves to the young end.
        it = found->second;
        acl_netdb_free(it->h_dns_db);
        it->h_dns_db = nullptr;
        g_cache->cache_list.splice(g_cache->cache_list.end(), g_cache->cache_list, it);
    } else {
        g_cache->cache_list.push_back(DNS_CACHE_ENTRY{});
        it = std::prev(g_cache->cache_list.end());
        it->name = name;
        g_cache->table.emplace(name, it);
    }
    it->tm_timeout = now() + g_cache->timeout;
    it->h_dns_db = acl_netdb_clone(h_dns_db);
    if (it->h_dns_db == nullptr) entry_remove(it);
}
