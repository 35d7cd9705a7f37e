#include "proxy/netdb.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "acl_msg.h"
#include "platform/resolver.h"

namespace {

std::atomic<ACL_RESOLVE_FN> g_resolver{nullptr};

std::string lower_cut(const char* name) {
    std::string s = name ? name : "";
    if (s.size() > ACL_NETDB_NAME_MAX - 1) s.resize(ACL_NETDB_NAME_MAX - 1);
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Digits and exactly three dots, no dot first or last, a digit after each dot.
// The numbers are not checked against 255: such a name cannot be a host name
// either, and the connect attempt reports it.
bool is_dotted_ipv4(const char* s) {
    size_t n = std::strlen(s);
    if (n == 0 || s[0] == '.' || s[n - 1] == '.') return false;
    int dots = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] == '.') {
            ++dots;
            if (!std::isdigit(static_cast<unsigned char>(s[i + 1]))) return false;
        } else if (!std::isdigit(static_cast<unsigned char>(s[i]))) {
            return false;
        }
    }
    return dots == 3;
}

}  // namespace

ACL_NETDB* acl_netdb_new(const char* name) {
    auto* db = new ACL_NETDB;
    db->name = lower_cut(name);
    return db;
}

void acl_netdb_add_addr(ACL_NETDB* db, const char* ip) {
    db->addrs.emplace_back(ip);
    db->size = static_cast<int>(db->addrs.size());
}

ACL_NETDB* acl_netdb_clone(const ACL_NETDB* db) { return db ? new ACL_NETDB(*db) : nullptr; }

void acl_netdb_free(ACL_NETDB* db) { delete db; }

int acl_netdb_size(const ACL_NETDB* db) { return db ? db->size : 0; }

const char* acl_netdb_index_ip(const ACL_NETDB* db, int i) {
    if (db == nullptr || i < 0 || i >= static_cast<int>(db->addrs.size())) return nullptr;
    return db->addrs[static_cast<size_t>(i)].c_str();
}

void acl_netdb_set_resolver(ACL_RESOLVE_FN fn) { g_resolver.store(fn); }

ACL_NETDB* acl_gethostbyname(const char* name, int* h_error) {
    return acl_gethostbyname2(name, h_error, nullptr);
}

ACL_NETDB* acl_gethostbyname2(const char* name, int* h_error, std::string* error_text) {
    const char* myname = "acl_gethostbyname";
    if (h_error) *h_error = 0;
    if (error_text) error_text->clear();
    if (name == nullptr || *name == 0) {
        acl_msg_error("%s, %s(%d): input error", __FILE__, myname, __LINE__);
        if (h_error) *h_error = -1;
        if (error_text) *error_text = "input error";
        return nullptr;
    }
    if (is_dotted_ipv4(name)) {
        ACL_NETDB* db = acl_netdb_new(name);
        acl_netdb_add_addr(db, name);
        return db;
    }
    std::vector<std::string> addrs;
    std::string error;
    ACL_RESOLVE_FN fn = g_resolver.load();
    int rc = fn ? fn(name, addrs, error) : platform::resolve_ipv4(name, addrs, error);
    if (rc != 0) {
        acl_msg_error("%s, %s(%d): gethostbyname error(%s), addr=%s", __FILE__, myname, __LINE__,
                      error.c_str(), name);
        if (h_error) *h_error = -1;
        if (error_text) *error_text = error;
        return nullptr;
    }
    if (addrs.empty()) {
        acl_msg_error("%s, %s(%d): null result return(%s)", __FILE__, myname, __LINE__, name);
        if (h_error) *h_error = -1;
        if (error_text) *error_text = "null result";
        return nullptr;
    }
    ACL_NETDB* db = acl_netdb_new(name);
    for (const auto& a : addrs) acl_netdb_add_addr(db, a.c_str());
    return db;
}
