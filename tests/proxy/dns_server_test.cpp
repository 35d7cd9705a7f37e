// The DNS service over its private channel: each service owns its channel,
// so a second proxy in the process resolves after the first one stopped,
// and a failed lookup logs the resolver's own reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../e2e/proxy/harness.h"
#include "acl_aio.h"
#include "acl_msg.h"
#include "acl_vstream.h"
#include "proxy/aio_proxy.h"
#include "proxy/netdb.h"

using namespace proxy_test;

namespace {

int names(const char* name, std::vector<std::string>& addrs, std::string& error) {
    std::string n = name;
    if (n == "first.test" || n == "second.test") {
        addrs.push_back("127.0.0.1");
        return 0;
    }
    error = "no such host here";
    return -1;
}

AIO_PROXY* start_proxy() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string addr = "127.0.0.1:" + std::to_string(platform::free_loopback_port());
        if (AIO_PROXY* p = aio_proxy_create(addr.c_str(), 0)) {
            if (aio_proxy_start(p) == 0) return p;
        }
    }
    return nullptr;
}

int port_of(AIO_PROXY* proxy) {
    std::string local = acl_aio_vstream(proxy->listener)->addr_local;
    return std::stoi(local.substr(local.rfind(':') + 1));
}

std::string get(int proxy_port, const std::string& host, int port) {
    std::string t = host + ":" + std::to_string(port);
    return raw_exchange(proxy_port, "GET http://" + t + "/ HTTP/1.1\r\nHost: " + t + "\r\n\r\n",
                        nullptr, 10000);
}

ScriptedServer::Handler answer_ok() {
    return [](platform::TcpSocket& s) {
        std::string head, body;
        if (read_request(s, head, body))
            s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
}

TEST(DnsServer, SecondProxyResolvesAfterTheFirstStopped) {
    acl_netdb_set_resolver(names);
    ScriptedServer origin(answer_ok());
    AIO_PROXY* first = start_proxy();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(get(port_of(first), "first.test", origin.port()).find("\r\n\r\nok"),
              std::string::npos);
    aio_proxy_stop(first);  // its loop runs no more; the proxy stays allocated

    AIO_PROXY* second = start_proxy();
    ASSERT_NE(second, nullptr);
    auto r = get(port_of(second), "second.test", origin.port());
    EXPECT_NE(r.find("\r\n\r\nok"), std::string::npos) << "answered through its own channel: " << r;
    aio_proxy_stop(second);
    acl_netdb_set_resolver(nullptr);
}

TEST(DnsServer, FailedLookupLogsTheResolversReason) {
    acl_netdb_set_resolver(names);
    TempDir dir;
    std::string log = (dir.path() / "dns.log").string();
    acl_msg_open(log.c_str(), "log");
    AIO_PROXY* proxy = start_proxy();
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(get(port_of(proxy), "missing.test", 80), PROXY_REPLY_DNS_ERROR);
    aio_proxy_stop(proxy);
    acl_msg_close();
    acl_netdb_set_resolver(nullptr);
    EXPECT_NE(read_file(log).find("lookup_thread: gethostbyname error(no such host here), "
                                  "domain(missing.test)"),
              std::string::npos)
        << read_file(log);
}

}  // namespace
