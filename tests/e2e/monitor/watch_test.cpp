// The browser-proxy watch of the monitor, run in this process with periods of
// milliseconds, over the registry file and a GSettings keyfile in a private
// folder.

#include "monitor_fixture.h"

#include "global.h"
#include "ie_proxy.h"
#include "proxy_no_defaut_thread.h"

#include "platform/blocking_tcp.h"
#include "platform/browser_proxy.h"
#include "platform/registry.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

using namespace monitor_test;

namespace {

const std::string kLocal = "1|127.0.0.1:28081|local";

class WatchTest : public ::testing::Test {
  protected:
    MonitorDir dir;
    MONITOR_CONF conf;
    WATCH_TIMES times;
    PROXY_WATCH* watch = nullptr;
    platform::ChildProcess proxy;  // the watched "proxy process"

    void SetUp() override {
        dir.apply_env();
        conf.proxy_process = dir.child_name();
        conf.p2p_proxy_server = "127.0.0.1";
        conf.p2p_proxy_port = 28081;
        conf.p2p_proxy_server_port = "127.0.0.1:28081";
        conf.test_site = "127.0.0.1:1";
        conf.test_times = 1;
        times.check_period_ms = 50;
        times.test_period_ms = 600000;
        times.process_pause_ms = 0;
    }

    void TearDown() override { proxy_watch_stop(watch); }

    void start_proxy() {
        platform::ChildOptions o = dir.options();
        ASSERT_EQ(proxy.start({dir.child_path(), "start"}, o), 0);
    }

    // Saves the browser setting found now and starts watching, as the
    // initialisation callback does.
    void start_watch(PROXY_WATCH_READY_FN ready = nullptr) {
        PROXY_INFO saved;
        GetIEProxyConfig(saved);
        watch = proxy_watch_start(conf, saved, times, ready);
        ASSERT_NE(watch, nullptr);
    }

    bool lan_becomes(const std::string& want, int timeout_ms = 10000) {
        return wait_until([&] { return lan_setting() == want; },
                          std::chrono::milliseconds(timeout_ms));
    }

    // The desktop setting is written after the registry: poll it too.
    bool desktop_becomes(const char* section, const char* key, const std::string& want) {
        return wait_until([&] { return keyfile_value(dir.keyfile(), section, key) == want; });
    }
};

std::atomic<int> g_lock_held{0};
int lock_held() { return g_lock_held.load(); }

TEST_F(WatchTest, WatchLeavesTheSettingAloneUntilTheDaemonHoldsItsLock) {
    set_lan(true, "10.1.2.3:8080");
    const std::string before = lan_setting();
    start_proxy();
    g_lock_held = 0;
    start_watch(lock_held);
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * times.check_period_ms));
    EXPECT_EQ(lan_setting(), before) << "a daemon that may still be refused its lock";

    g_lock_held = 1;
    EXPECT_TRUE(lan_becomes(kLocal)) << lan_setting();
}

TEST_F(WatchTest, EnabledSettingComesBackWhenProxyProcessGoes) {
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    testing::internal::CaptureStdout();
    start_watch();
    ASSERT_TRUE(lan_becomes(kLocal)) << lan_setting();
    if (desktop_proxy_schema_installed()) {
        EXPECT_TRUE(desktop_becomes("system/proxy", "mode", "'manual'"));
        EXPECT_TRUE(desktop_becomes("system/proxy/http", "host", "'127.0.0.1'"));
        EXPECT_TRUE(desktop_becomes("system/proxy/https", "port", "28081"));
        EXPECT_TRUE(desktop_becomes("system/proxy", "ignore-hosts", "['local']"));
    }

    proxy.stop(0);
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local")) << lan_setting();
    if (desktop_proxy_schema_installed()) {
        EXPECT_TRUE(desktop_becomes("system/proxy/http", "host", "'10.1.2.3'"));
        EXPECT_TRUE(desktop_becomes("system/proxy/http", "port", "8080"));
        EXPECT_TRUE(desktop_becomes("system/proxy", "mode", "'manual'"));
    }

    // The proxy is back: so is the local setting.
    start_proxy();
    ASSERT_TRUE(lan_becomes(kLocal)) << lan_setting();

    proxy_watch_stop(watch);
    watch = nullptr;
    std::string out = testing::internal::GetCapturedStdout();
    const char* sequence[] = {
        "Proxy Server: 127.0.0.1     Port: 28081\n",
        "Set Proxy Server: 127.0.0.1     Port: 28081\n",
        "proxy process closed.\n",
        "Old Proxy Server: 10.1.2.3     Port: 8080\n",
        "Proxy Server: 10.1.2.3     Port: 8080\n",
        "proxy process opened.\n",
        "Proxy Server: 127.0.0.1     Port: 28081\n",
    };
    std::size_t at = 0;
    for (const char* line : sequence) {
        at = out.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " in:\n" << out;
    }
}

TEST_F(WatchTest, DisabledSettingGivesDirectAccessWhenProxyIsGone) {
    set_lan(false, "");
    start_watch();
    // Pointed at the local proxy first, then corrected by the first check.
    ASSERT_TRUE(lan_becomes("0||local")) << lan_setting();
    if (desktop_proxy_schema_installed()) {
        EXPECT_TRUE(desktop_becomes("system/proxy", "mode", "'none'"));
    }
}

TEST_F(WatchTest, NoRegistryKeySwitchesTheProxyOffWhenProxyIsGone) {
    start_watch();
    ASSERT_TRUE(lan_becomes("0||local")) << lan_setting();
}

TEST_F(WatchTest, ProcessNameInAnotherLetterCaseNeverMatches) {
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    std::string upper = dir.child_name();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    conf.proxy_process = upper;
    start_watch();
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local")) << lan_setting();
    EXPECT_EQ(proxy_process_find(upper, 0), 0);
    EXPECT_EQ(proxy_process_find(dir.child_name(), 0), 1);
}

TEST_F(WatchTest, ZeroTestTimesRestoresSavedSettingEveryTestPeriod) {
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    conf.test_times = 0;
    times.test_period_ms = 300;
    start_watch();
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local")) << lan_setting();
    // The process still runs, so only the next test period puts it back again.
    set_lan(true, "marker:1");
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local")) << lan_setting();
}

TEST_F(WatchTest, ReachableTestSiteKeepsTheLocalProxy) {
    platform::TcpListener site;
    ASSERT_EQ(site.listen("127.0.0.1", 0), 0);
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    conf.test_site = "127.0.0.1:" + std::to_string(site.port());
    conf.test_times = 2;
    times.test_period_ms = 100;
    start_watch();
    ASSERT_TRUE(lan_becomes(kLocal));
    EXPECT_EQ(proxy_test_site(conf.test_site, 3), 3);
    // Several test periods pass without a restore.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(lan_setting(), kLocal);
}

TEST_F(WatchTest, UnreachableTestSiteRestoresTheSavedSetting) {
    platform::TcpListener probe;
    ASSERT_EQ(probe.listen("127.0.0.1", 0), 0);
    int dead_port = probe.port();
    probe.close();  // nothing listens there any more: connections are refused
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    conf.test_site = "127.0.0.1:" + std::to_string(dead_port);
    times.test_period_ms = 200;
    start_watch();
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local")) << lan_setting();
    EXPECT_EQ(proxy_test_site("127.0.0.1", 1), 0);    // no port
    EXPECT_EQ(proxy_test_site("127.0.0.1:0", 1), 0);  // port 0
}

TEST_F(WatchTest, DialUpEntriesGetTheLanSetting) {
    platform::RegKey book;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::current_user,
                                       "SOFTWARE\\Microsoft\\RAS Phonebook", book),
              0);
    ASSERT_EQ(book.set_string("Office VPN", ""), 0);
    ASSERT_EQ(book.set_string("Home DSL", ""), 0);
    set_lan(true, "10.1.2.3:8080");
    start_proxy();
    start_watch();
    ASSERT_TRUE(lan_becomes(kLocal));
    EXPECT_TRUE(wait_until([] { return lan_setting("Office VPN") == kLocal; }));
    EXPECT_TRUE(wait_until([] { return lan_setting("Home DSL") == kLocal; }));
    proxy.stop(0);
    ASSERT_TRUE(lan_becomes("1|10.1.2.3:8080|local"));
    EXPECT_TRUE(wait_until([] { return lan_setting("Office VPN") == "1|10.1.2.3:8080|local"; }));
}

TEST(IeProxy, ReadsTheSavedSetting) {
    MonitorDir dir;
    dir.apply_env();
    PROXY_INFO p;
    p.enabled = 1;
    p.host = "junk";
    EXPECT_EQ(GetIEProxyConfig(p), -1);  // no key: an empty record
    EXPECT_EQ(p.enabled, 0);
    EXPECT_EQ(p.host, "");
    EXPECT_EQ(p.port, 0);

    struct Case {
        std::uint32_t enable;
        std::string server;
        int enabled;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {1, "10.1.2.3:8080", 1, "10.1.2.3", 8080},
        {0x101, "proxy.example", 1, "proxy.example", 0},  // only the low byte counts
        {0x100, "h:12x", 0, "h", 12},
        {1, "h:", 1, "h", 0},
        {1, std::string(255, 'a'), 1, std::string(255, 'a'), 0},
        {1, std::string(256, 'a'), 1, "", 0},  // too long: not read
    };
    for (auto& c : cases) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::current_user,
                                           platform::BROWSER_PROXY_KEY, key),
                  0);
        key.set_dword("ProxyEnable", c.enable);
        key.set_string("ProxyServer", c.server);
        ASSERT_EQ(GetIEProxyConfig(p), 0);
        EXPECT_EQ(p.enabled, c.enabled) << c.server;
        EXPECT_EQ(p.host, c.host) << c.server;
        EXPECT_EQ(p.port, c.port) << c.server;
    }
}

}  // namespace
