// Helper-process control: the ini files, the browser's proxy snapshot and
// its restore, processes found and ended by name, and the program's "stop".
#include "speed/proxy_control.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/blocking_tcp.h"
#include "platform/browser_proxy.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "speed/speed_core.h"
#include "speed_fixture.h"

namespace {

using tarvo_test::read_file;
using tarvo_test::wait_until;
using tarvo_test::write_file;
using tarvospeed::TQlProxyControl;

void set_lan(bool enabled, const std::string& server) {
    platform::BrowserProxyOptions o;
    o.enabled = enabled;
    o.server = server;
    ASSERT_EQ(platform::browser_proxy_write(nullptr, o), 0);
}

std::string lan(const char* entry = nullptr) {
    std::string key = platform::BROWSER_PROXY_KEY;
    if (entry) key += std::string("\\") + platform::BROWSER_PROXY_CONNECTIONS + "\\" + entry;
    platform::RegKey k;
    if (platform::RegKey::open(platform::RegRoot::current_user, key, k) != 0) return "none";
    platform::RegValue e, s, b;
    std::string out = k.query("ProxyEnable", e) == 0 ? std::to_string(e.dword) : "-";
    out += "|" + (k.query("ProxyServer", s) == 0 ? s.text : "-");
    out += "|" + (k.query("ProxyOverride", b) == 0 ? b.text : "-");
    return out;
}

class ProxyControl : public ::testing::Test {
  protected:
    void write_ini(const std::string& wrap, const std::string& proxy) {
        write_file(env.dir.file("tarvospeed.ini"),
                   "[server]\r\nproxy_wrap_process=" + wrap +
                       "\r\nproxy_wrap_param=start x.conf\r\nproxy_process=" + proxy +
                       "\r\n[media]\r\nGrabDelay=5\r\n");
    }
    void write_proxy_ini(const std::string& ip, int port) {
        write_file(env.dir.file("tarvoproxy.ini"),
                   "[proxy]\nlisten_ip=" + ip + "\nlisten_port=" + std::to_string(port) + "\n");
    }
    speed_test::SpeedEnv env;
    tarvospeed::TStartLog log;
};

TEST_F(ProxyControl, IniValuesAndListenAddress) {
    write_ini("bin/tarvomonitor", "tarvoproxy");
    write_proxy_ini("127.0.0.1", 28081);
    TQlProxyControl c(env.dir.folder(), log);
    EXPECT_TRUE(c.GetIniData());
    EXPECT_EQ(c.WrapProcess, env.dir.folder() + "bin/tarvomonitor");
    EXPECT_EQ(c.WrapParam, "start x.conf");
    EXPECT_EQ(c.ProxyProcess, "tarvoproxy");
    EXPECT_EQ(c.GrabDelay, 5);
    EXPECT_TRUE(c.GetProxyListen());
    EXPECT_EQ(c.ListenIp, "127.0.0.1");
    EXPECT_EQ(c.ListenPort, 28081);
    write_file(env.dir.file("tarvoproxy.ini"), "[proxy]\nlisten_port=abc\n");
    c.GetProxyListen();
    EXPECT_EQ(c.ListenPort, 0);
}

TEST(ProxyServerText, SplitsHostAndPort) {
    struct Case {
        const char* server;
        const char* host;
        int port;
    } cases[] = {{"10.0.0.1:3128", "10.0.0.1", 3128},
                 {"host", "", 0},
                 {"8080", "", 8080},
                 {"h:x", "h", 0},
                 {"", "", 0}};
    for (const auto& c : cases) {
        tarvospeed::TPROXY p;
        tarvospeed::split_proxy_server(c.server, p);
        EXPECT_EQ(p.Host, c.host) << c.server;
        EXPECT_EQ(p.Port, c.port) << c.server;
        EXPECT_EQ(p.Server, c.server);
    }
}

struct SnapshotCase {
    const char* what;
    bool enabled;
    const char* server;        // the browser's setting at start
    const char* want_lan;      // after the restore
    const char* want_dial;     // the dial-up entry "Dial" after the restore
    const char* want_keyfile;  // a line the desktop setting holds afterwards
};

const SnapshotCase snapshot_cases[] = {
    {"left pointing at our proxy: switched off", true, "127.0.0.1:8080", "0|:0|-", "0|:0|Dial",
     "mode='none'"},
    {"another host and port 3128: put back", true, "10.1.2.3:3128", "1|10.1.2.3:3128|-",
     "1|10.1.2.3:3128|Dial", "port=3128"},
};

TEST_F(ProxyControl, RestorePutsTheSnapshotBack) {
    for (const auto& c : snapshot_cases) {
        SCOPED_TRACE(c.what);
        speed_test::SpeedEnv fresh;
        write_file(fresh.dir.file("tarvoproxy.ini"),
                   "[proxy]\nlisten_ip=127.0.0.1\nlisten_port=8080\n");
        platform::RegKey book;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::current_user,
                                           platform::BROWSER_PHONEBOOK_KEY, book),
                  0);
        book.set_string("Dial", "");
        set_lan(c.enabled, c.server);
        TQlProxyControl ctl(fresh.dir.folder(), log);
        ctl.FormCreate();
        set_lan(true, "127.0.0.1:8080");  // what the monitor did meanwhile
        ctl.ServiceStop();                // no tarvospeed.ini: kills nothing, still restores
        EXPECT_EQ(lan(), c.want_lan);
        EXPECT_EQ(lan("Dial"), c.want_dial);
        if (tarvo_test::desktop_proxy_schema_installed()) {
            EXPECT_NE(fresh.keyfile().find(c.want_keyfile), std::string::npos) << fresh.keyfile();
        }
    }
}

TEST_F(ProxyControl, StopEndsEveryProcessOfTheNames) {
    const std::string proxy = speed_test::SpeedEnv::unique_name("tq");
    const std::string wrap = speed_test::SpeedEnv::unique_name("tw");
    std::filesystem::copy_file("/bin/sleep", env.dir.file(proxy));
    std::filesystem::copy_file("/bin/sleep", env.dir.file(wrap));
    write_ini(wrap, proxy);
    platform::ChildProcess a, b, w;
    ASSERT_EQ(a.start({env.dir.file(proxy), "300"}), 0);
    ASSERT_EQ(b.start({env.dir.file(proxy), "300"}), 0);
    ASSERT_EQ(w.start({env.dir.file(wrap), "300"}), 0);
    // Each child counts once it runs its program, not the test's.
    ASSERT_TRUE(wait_until([&] {
        std::vector<platform::ProcessEntry> list;
        platform::process_list(list);
        int found = 0;
        for (const auto& e : list)
            found += (e.pid == a.pid() || e.pid == b.pid()) && e.exe_name == proxy;
        return found == 2 && TQlProxyControl::ProcessExists(wrap);
    }));
    TQlProxyControl ctl(env.dir.folder(), log);
    ctl.ServiceStop();
    EXPECT_TRUE(wait_until([&] { return !a.running() && !b.running() && !w.running(); }));
    std::vector<std::string> texts;
    for (const auto& e : log.Entries())
        if (e.title == "StopProcesses") texts.push_back(e.text);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "find out proxy wrapper process in processes list. killing...",
                         "after kill the proxy wrapper process.",
                         "find out proxy process in processes list. killing...",
                         "after kill the proxy process."}));
    EXPECT_FALSE(TQlProxyControl::ProcessExists(proxy));
}

TEST_F(ProxyControl, LongNamesAreCutForTheExistenceTest) {
    const std::string name = "tarvo_long_" + speed_test::SpeedEnv::unique_name("n");  // > 15
    ASSERT_GT(name.size(), tarvospeed::PROCESS_NAME_CUT);
    std::filesystem::copy_file("/bin/sleep", env.dir.file(name));
    platform::ChildProcess p;
    ASSERT_EQ(p.start({env.dir.file(name), "300"}), 0);
    // The whole name matches the process's file name only when not cut; the
    // cut name is what the kernel's own name of the process holds.
    std::vector<platform::ProcessEntry> list;
    ASSERT_TRUE(wait_until([&] {
        platform::process_list(list);
        for (const auto& e : list)
            if (e.pid == p.pid() && e.exe_name == name) return true;
        return false;
    }));
    EXPECT_FALSE(TQlProxyControl::ProcessExists(name));
    TQlProxyControl::KillProcesses(name);
    EXPECT_TRUE(wait_until([&] { return !p.running(); }));
}

TEST_F(ProxyControl, EmptyWrapperStartsNothing) {
    write_ini("", "tarvoproxy");
    TQlProxyControl ctl(env.dir.folder(), log);
    ctl.ServiceStart();
    std::vector<std::string> texts;
    for (const auto& e : log.Entries()) texts.push_back(e.title + ":" + e.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ServiceStart:before GetIniData",
                                               "ServiceStart:GetIniData failed."}));
}

// The program itself, copied into a program folder of its own.
class SpeedProgram : public ProxyControl {
  protected:
    void SetUp() override {
        program = tarvo_test::copy_program("tarvospeed", env.dir.path());
        opts.env = {{"TARVO_REGISTRY", env.dir.file("registry.reg")},
                    {"XDG_RUNTIME_DIR", env.dir.str()},
                    {"GSETTINGS_BACKEND", "keyfile"},
                    {"XDG_CONFIG_HOME", env.dir.file("xdg")}};
        opts.stdout_path = env.dir.file("out.txt");
    }
    std::string program;
    platform::ChildOptions opts;
};

TEST_F(SpeedProgram, StopWithoutAnotherInstanceEndsTheHelpers) {
    const std::string proxy = speed_test::SpeedEnv::unique_name("tq");
    std::filesystem::copy_file("/bin/sleep", env.dir.file(proxy));
    write_ini("no-wrapper", proxy);
    set_lan(true, "10.9.9.9:3128");
    platform::ChildProcess p;
    ASSERT_EQ(p.start({env.dir.file(proxy), "300"}), 0);
    ASSERT_TRUE(wait_until([&] { return TQlProxyControl::ProcessExists(proxy); }));
    std::string out;
    ASSERT_EQ(platform::run_program({program, "stop"}, out, 60000, opts), 0);
    EXPECT_TRUE(wait_until([&] { return !p.running(); }));
    EXPECT_EQ(lan(), "1|10.9.9.9:3128|-") << "rewritten from the snapshot";
}

TEST_F(SpeedProgram, StopWhileAnotherInstanceRunsDoesNothing) {
    const std::string proxy = speed_test::SpeedEnv::unique_name("tq");
    std::filesystem::copy_file("/bin/sleep", env.dir.file(proxy));
    write_ini("no-wrapper", proxy);
    platform::ChildProcess running;
    ASSERT_EQ(running.start({program, "--core"}, opts), 0);
    ASSERT_TRUE(wait_until(
        [&] { return read_file(env.dir.file("out.txt")).find("STARTED") != std::string::npos; }));
    platform::ChildProcess p;
    ASSERT_EQ(p.start({env.dir.file(proxy), "300"}), 0);
    ASSERT_TRUE(wait_until([&] { return TQlProxyControl::ProcessExists(proxy); }));
    std::string out;
    platform::ChildOptions o2 = opts;
    o2.stdout_path.clear();
    ASSERT_EQ(platform::run_program({program, "stop"}, out, 60000, o2), 0);
    EXPECT_TRUE(p.running()) << "the second instance ended at once";
    // The running one ends on WM_USER+1 and stops the helpers on its way out.
    ASSERT_EQ(platform::message_post(tarvospeed::HIDDEN_FORM, 1025), 0);
    EXPECT_GE(running.wait(60000), 0);
    EXPECT_TRUE(wait_until([&] { return !p.running(); }));
    EXPECT_NE(read_file(env.dir.file("out.txt")).find("STOPPED"), std::string::npos);
}

}  // namespace

namespace {

// The real monitor and proxy, copied under names of this test's own so that
// ending them by name touches nobody else's.
class RealHelpers : public ProxyControl {
  protected:
    void SetUp() override {
        monitor = speed_test::SpeedEnv::unique_name("tm");
        proxy = speed_test::SpeedEnv::unique_name("tq");
        tarvo_test::copy_program("tarvomonitor", env.dir.path(), monitor);
        tarvo_test::copy_program("tarvoproxy", env.dir.path(), proxy);
        port = platform::free_loopback_port();
        write_file(env.dir.file("tarvospeed.ini"),
                   "[server]\nproxy_wrap_process=" + monitor +
                       "\nproxy_wrap_param=start tarvomonitor.conf\nproxy_process=" + proxy + "\n");
        std::string addr = "127.0.0.1:" + std::to_string(port);
        write_file(env.dir.file("tarvomonitor.conf"),
                   "exec_name=" + proxy + "\nproxy_process=" + proxy +
                       "\np2p_proxy_server=127.0.0.1\np2p_proxy_port=" + std::to_string(port) +
                       "\np2p_proxy_server_port=" + addr + "\ntest_site=" + addr +
                       "\ntest_times=3\nlog_level=LOG_INFO\n");
        write_proxy_ini("127.0.0.1", port);
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::local_machine,
                                           tarvospeed::SETTINGS_REGISTRY_KEY, key),
                  0);
        key.set_string("CachePath", env.dir.folder() + "cache/");
    }
    void TearDown() override {
        // Whatever a failed case left running.
        TQlProxyControl::KillProcesses(monitor);
        TQlProxyControl::KillProcesses(proxy);
    }
    std::string monitor, proxy;
    int port = 0;
};

TEST_F(RealHelpers, ServiceStartRunsThemAndServiceStopEndsThem) {
    set_lan(true, "10.1.1.1:3128");
    TQlProxyControl ctl(env.dir.folder(), log);
    ctl.FormCreate();
    ctl.ServiceStart();
    EXPECT_TRUE(wait_until([&] { return TQlProxyControl::ProcessExists(monitor); },
                           std::chrono::seconds(30)));
    EXPECT_TRUE(wait_until([&] { return TQlProxyControl::ProcessExists(proxy); },
                           std::chrono::seconds(30)));
    const std::string local = "1|127.0.0.1:" + std::to_string(port);
    EXPECT_TRUE(wait_until([&] { return lan().rfind(local, 0) == 0; }, std::chrono::seconds(60)))
        << lan();

    ctl.ServiceStop();
    EXPECT_TRUE(wait_until([&] {
        return !TQlProxyControl::ProcessExists(monitor) && !TQlProxyControl::ProcessExists(proxy);
    }));
    EXPECT_EQ(lan().substr(0, lan().rfind('|')), "1|10.1.1.1:3128");
    bool logged = false;
    for (const auto& e : log.Entries())
        logged |= e.title == "StartProcess" &&
                  e.text == "启动进程: " + env.dir.folder() + monitor + " start tarvomonitor.conf";
    EXPECT_TRUE(logged);
}

}  // namespace
