// tarvomonitor: the records its modules share.
#pragma once

#include <string>

#define PROXY_TEXT_MAX 255         // characters of a proxy record's server and host
#define WATCH_CHECK_PERIOD 5000    // ms between two checks of the proxy process
#define WATCH_TEST_PERIOD 120000   // ms between two connectivity tests
#define WATCH_PROCESS_PAUSE 10     // ms paused per listed process while checking
#define WATCH_CONNECT_TIMEOUT 1    // seconds one test connection may take
#define WATCH_BYPASS_LIST "local"  // bypass list written with an enabled proxy

// A browser proxy setting: the local proxy, or the user's as saved at start.
struct PROXY_INFO {
    unsigned char enabled = 0;  // 1 = proxy on
    std::string server;         // the whole proxy text
    std::string host;           // host part of server
    int port = 0;
};

// The monitor's own configuration keys.
struct MONITOR_CONF {
    std::string proxy_process;          // file name of the proxy process watched (exact case)
    std::string p2p_proxy_server;       // host of the local proxy
    int p2p_proxy_port = 0;             // port of the local proxy
    std::string p2p_proxy_server_port;  // kept in the local record's server text
    std::string test_site;              // "host:port" of the connectivity test
    int test_times = 0;                 // connection attempts per test
};

// The watch's periods. Production keeps the defaults; tests shorten them.
struct WATCH_TIMES {
    int check_period_ms = WATCH_CHECK_PERIOD;
    int test_period_ms = WATCH_TEST_PERIOD;
    int process_pause_ms = WATCH_PROCESS_PAUSE;
};

extern MONITOR_CONF g_monitor_conf;  // filled by the configuration callback
extern PROXY_INFO g_saved_proxy;     // the browser setting found at start
extern WATCH_TIMES g_watch_times;

// The status output (standard output): the message and a line end.
void monitor_status(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
