// acl_debug_sections: the debug sections of the programs, by name. A switch
// text (acl_debug_init, "[debug] debug_level" of tarvoproxy.ini) names the
// numbers, so they never change; code names the constants. Lines of every
// section use levels 0 to 3.
#pragma once

constexpr int ACL_DEBUG_WORKQ = 1;          // work-queue threads, the store controller's loop
constexpr int ACL_DEBUG_STORE = 2;          // store controller
constexpr int ACL_DEBUG_STORE_ENTRY = 3;    // store entries, and upstream connect retries
constexpr int ACL_DEBUG_STORE_WORKER = 4;   // store workers
constexpr int ACL_DEBUG_RANGE_WORKER = 11;  // range download workers
constexpr int ACL_DEBUG_INTAKE = 20;        // proxy request intake and name resolution
constexpr int ACL_DEBUG_RESEND = 21;        // proxy resends after an early server close
constexpr int ACL_DEBUG_TUNNEL = 22;        // proxy CONNECT tunnels
constexpr int ACL_DEBUG_CONNECT = 23;       // proxy connects to web servers
constexpr int ACL_DEBUG_RELAY = 24;         // proxy response relay
constexpr int ACL_DEBUG_P2P_WORKER = 31;    // P2P download worker
constexpr int ACL_DEBUG_STORE_DETAIL = 32;  // store controller, entries and workers, in detail
constexpr int ACL_DEBUG_RANGE_DETAIL = 33;  // range download workers, in detail
constexpr int ACL_DEBUG_STORE_HTTP = 34;    // the store's upstream HTTP client
constexpr int ACL_DEBUG_STARTUP = 50;       // service start-up and the acceleration decision
constexpr int ACL_DEBUG_P2P_CONTROL = 51;   // control of the P2P download worker
constexpr int ACL_DEBUG_TITLE = 61;         // page title capture
constexpr int ACL_DEBUG_PIPE = 71;          // named-pipe channel
constexpr int ACL_DEBUG_RESOURCES = 73;     // shared resource list and P2P login
