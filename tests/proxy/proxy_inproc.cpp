// The in-process proxy shared by the test files: its environment, seams and
// fixture.
#include "proxy_inproc.h"

#include <chrono>
#include <map>
#include <thread>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "proxy/dns_cache.h"
#include "proxy/netdb.h"

namespace fs = std::filesystem;

namespace proxy_inproc {

// ------------------------------------------------------------ resolver seam

std::mutex g_dns_mu;
std::condition_variable g_dns_cv;
std::map<std::string, std::vector<std::string>> g_names;  // name -> addresses
std::map<std::string, int> g_lookups;                     // name -> resolver calls
std::string g_hold;                                       // lookups of this name wait
bool g_release = false;

int test_resolver(const char* name, std::vector<std::string>& addrs, std::string& error) {
    std::unique_lock<std::mutex> lock(g_dns_mu);
    g_lookups[name]++;
    if (g_hold == name) g_dns_cv.wait_for(lock, std::chrono::seconds(10), [] { return g_release; });
    auto it = g_names.find(name);
    if (it == g_names.end()) {
        error = "no such host";
        return -1;
    }
    addrs = it->second;
    return 0;
}

int lookups(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_dns_mu);
    return g_lookups[name];
}

void add_name(const std::string& name, std::vector<std::string> addrs) {
    std::lock_guard<std::mutex> lock(g_dns_mu);
    g_names[name] = std::move(addrs);
}

std::atomic<time_t> g_dns_now{0};
time_t test_clock() {
    time_t t = g_dns_now.load();
    return t ? t : time(nullptr);
}

// ------------------------------------------------------------ environment

World* g_world = nullptr;
AIO_PROXY* g_proxy = nullptr;  // never freed, as in the service

// Replies with a body of known bytes and no length, then closes.
void close_delimited_reply(platform::TcpSocket& s) {
    std::string head, body;
    if (!read_request(s, head, body)) return;
    s.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    std::string data = pattern_bytes(300000, 77);
    for (size_t off = 0; off < data.size(); off += 7000) s.send_all(data.substr(off, 7000));
}

// Acceleration hooks: responses to URLs under /accelerate/ are taken over.
// The stand-in for the download store answers by itself on the blocking
// browser socket and closes both sockets, which it now owns.
std::atomic<int> g_accelerated{0};

int test_can_accel(HTTP_HDR_REQ* req, HTTP_HDR_RES* res) {
    return req->url_part.rfind("/accelerate/", 0) == 0 && res->reply_status == 200;
}

void test_accel(ACL_VSTREAM* client, ACL_VSTREAM* server, HTTP_HDR_REQ* req, HTTP_HDR_RES* res) {
    ++g_accelerated;
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\naccelerated";
    acl_vstream_writen(client, reply.data(), reply.size());
    acl_vstream_close(client);
    acl_vstream_close(server);
    http_hdr_req_free(req);
    http_hdr_res_free(res);
}

class ProxyEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        g_world = new World;
        g_world->close_delimited = std::make_unique<ScriptedServer>(close_delimited_reply);
        g_world->nginx =
            std::make_unique<Nginx>(g_world->dir.path(), g_world->close_delimited->port());
        ASSERT_TRUE(g_world->nginx->ok()) << read_file(g_world->dir.path() / "error.log");
        g_world->small = "<html><head><title>t</title></head><body>small page</body></html>\n";
        g_world->medium = pattern_bytes(6 * 1024 * 1024 + 13, 5);
        write_file(g_world->nginx->root() / "small.html", g_world->small);
        write_file(g_world->nginx->root() / "medium.bin", g_world->medium);
        fs::create_directories(g_world->nginx->root() / "accelerate");
        write_file(g_world->nginx->root() / "accelerate" / "v.flv", g_world->medium);

        acl_netdb_set_resolver(test_resolver);
        dns_cache_set_clock(test_clock);
        for (int attempt = 0; attempt < 5 && g_world->proxy == nullptr; ++attempt) {
            g_world->proxy_port = platform::free_loopback_port();
            std::string addr = "127.0.0.1:" + std::to_string(g_world->proxy_port);
            g_world->proxy = aio_proxy_create(addr.c_str(), 0);
        }
        ASSERT_NE(g_world->proxy, nullptr);
        g_proxy = g_world->proxy;
        g_proxy->listen_timeout = 1;  // the listener's idle wake-ups come every second
        aio_proxy_set_accel_hooks(g_proxy, test_can_accel, test_accel);
        ASSERT_EQ(aio_proxy_start(g_world->proxy), 0);
    }
    void TearDown() override {
        if (g_world->proxy) aio_proxy_stop(g_world->proxy);
        acl_netdb_set_resolver(nullptr);
        dns_cache_set_clock(nullptr);
        // The proxy stays allocated: the service never frees one.
        g_world->nginx.reset();
        g_world->close_delimited.reset();
        delete g_world;
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ProxyEnvironment);

void ProxyTest::SetUp() {
    ASSERT_NE(g_world, nullptr);
    ASSERT_NE(g_world->proxy, nullptr);
    use_settings(AIO_PROXY_CONN_TIMEOUT, AIO_PROXY_RW_TIMEOUT, nullptr);
}

void ProxyTest::TearDown() { use_settings(AIO_PROXY_CONN_TIMEOUT, AIO_PROXY_RW_TIMEOUT, nullptr); }

// The timeouts and the clock are fixed while the proxy thread runs, so a
// change stops the thread, sets them and starts it again; connections stay
// open across the pause.
void ProxyTest::use_settings(int conn_timeout, int rw_timeout, AIO_PROXY_CLOCK_FN clock) {
    AIO_PROXY* proxy = g_world->proxy;
    if (proxy->conn_timeout == conn_timeout && proxy->rw_timeout == rw_timeout &&
        proxy->hdr_timeout == AIO_PROXY_HDR_TIMEOUT && proxy->clock == clock)
        return;
    aio_proxy_stop(proxy);
    proxy->conn_timeout = conn_timeout;
    proxy->rw_timeout = rw_timeout;
    proxy->hdr_timeout = AIO_PROXY_HDR_TIMEOUT;
    proxy->clock = clock;
    ASSERT_EQ(aio_proxy_start(proxy), 0);
}

std::string ProxyTest::raw_get(const std::string& url, const std::string& extra, bool* closed,
                               int idle_ms) {
    auto host = url.substr(7, url.find('/', 7) - 7);
    return raw_exchange(proxy_port(),
                        "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "\r\n",
                        closed, idle_ms);
}

std::string body_of(const std::string& response) {
    auto p = response.find("\r\n\r\n");
    return p == std::string::npos ? "" : response.substr(p + 4);
}

std::string head_of(const std::string& response) {
    auto p = response.find("\r\n\r\n");
    return p == std::string::npos ? response : response.substr(0, p + 4);
}

// A server that keeps the request head in `seen` and answers 200 "ok".
ScriptedServer::Handler answer_ok(std::string& seen) {
    return [&seen](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        seen = head;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
}

}  // namespace proxy_inproc
