// netdb: a resolved host entry (the queried name and its IPv4 addresses as
// text) and the blocking resolver that makes them.
//
// Ownership: every function returning ACL_NETDB* hands a new entry to the
// caller, who frees it with acl_netdb_free. Entries are plain values: any
// thread may make, copy and free them.
#pragma once

#include <string>
#include <vector>

#define ACL_NETDB_NAME_MAX 256  // bytes of the host name, NUL included

struct ACL_NETDB {
    std::string name;                // queried name, lower case, at most 255 bytes
    std::vector<std::string> addrs;  // dotted IPv4 addresses, in resolver order
    int size = 0;                    // number of addresses; kept equal to addrs.size()
};

// A new entry for `name` (lower-cased and cut to 255 bytes) without addresses.
ACL_NETDB* acl_netdb_new(const char* name);

// Appends one address and counts it.
void acl_netdb_add_addr(ACL_NETDB* db, const char* ip);

// A copy sharing nothing with `db`; null for a null entry.
ACL_NETDB* acl_netdb_clone(const ACL_NETDB* db);

void acl_netdb_free(ACL_NETDB* db);

// Number of addresses (0 for null).
int acl_netdb_size(const ACL_NETDB* db);

// Address `i` as text, or null when out of range.
const char* acl_netdb_index_ip(const ACL_NETDB* db, int i);

// The system resolver behind acl_gethostbyname: fills `addrs` with the IPv4
// addresses of `name` and returns 0, or returns -1 with the reason in `error`.
// It is called from resolver threads, so it must be thread-safe.
typedef int (*ACL_RESOLVE_FN)(const char* name, std::vector<std::string>& addrs,
                              std::string& error);

// Replaces the system resolver (tests answer names with chosen addresses);
// null restores the system's. Set it before lookups run.
void acl_netdb_set_resolver(ACL_RESOLVE_FN fn);

// Resolves `name`, blocking. A dotted IPv4 address (digits and exactly three
// dots, none first or last, a digit after each) is answered without a query.
// Returns a new entry, or null with a log line and `*h_error` set (when given)
// to a non-zero code.
ACL_NETDB* acl_gethostbyname(const char* name, int* h_error);

// The same, with the resolver's error text in `*error` (when given) on failure.
ACL_NETDB* acl_gethostbyname2(const char* name, int* h_error, std::string* error);
