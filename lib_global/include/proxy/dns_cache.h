// dns_cache: positive DNS answers kept for a fixed lifetime, whatever the DNS
// record's own lifetime says. One cache per process, owned by the proxy
// thread (created without its lock); created thread-safe it may be shared.
//
// Entries expire lazily: each lookup first drops every entry whose expiry
// time is not later than now, oldest first. A new answer for a name replaces
// the old one and restarts its lifetime.
//
// Ownership: dns_cache_push stores a copy; dns_cache_lookup returns a copy the
// caller frees with acl_netdb_free.
#pragma once

#include <ctime>

#include "proxy/netdb.h"

#define DNS_CACHE_LIFETIME_DEFAULT 300  // seconds, until dns_cache_init sets another
#define DNS_CACHE_BUCKETS 256           // table size hint

// Where the cache reads the time (seconds). Tests step a clock of their own.
typedef time_t (*DNS_CACHE_CLOCK_FN)(void);

// Creates the cache, or only changes the lifetime when it exists. A lifetime
// of 0 or less keeps the previous one. `thread_safe` adds a lock.
void dns_cache_init(int timeout, int thread_safe);

// The cached answer for `name` (any case), or null.
ACL_NETDB* dns_cache_lookup(const char* name);

// Stores a copy of `h_dns_db` under its name, for the lifetime.
void dns_cache_push(const ACL_NETDB* h_dns_db);

// Replaces the clock (null restores the system clock).
void dns_cache_set_clock(DNS_CACHE_CLOCK_FN fn);

// Drops every entry (the cache stays usable).
void dns_cache_clear(void);
