// The desktop end of the pipe channel, with the test playing the proxy's end
// (the client role of the same channel, as the proxy opens it).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/message_endpoint.h"
#include "platform/registry.h"
#include "speed/speed_core.h"
#include "speed_fixture.h"

namespace {

using speed_test::ProxyEnd;
using tarvo_test::read_file;
using tarvo_test::wait_until;
using tarvospeed::TSpeedCore;

class SpeedPipe : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = env.make_cache();
        ASSERT_FALSE(cache.empty());
        start_core();
    }

    void start_core() {
        core = std::make_unique<TSpeedCore>(env.dir.folder());
        ASSERT_EQ(core->Create(), 0);
        core->OnVideoReady = [this](const std::string& header, const std::string& text,
                                    tarvospeed::TVideoItem& v) {
            alerts.push_back(header + "|" + text);
            ready.push_back(v.Title + "|" + v.Path);
        };
        core->StartAcceleration();
    }

    // The proxy's end opens once the desktop's pipes exist.
    void open_proxy(ProxyEnd& proxy) {
        ASSERT_TRUE(wait_until([&] { return proxy.open() == 0; }));
    }

    void send(ProxyEnd& proxy, const std::string& text) {
        ASSERT_EQ(proxy.send(text.c_str(), text.size() + 1), 0);
    }

    bool wait_ready(std::size_t n) {
        return wait_until([&] {
            core->ProcessMessages(20);
            return ready.size() >= n;
        });
    }

    static void write_file_for(const std::string& path) { tarvo_test::write_file(path, "FLV"); }

    std::string read_message(ProxyEnd& proxy) {
        char buf[platform::PIPE_MESSAGE_MAX];
        long n = proxy.read(buf, sizeof buf, 10000);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    }

    speed_test::SpeedEnv env;
    std::string cache;
    std::unique_ptr<TSpeedCore> core;
    std::vector<std::string> ready, alerts;
};

TEST_F(SpeedPipe, ReadyVideoJoinsTheLibraryWithItsGbkCaption) {
    ASSERT_TRUE(speed_test::make_video(cache + "1234.flv", 4));
    ProxyEnd proxy;
    open_proxy(proxy);
    // "测试视频" in GBK, as the proxy captures page titles.
    send(proxy, "RDYPATH=" + cache + "1234.flv\r\nCAPTION=\xb2\xe2\xca\xd4\xca\xd3\xc6\xb5\r\n");
    ASSERT_TRUE(wait_ready(1));
    EXPECT_EQ(ready[0], "测试视频|" + cache + "1234.flv");
    EXPECT_EQ(alerts[0],
              "视频下载完毕!|\r\n视频名称:  测试视频\r\n视频已经保存到:  " + cache + "1234.flv");
    tarvospeed::TVideoItem* v = core->Manager->Videos.FindByPath(cache + "1234.flv");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->GrabPath, cache + "bmp/1234.bmp");
    EXPECT_TRUE(std::filesystem::exists(v->GrabPath));
    EXPECT_GT(v->Size, 0);
    // "videos.xml" holds it, in GB2312.
    EXPECT_NE(read_file(core->VideosFile()).find("\xb2\xe2\xca\xd4\xca\xd3\xc6\xb5"),
              std::string::npos);

    // The same video again is not listed twice; an empty caption is "未命名";
    // the command's letters ignore case; "RDY" without parameters posts nothing.
    write_file_for(cache + "5678.flv");
    // Sent together, they may come in one read: each is handled.
    send(proxy, "RDYPATH=" + cache + "1234.flv\r\nCAPTION=again\r\n");
    send(proxy, "RDY");
    send(proxy, "rdyPATH=" + cache + "5678.flv\r\nCAPTION=\r\n");
    ASSERT_TRUE(wait_ready(3));
    EXPECT_EQ(core->Manager->Videos.Count(), 2u);
    EXPECT_EQ(ready[2], "未命名|" + cache + "5678.flv");
}

TEST_F(SpeedPipe, DeleteFromDiskSendsOneDelPerFile) {
    write_file_for(cache + "a.flv");
    write_file_for(cache + "b c.flv");
    ProxyEnd proxy;
    open_proxy(proxy);
    send(proxy, "RDYPATH=" + cache + "a.flv\r\nCAPTION=a\r\n");
    ASSERT_TRUE(wait_ready(1));
    EXPECT_EQ(core->DeleteFromDisk({cache + "a.flv", cache + "b c.flv", cache + "none.flv"}), 2);
    std::string got;
    ASSERT_TRUE(wait_until([&] {
        got += read_message(proxy);
        return got.size() >= 2 * 13 + (cache + "a.flv").size() + (cache + "b c.flv").size();
    }));
    EXPECT_EQ(got, "DELRES_PATH=" + cache + "a.flv" + std::string(1, '\0') +
                       "DELRES_PATH=" + cache + "b c.flv" + std::string(1, '\0'));
    EXPECT_FALSE(std::filesystem::exists(cache + "a.flv"));
    EXPECT_EQ(core->Manager->Videos.Count(), 0u);
    EXPECT_EQ(read_file(core->VideosFile()).find("a.flv"), std::string::npos);
}

TEST_F(SpeedPipe, ProxyRestartingReachesTheRunningDesktop) {
    write_file_for(cache + "a.flv");
    write_file_for(cache + "b.flv");
    {
        ProxyEnd proxy;
        open_proxy(proxy);
        send(proxy, "RDYPATH=" + cache + "a.flv\r\nCAPTION=a\r\n");
        ASSERT_TRUE(wait_ready(1));
    }
    ProxyEnd restarted;
    open_proxy(restarted);
    send(restarted, "RDYPATH=" + cache + "b.flv\r\nCAPTION=b\r\n");
    ASSERT_TRUE(wait_ready(2));
    EXPECT_EQ(ready[1], "b|" + cache + "b.flv");
}

TEST_F(SpeedPipe, DesktopRestartingIsFoundByTheProxysReopen) {
    write_file_for(cache + "a.flv");
    ProxyEnd proxy;
    open_proxy(proxy);
    core.reset();  // the desktop program ends: its pipes go
    char buf[64];
    EXPECT_TRUE(wait_until([&] { return proxy.read(buf, sizeof buf, 100) == -1; }))
        << "a gone desktop is a failed read";
    ready.clear();
    start_core();
    // The proxy's reader reopens after each failed read, once a second.
    open_proxy(proxy);
    send(proxy, "RDYPATH=" + cache + "a.flv\r\nCAPTION=a\r\n");
    ASSERT_TRUE(wait_ready(1));
}

TEST_F(SpeedPipe, StopWordEndsTheListener) {
    write_file_for(cache + "a.flv");
    ProxyEnd proxy;
    open_proxy(proxy);
    send(proxy, "STP");
    ASSERT_TRUE(wait_until([&] { return core->Pipe()->Terminated(); }));
    proxy.send("RDYPATH=x\r\n", 12);  // may fail: nobody reads any more
    core->ProcessMessages(50);
    EXPECT_TRUE(ready.empty());
}

TEST_F(SpeedPipe, ExitMessagesEndTheProgram) {
    struct Case {
        const char* what;
        std::function<void(ProxyEnd&)> send;
        const char* log_title;  // an entry the path leaves in the start-up log
    };
    const Case cases[] = {
        {"CXT from the proxy", [this](ProxyEnd& p) { send(p, "CXT"); }, "ServiceStop"},
        {"WM_USER+5 to the main window",
         [](ProxyEnd&) { platform::message_post(tarvospeed::MAIN_FORM, 1029); }, "ServiceStop"},
        {"WM_USER+1 to the hidden form",
         [](ProxyEnd&) { platform::message_post(tarvospeed::HIDDEN_FORM, 1025); }, "OnMyMessage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        core.reset();
        start_core();
        ProxyEnd proxy;
        open_proxy(proxy);
        core->Log.Clear();
        c.send(proxy);
        EXPECT_TRUE(wait_until([&] { return !core->ProcessMessages(20); }));
        bool found = false;
        for (const auto& e : core->Log.Entries()) found |= e.title == c.log_title;
        EXPECT_TRUE(found);
    }
}

}  // namespace
