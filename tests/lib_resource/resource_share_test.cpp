// Sharing a stored video: the stand-in session server hears the announcement
// and the withdrawal, res_list.dat holds the record, the desktop side gets
// "RDY", a "DEL" removes it, and peers' requests are served from the file.
#include <filesystem>

#include "desktop_side.h"
#include "localres_protocal.h"
#include "resource_fixture.h"
#include "service_p2p.h"
#include "sessionsvr_process.h"

using namespace std::chrono_literals;
using resource_test::DesktopSide;
using resource_test::ProxyReader;
using resource_test::read_list_file;

namespace {

class ResourceShare : public resource_test::ResourceFixture {
  protected:
    void SetUp() override {
        ResourceFixture::SetUp();
        ASSERT_TRUE(svr_.ok()) << svr_.output();
        g_client.callbacks.on_login = _p2p_session_onlogin;
        ASSERT_EQ(p2p_client_register(svr_.ip().c_str(), svr_.port()), 0);
    }
    void log_in() {
        ASSERT_TRUE(tarvo_test::wait_until([] { return g_client.login_state == 0; }, 20s))
            << svr_.output();
        me_ = "id=" + std::to_string(g_client.client_id.load()) + " ";
    }
    std::vector<resource_test::Record> records() {
        bool ok = false;
        auto r = read_list_file(list_file(), &ok);
        EXPECT_TRUE(ok);
        return r;
    }

    p2p_test::SessionServerProcess svr_{dir_.path()};
    std::string me_;
};

TEST_F(ResourceShare, AddBeforeLoginChangesNothing) {
    // The stand-in answers at once: stop it first, so the login never comes.
    svr_.stop();
    Session_Close();
    g_client.login_state = 255;
    ASSERT_EQ(p2p_client_register(svr_.ip().c_str(), svr_.port()), 0);
    const std::string path = cache_file("1.flv", 100);
    EXPECT_EQ(resource_add(1, path.c_str(), "title", 100), -1);
    EXPECT_FALSE(std::filesystem::exists(list_file()));
    EXPECT_EQ(resource_count(), 0);
    EXPECT_EQ(svr_.count("add"), 0);
}

TEST_F(ResourceShare, PathsTheFileCannotHoldAreRefused) {
    log_in();
    EXPECT_EQ(resource_add(5, "", "c", 1), -1);
    EXPECT_EQ(resource_add(5, ("/" + std::string(260, 'p')).c_str(), "c", 1), -1);
    EXPECT_EQ(resource_count(), 0);
    EXPECT_FALSE(std::filesystem::exists(list_file()));
}

TEST_F(ResourceShare, AddIsAnnouncedSavedAndReportedToTheDesktop) {
    log_in();
    DesktopSide desktop;
    ASSERT_TRUE(desktop.ok());
    ProxyReader reader(&desktop);
    // Wait for the reader to hold both pipes: a message sent before would be lost.
    ASSERT_TRUE(resource_test::proxy_pipe_open());

    const std::string path = cache_file("video one \xb2\xe2.flv", 5000);
    const std::string caption = "A caption \xd6\xd0\xce\xc4";
    const std::uint64_t id = 0x1234ABCDULL;
    std::string expected = "RDYPATH=" + path + "\r\nCAPTION=" + caption + "\r\n";
    expected.push_back('\0');
    ASSERT_EQ(resource_add(id, path.c_str(), caption.c_str(), 5000), 0);
    EXPECT_EQ(desktop.read_bytes(expected.size()), expected);
    EXPECT_TRUE(svr_.wait_for("add", me_ + "cmd=4 sub=3"));
    EXPECT_TRUE(svr_.wait_for("add", "rid=" + std::to_string(id)));
    auto r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].key, "1234ABCD");
    EXPECT_EQ(r[0].path, path);
    EXPECT_EQ(r[0].size, 5000u);

    // The desktop program deleted it.
    ASSERT_EQ(desktop.send(std::string("DELRES_PATH=") + path + std::string(1, '\0')), 0);
    ASSERT_TRUE(tarvo_test::wait_until([] { return resource_count() == 0; }));
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(svr_.wait_for("remove", "rid=" + std::to_string(id)));
    EXPECT_FALSE(reader.done());
}

TEST_F(ResourceShare, DeleteMessages) {
    log_in();
    const std::string path = cache_file("Clip.FLV", 10);
    struct Case {
        const char* name;
        std::string message;
        bool removed;
        bool reader_ends;
    };
    const std::string dir = cache();
    const Case cases[] = {
        {"lower case command and key", "delres_path=" + path, true, false},
        {"other letter case of the path", "DELRES_PATH=" + dir + "clip.flv", true, false},
        {"doubled separator before the name", "DELRES_PATH=" + dir + "/Clip.FLV", true, false},
        {"no match", "DELRES_PATH=" + dir + "other.flv", false, false},
        {"extra and empty items", "DELsome=thing&&RES_PATH=" + path + "&", true, false},
        {"SPX with parameters is not a delete", "SPXa=b", false, false},
        {"empty value", "DELRES_PATH=", false, true},
        {"STP", "STP", false, true},
    };
    for (const Case& c : cases) {
        {
            std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
            if (resource_count() == 0)
                ASSERT_EQ(resource_add(77, path.c_str(), "c", 10), 0) << c.name;
        }
        std::string m = c.message;
        m.push_back('\0');
        int ret;
        if (c.message.compare(0, 3, "SPX") == 0) {
            // SPX closes the sharing side; parse only its parameters here.
            auto table = __build_proto_htable("a=b", "&", "=");
            EXPECT_EQ(table.size(), 1u);
            continue;
        }
        ret = proto_parser(g_client.pipe, m.data(), static_cast<int>(m.size()), nullptr);
        EXPECT_EQ(ret < 0, c.reader_ends) << c.name;
        EXPECT_EQ(resource_count() == 0, c.removed) << c.name;
    }
}

TEST_F(ResourceShare, PeerRequestsAreServedFromTheFileAndAGoneFileIsWithdrawn) {
    log_in();
    const std::string data = tarvo_test::pattern_bytes(300000, 9);
    const std::string path = cache() + "42.flv";
    tarvo_test::write_file(path, data);
    ASSERT_EQ(resource_add(42, path.c_str(), "t", data.size()), 0);

    char buf[P2P_HANDLER_BUF_SIZE];
    P2P_DATA_REQUEST req{42, 123456, 1000};
    ASSERT_EQ(_p2p_get_from_localrc(&req, buf, sizeof(buf)), 1000);
    EXPECT_EQ(std::string(buf, 1000), data.substr(123456, 1000));
    P2P_DATA_REQUEST too_long{42, 0, 4096};  // more than the buffer holds
    EXPECT_EQ(_p2p_get_from_localrc(&too_long, buf, sizeof(buf)), 0);
    P2P_DATA_REQUEST past_end{42, data.size() - 10, 100};
    EXPECT_EQ(_p2p_get_from_localrc(&past_end, buf, sizeof(buf)), -1);

    std::filesystem::remove(path);
    EXPECT_EQ(_p2p_get_from_localrc(&req, buf, sizeof(buf)), 0);
    EXPECT_EQ(resource_count(), 0);
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(svr_.wait_for("remove", "rid=42"));
}

}  // namespace

namespace {

TEST_F(ResourceShare, ProxyBeforeTheDesktopRunsOnWithoutReporting) {
    log_in();
    resource_test::ProxyReader reader(nullptr);
    ASSERT_TRUE(tarvo_test::wait_until([&] { return reader.done(); }));
    EXPECT_EQ(reader.result(), -1);
    EXPECT_FALSE(g_client.pipe_ready.load());
    const std::string path = cache_file("9.flv", 10);
    EXPECT_EQ(resource_add(9, path.c_str(), "c", 10), 0);  // listed, just not reported
    EXPECT_EQ(resource_count(), 1);
}

TEST(LocalResProtocol, LongMessagesAreCutNeverOverflowed) {
    // The longest read the channel delivers, without a NUL.
    std::string msg = "DELRES_PATH=/nowhere/" + std::string(1024 - 21, 'p');
    ASSERT_EQ(msg.size(), 1024u);
    EXPECT_EQ(proto_parser(nullptr, msg.data(), static_cast<int>(msg.size()), nullptr), 0);
    EXPECT_EQ(proto_parser(nullptr, "DE", 2, nullptr), -1);  // no command

    std::string ready;
    local_res_ready_build("/cache/1.flv", std::string(3000, 'c').c_str(), ready);
    EXPECT_EQ(ready.size(), 1024u);
    EXPECT_EQ(ready.back(), '\0');
    EXPECT_EQ(ready.compare(0, 20, "RDYPATH=/cache/1.flv"), 0);
    EXPECT_EQ(ready.substr(ready.size() - 3), std::string("\r\n", 2) + '\0');
    local_res_ready_build(("/" + std::string(2000, 'p')).c_str(), "cap", ready);
    EXPECT_EQ(ready.size(), 1024u);
}

}  // namespace
