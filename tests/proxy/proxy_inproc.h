// The proxy run inside the test process against real nginx, scripted servers
// on raw sockets and curl: one proxy for the whole test binary (the service
// never frees one), with seams for the resolver, the DNS clock and the
// timeouts. Shared by the test files of proxy_inproc_tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "../e2e/proxy/harness.h"
#include "proxy/aio_proxy.h"

namespace proxy_inproc {

using namespace proxy_test;

// Resolver seam: names answered with chosen addresses, lookups counted;
// lookups of g_hold wait until g_release is set (under g_dns_mu, g_dns_cv).
extern std::mutex g_dns_mu;
extern std::condition_variable g_dns_cv;
extern std::string g_hold;
extern bool g_release;
int lookups(const std::string& name);
void add_name(const std::string& name, std::vector<std::string> addrs);

// The DNS cache's clock; 0 means the system clock.
extern std::atomic<time_t> g_dns_now;
// Responses taken over by the acceleration hooks (URLs under /accelerate/).
extern std::atomic<int> g_accelerated;

struct World {
    TempDir dir;
    std::unique_ptr<ScriptedServer> close_delimited;  // upstream of nginx's /chunked/
    std::unique_ptr<Nginx> nginx;
    AIO_PROXY* proxy = nullptr;
    int proxy_port = 0;
    std::string small, medium;
};
extern World* g_world;

class ProxyTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    static void use_settings(int conn_timeout, int rw_timeout, AIO_PROXY_CLOCK_FN clock);
    int proxy_port() const { return g_world->proxy_port; }
    int nginx_port() const { return g_world->nginx->port(); }
    std::string nginx_url(const std::string& path) const { return g_world->nginx->url(path); }

    // A raw GET through the proxy; the whole answer until the close.
    std::string raw_get(const std::string& url, const std::string& extra = "",
                        bool* closed = nullptr, int idle_ms = 10000);
};

// "127.0.0.1:port".
inline std::string target_of(int port) { return "127.0.0.1:" + std::to_string(port); }

std::string body_of(const std::string& response);
std::string head_of(const std::string& response);

// A server that keeps the request head in `seen` and answers 200 "ok".
ScriptedServer::Handler answer_ok(std::string& seen);

}  // namespace proxy_inproc
