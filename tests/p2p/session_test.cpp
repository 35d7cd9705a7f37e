// The session's entry points with the proxy's login handler, against the
// stand-in session server (tarvo_sessionsvr) on a loopback address of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "acl_msg.h"
#include "p2p_clock.h"
#include "p2p_resource.h"
#include "p2p_session.h"
#include "service_conf.h"
#include "service_p2p.h"
#include "service_registry.h"
#include "sessionsvr_process.h"
#include "test_support.h"

using namespace std::chrono_literals;

namespace {

std::atomic<std::uint64_t> g_now{5000000};
std::uint64_t test_clock() { return g_now.load(); }

std::atomic<int> g_failed_fetches{0};
std::int64_t on_data_received(const char* data, const P2P_DATA_DELIVERY*) {
    if (data == nullptr) g_failed_fetches++;
    return 0;
}

// The proxy's registration: its login handler and the id read at start.
int register_proxy(const SERVICE_CONF& conf) {
    g_client.callbacks = P2P_SESSION_CALLBACKS{};
    g_client.callbacks.on_login = _p2p_session_onlogin;
    g_client.client_id = conf.client_id.load();
    return p2p_client_register(conf.session_ip.c_str(), conf.session_port);
}

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TARVO_REGISTRY", dir_.file("registry.reg").c_str(), 1);
        ASSERT_TRUE(svr_.ok()) << svr_.output();
        SERVICE_CONF& conf = service_conf();
        conf.session_ip = svr_.ip();
        conf.session_port = svr_.port();
        conf.client_id = 0;
        g_client.login_state = 255;
        g_failed_fetches = 0;
    }
    void TearDown() override {
        Session_Close();
        p2p_set_clock(nullptr);
        acl_debug_end();
        acl_msg_close();
    }

    static std::uint32_t registry_client_id() {
        std::uint32_t id = 0;
        registry_read_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId", &id);
        return id;
    }
    static bool wait_logged_in() {
        return tarvo_test::wait_until([] { return g_client.login_state == 0; }, 20s);
    }

    tarvo_test::TempDir dir_;
    p2p_test::SessionServerProcess svr_{dir_.path()};
};

TEST_F(Session, ClientWithoutIdGetsOneKeepsItInTheRegistryAndLogsInWithItNextTime) {
    SERVICE_CONF& conf = service_conf();
    ASSERT_EQ(register_proxy(conf), 0);
    ASSERT_TRUE(wait_logged_in()) << svr_.output();
    const std::uint32_t id = conf.client_id;
    ASSERT_NE(id, 0u);
    // The handler stores the id first and writes the registry after.
    EXPECT_TRUE(tarvo_test::wait_until([&] { return registry_client_id() == id; }));
    EXPECT_EQ(svr_.count("login", "asked=0 given=" + std::to_string(id)), 1) << svr_.output();
    EXPECT_TRUE(Session_LoggedIn());

    // The next start reads the id back and logs in with it.
    Session_Close();
    ASSERT_TRUE(svr_.wait_for("logout", "id=" + std::to_string(id)));
    conf.client_id = 0;
    g_client.login_state = 255;
    std::uint32_t stored = 0;
    ASSERT_EQ(registry_read_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId",
                                &stored),
              0);
    conf.client_id = stored;
    ASSERT_EQ(register_proxy(conf), 0);
    ASSERT_TRUE(wait_logged_in());
    EXPECT_EQ(conf.client_id, id);
    EXPECT_EQ(Session_ClientId(), id);
    EXPECT_TRUE(
        svr_.wait_for("login", "asked=" + std::to_string(id) + " given=" + std::to_string(id)));
}

TEST_F(Session, SecondInitKeepsTheFirstServer) {
    ASSERT_EQ(Init_Session(svr_.ip().c_str(), svr_.port(), nullptr), 0);
    ASSERT_EQ(Init_Session("127.0.0.1", 9, nullptr), 0);
    Session_Login(0);
    EXPECT_TRUE(svr_.wait_for("login", "asked=0"));
}

TEST_F(Session, StandInGoneTheLoginLapsesAndComesBackWhenItIsBack) {
    const std::string log = dir_.file("p2p.log");
    acl_msg_open(log.c_str(), "log");
    acl_debug_init("74:4");
    p2p_set_clock(test_clock);
    SERVICE_CONF& conf = service_conf();
    ASSERT_EQ(register_proxy(conf), 0);
    ASSERT_TRUE(wait_logged_in());
    const std::uint32_t id = conf.client_id;

    svr_.stop();
    const std::uint64_t t0 = g_now.load();
    auto count = [&](const std::string& what) {
        std::string text = tarvo_test::read_file(log);
        int n = 0;
        for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
            n++;
        return n;
    };
    g_now = t0 + 30000;
    ASSERT_TRUE(tarvo_test::wait_until([&] { return count("send keepalive ") >= 1; }));
    g_now = t0 + 180001;
    ASSERT_TRUE(tarvo_test::wait_until([&] {
        return g_client.login_state == P2P_LOGIN_STATE_LAPSED;
    })) << tarvo_test::read_file(log);
    EXPECT_FALSE(Session_LoggedIn());

    // Re-login every 6 s while nobody answers.
    const int logins = count("send packet cmd = 0 ");
    for (int i = 1; i <= 3; i++) {
        g_now = t0 + 180001 + 6000 * i;
        ASSERT_TRUE(tarvo_test::wait_until([&] {
            return count("send packet cmd = 0 ") >= logins + i;
        })) << "re-login "
            << i;
    }
    EXPECT_EQ(g_client.login_state, P2P_LOGIN_STATE_LAPSED);

    ASSERT_TRUE(svr_.start()) << svr_.output();
    g_now = t0 + 180001 + 6000 * 4;
    ASSERT_TRUE(wait_logged_in()) << tarvo_test::read_file(log) << svr_.output();
    EXPECT_EQ(conf.client_id, id);
    EXPECT_TRUE(svr_.wait_for("login", "asked=" + std::to_string(id)));
    std::string text = tarvo_test::read_file(log);
    EXPECT_NE(text.find("OnLoginReply state = 0"), std::string::npos);
    EXPECT_NE(text.find("nat address is 127.0.0.1:"), std::string::npos);
}

TEST_F(Session, FetchAnswersForASessionWithoutPeers) {
    P2P_SESSION_CALLBACKS cb{};
    cb.on_data_received = on_data_received;
    cb.on_login = _p2p_session_onlogin;
    ASSERT_EQ(Init_Session(svr_.ip().c_str(), svr_.port(), &cb), 0);
    P2P_DATA_REQUEST req{111, 0, 1000};
    EXPECT_EQ(Session_GetRcData(111, &req), -1) << "logged out";
    EXPECT_EQ(g_failed_fetches, 0);

    Session_Login(0);
    ASSERT_TRUE(wait_logged_in());
    const std::string me = "id=" + std::to_string(service_conf().client_id.load());

    // Nobody holds 111: the server's status fails the fetch.
    EXPECT_EQ(Session_GetRcData(111, &req), 0);
    ASSERT_TRUE(svr_.wait_for("query", "rid=111 holders=0"));
    ASSERT_TRUE(tarvo_test::wait_until([] { return g_failed_fetches == 1; }));
    EXPECT_EQ(Session_GetRcData(111, &req), -1);
    EXPECT_EQ(g_failed_fetches, 2);

    // Only this client holds 222: the answer names it, and it is left out.
    EXPECT_EQ(Session_ModifyRc(222, 1), 0);
    ASSERT_TRUE(svr_.wait_for("add", me + " cmd=4 sub=3"));
    P2P_DATA_REQUEST req2{222, 0, 500};
    EXPECT_EQ(Session_GetRcData(222, &req2), 0);
    ASSERT_TRUE(svr_.wait_for("query", "rid=222 holders=1"));
    ASSERT_TRUE(svr_.wait_for("ack", me + " cmd=2"));  // the answer reached the client
    int result = 0;
    ASSERT_TRUE(tarvo_test::wait_until([&] {
        result = Session_GetRcData(222, &req2);
        return result == -1;
    }));
    EXPECT_EQ(g_failed_fetches, 3);

    EXPECT_EQ(Session_ModifyRc(222, 0), 0);
    EXPECT_TRUE(svr_.wait_for("remove", "rid=222"));
}

}  // namespace
