// After a crash, the dump travels to the logging server: tarvoproxy starts
// tarvologger detached with the dump path and its version, and the stand-in
// server receives the file byte for byte. Before the first login the
// uploader gets "-u 0" and the built-in endpoint (port 8887); after it, the
// client id and the configured logging server.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
#include <thread>
#include <vector>

#include "crash_fixture.h"
#include "logsvr.h"
#include "sessionsvr_process.h"

namespace {

// The built-in endpoint has the fixed port 8887, so the server takes an
// address of its own in 127.0.0.0/8.
std::string random_loopback_host() {
    std::random_device rd;
    std::uniform_int_distribution<int> part(1, 254);
    return "127." + std::to_string(part(rd)) + "." + std::to_string(part(rd)) + "." +
           std::to_string(part(rd));
}

// tools/logsvr on a thread of the test: on 127.0.0.1 and a free port, or,
// with `fixed_port`, on that port of a random loopback address.
class LoggingServer {
  public:
    explicit LoggingServer(const std::string& store, int fixed_port = 0) {
        for (int tries = 0; tries < 20 && !listening_; tries++) {
            host_ = fixed_port != 0 ? random_loopback_host() : "127.0.0.1";
            listening_ = svr_.listener.listen(host_, fixed_port) == 0;
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
    std::string addr() const { return host_ + ":" + std::to_string(svr_.listener.port()); }
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
    LoggingServer server(dir.file("store"), 8887);
    ASSERT_TRUE(server.listening()) << "no free 127.x.y.z:8887";

    crash_test::CrashOptions opts;
    opts.env = {{"TARVO_TEST_DEFAULT_LOGSVR_HOST", server.host()}};
    // No session server answers there, so no login ever happens.
    opts.ini = "[server]\nsession_ip=127.0.0.1\nsession_port=1\n";
    crash_test::CrashRun run = crash_test::run_crash(dir, "null_write", opts);
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

TEST(CrashUpload, AfterLoginCarriesTheClientIdToTheConfiguredServer) {
    tarvo_test::TempDir dir;
    tarvo_test::copy_program("tarvologger", dir.path());
    p2p_test::SessionServerProcess session(dir.path());
    ASSERT_TRUE(session.ok());
    LoggingServer configured(dir.file("store"));
    LoggingServer built_in(dir.file("store_default"), 8887);  // must stay silent
    ASSERT_TRUE(configured.listening() && built_in.listening());

    crash_test::CrashOptions opts;
    opts.env = {{"TARVO_TEST_DEFAULT_LOGSVR_HOST", built_in.host()}};
    opts.ini = "[debug]\ndebug_level=50:2\n[server]\nsession_ip=" + session.ip() +
               "\nsession_port=" + std::to_string(session.port()) +
               "\nlogsvr_ip=" + configured.host() +
               "\nlogsvr_port=" + configured.addr().substr(configured.addr().rfind(':') + 1) + "\n";
    // The crash comes once the uploader arguments have the id: set at
    // start-up when the login was quick (the listen line shows the id), else
    // by the thread that waits for it.
    const std::regex id_known(R"((wakeup, get uid=|listen on addr=\S+, uid=)([1-9][0-9]*))");
    opts.before_crash = [&] {
        EXPECT_TRUE(session.wait_for("login", "asked=0")) << session.output();
        EXPECT_TRUE(tarvo_test::wait_until(
            [&] {
                std::string log = tarvo_test::read_file(dir.file("tarvoproxy.log"));
                return std::regex_search(log, id_known);
            },
            std::chrono::seconds(30)))
            << tarvo_test::read_file(dir.file("tarvoproxy.log"));
    };
    crash_test::CrashRun run = crash_test::run_crash(dir, "null_write", opts);
    ASSERT_EQ(run.status, 128 + SIGSEGV) << run.console;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.log, m, id_known)) << run.log;
    const std::string id = m[2].str();

    ASSERT_TRUE(tarvo_test::wait_until([&] { return !configured.lines().empty(); },
                                       std::chrono::seconds(60)))
        << "no upload; uploader log:\n"
        << tarvo_test::read_file(dir.file("tarvologger.log"));
    const std::string size = std::to_string(run.dump.size());
    EXPECT_EQ(configured.lines(),
              std::vector<std::string>{"upload uid=" + id + " file=" + dir.file("tarvoproxy.dmp") +
                                       " ver=1.0.0.0 size=" + size + " received=" + size +
                                       " stored=" + dir.file("store/tarvoproxy.dmp") + " ok"});
    EXPECT_EQ(tarvo_test::read_file(dir.file("store/tarvoproxy.dmp")), run.dump);
    EXPECT_TRUE(built_in.lines().empty());
}

}  // namespace
