// After a crash, the dump travels to the logging server: tarvoproxy starts
// tarvologger detached with the dump path, its version and "-u 0" plus the
// built-in logging endpoint (port 8887), and the stand-in server receives the
// file byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "crash_fixture.h"
#include "logsvr.h"

namespace {

// The built-in endpoint has the fixed port 8887, so the server takes an
// address of its own in 127.0.0.0/8.
std::string random_loopback_host() {
    std::random_device rd;
    std::uniform_int_distribution<int> part(1, 254);
    return "127." + std::to_string(part(rd)) + "." + std::to_string(part(rd)) + "." +
           std::to_string(part(rd));
}

class LoggingServer {
  public:
    explicit LoggingServer(const std::string& store) {
        for (int tries = 0; tries < 20 && !listening_; tries++) {
            host_ = random_loopback_host();
            listening_ = svr_.listener.listen(host_, 8887) == 0;
        }
        svr_.store_dir = store + "/";
        std::filesystem::create_directories(store);
        if (!listening_) return;
        thread_ = std::thread([this] {
            logsvr_run(
                svr_, 0, [this] { return stop_.load(); },
                [this](const std::string& line) {
                    std::lock_guard<std::mutex> g(lock_);
                    lines_.push_back(line);
                });
        });
    }
    ~LoggingServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool listening() const { return listening_; }
    const std::string& host() const { return host_; }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> g(lock_);
        return lines_;
    }

  private:
    LOGSVR svr_;
    std::string host_;
    bool listening_ = false;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

TEST(CrashUpload, DumpReachesTheLoggingServerByteForByteBeforeLogin) {
    tarvo_test::TempDir dir;
    tarvo_test::copy_program("tarvologger", dir.path());
    LoggingServer server(dir.file("store"));
    ASSERT_TRUE(server.listening()) << "no free 127.x.y.z:8887";

    crash_test::CrashRun run = crash_test::run_crash(
        dir, "null_write", {{"TARVO_TEST_DEFAULT_LOGSVR_HOST", server.host()}});
    ASSERT_EQ(run.status, 128 + SIGSEGV) << run.console;
    ASSERT_FALSE(run.dump.empty());

    // The uploader outlives the proxy and reports to the server on its own.
    ASSERT_TRUE(
        tarvo_test::wait_until([&] { return !server.lines().empty(); }, std::chrono::seconds(60)))
        << "no upload; uploader log:\n"
        << tarvo_test::read_file(dir.file("tarvologger.log"));
    const std::string size = std::to_string(run.dump.size());
    const std::string expected = "upload uid=0 file=" + dir.file("tarvoproxy.dmp") +
                                 " ver=1.0.0.0 size=" + size + " received=" + size +
                                 " stored=" + dir.file("store/tarvoproxy.dmp") + " ok";
    EXPECT_EQ(server.lines(), std::vector<std::string>{expected});
    EXPECT_EQ(tarvo_test::read_file(dir.file("store/tarvoproxy.dmp")), run.dump);
    // The uploader's own record of the send.
    EXPECT_TRUE(tarvo_test::wait_until([&] {
        return tarvo_test::read_file(dir.file("tarvologger.log"))
                   .find("dump size(" + size + ") == file(") != std::string::npos;
    })) << tarvo_test::read_file(dir.file("tarvologger.log"));
}

}  // namespace
