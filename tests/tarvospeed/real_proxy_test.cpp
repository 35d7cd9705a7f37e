// The desktop core against a real tarvoproxy on the pipe pair: a deleted
// video leaves the proxy's "res_list.dat", and either side restarting finds
// the other again.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/blocking_tcp.h"
#include "platform/registry.h"
#include "speed/speed_core.h"
#include "speed_fixture.h"

using namespace std::chrono_literals;

namespace {

using tarvo_test::read_file;
using tarvo_test::wait_until;
using tarvo_test::write_file;

class RealProxyPipe : public ::testing::Test {
  protected:
    void SetUp() override {
        program = tarvo_test::copy_program("tarvoproxy", env.dir.path());
        cache = env.make_cache();
        ASSERT_FALSE(cache.empty());
        // Nobody answers at the session address: the proxy runs on without.
        write_file(env.dir.file("tarvoproxy.ini"),
                   "[proxy]\nlisten_ip=127.0.0.1\nlisten_port=" +
                       std::to_string(platform::free_loopback_port()) +
                       "\n[server]\nsession_ip=127.0.0.1\nsession_port=" +
                       std::to_string(platform::free_loopback_port()) +
                       "\nlogsvr_ip=127.0.0.1\nlogsvr_port=8887\n");
    }

    // A video stored by an earlier run, listed in "res_list.dat" (id 77).
    std::string list_video(const char* id_hex, const std::string& name) {
        const std::string video = cache + name;
        write_file(video, tarvo_test::pattern_bytes(2000, 5));
        std::string rec = id_hex;
        rec.resize(16, '\0');
        rec += std::string("\xd0\x07\0\0", 4);
        rec.push_back(static_cast<char>(video.size()));
        rec.push_back(0);
        records += rec + video;
        write_file(env.dir.file("res_list.dat"), records);
        return video;
    }

    void start_core() {
        core = std::make_unique<tarvospeed::TSpeedCore>(env.dir.folder());
        ASSERT_EQ(core->Create(), 0);
        core->StartAcceleration();  // no tarvospeed.ini: the listener only
    }

    void start_proxy() {
        platform::ChildOptions o;
        o.cwd = env.dir.str();
        o.env = {{"TARVO_REGISTRY", env.dir.file("registry.reg")},
                 {"XDG_RUNTIME_DIR", env.dir.str()}};
        o.stdout_path = o.stderr_path = env.dir.file("console.txt");
        ASSERT_EQ(proxy.start({program}, o), 0);
    }

    std::string log() const { return read_file(env.dir.file("tarvoproxy.log")); }
    bool log_count(const std::string& text, int n) {
        return wait_until(
            [&] {
                std::string l = log();
                int c = 0;
                for (std::size_t at = l.find(text); at != std::string::npos;
                     at = l.find(text, at + 1))
                    ++c;
                return c >= n;
            },
            30s);
    }

    speed_test::SpeedEnv env;
    std::string program, cache, records;
    std::unique_ptr<tarvospeed::TSpeedCore> core;
    platform::ChildProcess proxy;
};

const char* const kConnected = "connect to pipe_out(\\\\.\\PIPE\\P2P_CLIENT_PIPE_in) success!";

TEST_F(RealProxyPipe, DeletedVideoLeavesTheProxysList) {
    const std::string video = list_video("4D", "77.flv");
    start_core();
    start_proxy();
    ASSERT_TRUE(log_count(kConnected, 1)) << log();
    EXPECT_EQ(core->DeleteFromDisk({video}), 1);
    EXPECT_TRUE(log_count("deleted resource(77)", 1)) << log();
    EXPECT_TRUE(wait_until([&] { return read_file(env.dir.file("res_list.dat")).empty(); }, 30s));
    EXPECT_FALSE(std::filesystem::exists(video));
    EXPECT_TRUE(proxy.running());
}

TEST_F(RealProxyPipe, ProxyRestartingWhileTheCoreRuns) {
    list_video("4D", "77.flv");
    const std::string b = list_video("4E", "78.flv");
    start_core();
    start_proxy();
    ASSERT_TRUE(log_count(kConnected, 1)) << log();
    proxy.stop();
    // The restarted proxy opens the pipes of the running desktop again.
    start_proxy();
    ASSERT_TRUE(log_count(kConnected, 2)) << log();
    EXPECT_EQ(core->DeleteFromDisk({b}), 1);
    EXPECT_TRUE(log_count("deleted resource(78)", 1)) << log();
}

TEST_F(RealProxyPipe, CoreRestartingWhileTheProxyRuns) {
    const std::string video = list_video("4D", "77.flv");
    start_core();
    start_proxy();
    ASSERT_TRUE(log_count(kConnected, 1)) << log();
    core.reset();  // the desktop program ends
    start_core();
    // The proxy's reader reopens once a second after its reads fail; a "DEL"
    // sent before it holds the new pipes is lost, as any message to a broken
    // channel is, so the deletion is repeated until the proxy hears one.
    ASSERT_TRUE(log_count(kConnected, 2)) << log();
    EXPECT_TRUE(wait_until(
        [&] {
            if (!std::filesystem::exists(video)) write_file(video, "again");
            core->DeleteFromDisk({video});
            return wait_until(
                [&] { return log().find("deleted resource(77)") != std::string::npos; }, 1s);
        },
        60s))
        << log();
}

}  // namespace
