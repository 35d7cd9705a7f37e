#include "logger_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"

namespace fs = std::filesystem;

namespace logger_test {

RunResult run_logger(const TempDir& folder, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& name) {
    std::string prog = folder.file(name);
    if (!fs::exists(prog)) tarvo_test::copy_program("tarvologger", folder.path(), name);

    std::vector<std::string> argv{prog};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::ChildOptions opts;
    opts.cwd = folder.str();
    opts.stderr_path = folder.file(name + ".stderr");
    for (const auto& kv : env) opts.env.emplace_back(kv.first, kv.second);
    fs::remove(opts.stderr_path);

    RunResult r;
    r.status = platform::run_program(argv, r.out, 20000, opts);
    r.err = read_file(opts.stderr_path);
    r.log = read_file(folder.file(name + ".log"));
    return r;
}

StandIn::StandIn(const std::string& store_dir) {
    if (logsvr_open(svr_, 0, store_dir) != 0) ADD_FAILURE() << "stand-in cannot listen";
    thread_ = std::thread([this] {
        logsvr_run(
            svr_, 0, [this] { return stop_.load(); },
            [this](const std::string& line) {
                std::lock_guard<std::mutex> g(lock_);
                lines_.push_back(line);
                changed_.notify_all();
            });
    });
}

StandIn::~StandIn() {
    stop_ = true;
    thread_.join();
}

std::vector<std::string> StandIn::reports_so_far() {
    static std::atomic<int> probes{0};
    std::string probe = "probe " + std::to_string(probes++);
    platform::TcpSocket s;
    if (s.connect("127.0.0.1", port(), 5000) != 0 || s.send_all(probe + "\r\n") != 0) {
        ADD_FAILURE() << "probe cannot reach the stand-in";
        return {};
    }
    s.close();

    std::unique_lock<std::mutex> g(lock_);
    std::vector<std::string> before;
    bool seen = changed_.wait_for(g, std::chrono::seconds(20), [&] {
        for (const auto& l : lines_)
            if (l == "stat " + probe) return true;
        return false;
    });
    EXPECT_TRUE(seen) << "probe never reported";
    for (const auto& l : lines_) {
        if (l == "stat " + probe) break;
        if (l.rfind("stat probe ", 0) != 0) before.push_back(l);
    }
    lines_.clear();
    return before;
}

}  // namespace logger_test
