// tarvoproxy logs in to the session server at start-up: against the stand-in,
// and against an address where nothing answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "named_pipe.h"
#include "p2p_wire.h"
#include "platform/blocking_tcp.h"
#include "platform/child_process.h"
#include "platform/registry.h"
#include "platform/udp.h"
#include "sessionsvr_process.h"
#include "test_support.h"

using namespace std::chrono_literals;

namespace {

class ProxySession : public ::testing::Test {
  protected:
    void SetUp() override { program_ = tarvo_test::copy_program("tarvoproxy", dir_.str()); }

    void start(const std::string& session_ip, int session_port, const std::string& extra_ini = "") {
        tarvo_test::write_file(dir_.file("tarvoproxy.ini"),
                               "[debug]\ndebug_level=50:2;73:2;74:4\n[proxy]\nlisten_ip=127.0.0.1\n"
                               "listen_port=" +
                                   std::to_string(platform::free_loopback_port()) +
                                   "\n[server]\nsession_ip=" + session_ip +
                                   "\nsession_port=" + std::to_string(session_port) +
                                   "\nlogsvr_ip=127.0.0.1\nlogsvr_port=8887\n" + extra_ini);
        platform::ChildOptions o;
        o.cwd = dir_.str();
        o.env = {{"TARVO_REGISTRY", dir_.file("registry.reg")}, {"XDG_RUNTIME_DIR", dir_.str()}};
        o.stdout_path = o.stderr_path = dir_.file("console.txt");
        ASSERT_EQ(proxy_.start({program_}, o), 0);
    }
    std::string log() const { return tarvo_test::read_file(dir_.file("tarvoproxy.log")); }
    bool log_has(const std::string& text) {
        return tarvo_test::wait_until([&] { return log().find(text) != std::string::npos; }, 30s);
    }
    platform::RegValue registry_value(const char* name) {
        ::setenv("TARVO_REGISTRY", dir_.file("registry.reg").c_str(), 1);
        platform::RegKey key;
        platform::RegValue v;
        if (platform::RegKey::open(platform::RegRoot::local_machine,
                                   "Software\\Quorlen\\Productions\\06", key) == 0)
            key.query(name, v);
        return v;
    }
    std::uint32_t registry_client_id() { return registry_value("ClientId").dword; }

    tarvo_test::TempDir dir_;
    std::string program_;
    platform::ChildProcess proxy_;
};

TEST_F(ProxySession, LogsInAtStartUpAndTheNextStartKeepsTheId) {
    p2p_test::SessionServerProcess svr(dir_.path());
    ASSERT_TRUE(svr.ok());
    start(svr.ip(), svr.port());
    ASSERT_TRUE(svr.wait_for("login", "asked=0")) << svr.output() << log();
    ASSERT_TRUE(log_has("login callback. client id is ")) << log();
    ASSERT_TRUE(tarvo_test::wait_until([&] { return registry_client_id() != 0; }));
    const std::uint32_t id = registry_client_id();
    // The uploader arguments waited for the id.
    EXPECT_TRUE(log_has("wakeup, get uid=" + std::to_string(id))) << log();

    proxy_.stop();
    start(svr.ip(), svr.port());
    EXPECT_TRUE(
        svr.wait_for("login", "asked=" + std::to_string(id) + " given=" + std::to_string(id)))
        << svr.output();
    EXPECT_TRUE(log_has("listen on addr=127.0.0.1:")) << log();
    EXPECT_NE(log().find("uid=" + std::to_string(id)), std::string::npos);
    EXPECT_TRUE(proxy_.running());
}

TEST_F(ProxySession, NobodyAnsweringTheProxyRunsOnAndKeepsLoggingIn) {
    // A socket that hears the logins and never answers them.
    platform::UdpSocket silent;
    p2p_test::LoopbackEndpoint ep;
    for (int i = 0; i < 10; i++) {
        ep = p2p_test::random_loopback_endpoint();
        platform::UdpAddr a;
        platform::ipv4_parse(ep.ip.c_str(), &a.ip);
        a.port = static_cast<std::uint16_t>(ep.port);
        if (silent.open() == 0 && silent.bind(a) == 0) break;
        silent.close();
    }
    ASSERT_TRUE(silent.valid());
    start(ep.ip, ep.port);

    std::set<std::uint32_t> tokens;  // each login draws a new one
    int datagrams = 0;
    std::string buf(2048, '\0');
    const bool retried = tarvo_test::wait_until(
        [&] {
            while (silent.wait_readable(0) > 0) {
                long n = silent.recv(buf.data(), buf.size());
                P2pReader r(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
                P2P_HEADER h;
                if (p2p_header_read(r, &h) == 0 && h.cmd() == P2P_CMD_LOGIN) {
                    tokens.insert(h.token);
                    datagrams++;
                }
            }
            return tokens.size() >= 2;
        },
        30s);
    EXPECT_TRUE(retried) << "login datagrams: " << datagrams << "\n" << log();
    EXPECT_GE(datagrams, 3);  // the first login is also resent before the next one
    EXPECT_TRUE(proxy_.running());
    EXPECT_TRUE(log_has("listen on addr=127.0.0.1:"));
}

TEST_F(ProxySession, StartUpLoadsTheListReachesTheDesktopAndWithdrawsADeletedVideo) {
    p2p_test::SessionServerProcess svr(dir_.path());
    ASSERT_TRUE(svr.ok());
    // A video stored by an earlier run.
    const std::string video = dir_.folder() + "cache/77.flv";
    std::filesystem::create_directories(dir_.folder() + "cache");
    tarvo_test::write_file(video, tarvo_test::pattern_bytes(2000, 5));
    std::string rec = "4D";
    rec.resize(16, '\0');
    rec += std::string("\xd0\x07\0\0", 4);
    rec.push_back(static_cast<char>(video.size()));
    rec.push_back(0);
    tarvo_test::write_file(dir_.file("res_list.dat"), rec + video);

    // The desktop side first, as the desktop program starts before the proxy.
    ::setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
    NAMED_PIPE desktop;
    ASSERT_EQ(_pipe_initial(&desktop, true, ".", "P2P_CLIENT_PIPE", "STP"), 0);
    start(svr.ip(), svr.port());
    ASSERT_TRUE(log_has("connect to pipe_out(\\\\.\\PIPE\\P2P_CLIENT_PIPE_in) success!")) << log();
    ASSERT_TRUE(svr.wait_for("login", "asked=0"));
    ASSERT_TRUE(tarvo_test::wait_until([&] { return registry_client_id() != 0; }));
    const std::string me = "id=" + std::to_string(registry_client_id()) + " ";
    // The video is listed: the server learns of it only from a new add, so
    // announce nothing here; withdrawing it reaches the server.
    std::string del = "DELRES_PATH=" + video;
    del.push_back('\0');
    ASSERT_EQ(named_pipe_send(&desktop, del.data(), static_cast<int>(del.size())), 0);
    EXPECT_TRUE(log_has("deleted resource(77)")) << log();
    EXPECT_TRUE(tarvo_test::wait_until(
        [&] { return tarvo_test::read_file(dir_.file("res_list.dat")).empty(); }));
    EXPECT_TRUE(svr.wait_for("remove", me + "cmd=4 sub=2"));
    // The disk-space job keeps the quota left in the registry.
    EXPECT_TRUE(tarvo_test::wait_until(
        [&] { return registry_value("SpaceUsed").type == platform::RegType::string; }, 30s));
    EXPECT_TRUE(proxy_.running());
}

}  // namespace
