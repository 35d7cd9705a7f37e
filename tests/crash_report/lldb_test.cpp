// The minidump as a debugger sees it: Debian's lldb opens it with the
// program, names the crashing thread's signal and function, and lists the
// other threads with their stacks.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "crash_fixture.h"
#include "platform/child_process.h"

namespace {

TEST(CrashLldb, OpensTheDumpWithEveryThread) {
    tarvo_test::TempDir dir;
    crash_test::CrashRun run = crash_test::run_crash(dir, "worker_abort");
    ASSERT_FALSE(run.dump.empty());

    std::string out;
    platform::ChildOptions o;
    o.cwd = dir.str();
    int status =
        platform::run_program({"/usr/bin/lldb", "--core", dir.file("tarvoproxy.dmp"), run.program,
                               "-b", "-o", "thread list", "-o", "bt", "-o", "bt all"},
                              out, 300000, o);
    ASSERT_EQ(status, 0) << out;

    // "thread list": the crashing thread first, stopped by its signal.
    int threads = 0;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, std::regex(R"(^[* ] thread #\d+: tid = \d+)"))) threads++;
    }
    // The main thread, the proxy thread and the worker, at least.
    EXPECT_GE(threads, 3) << out;
    EXPECT_NE(out.find("stop reason = signal SIGABRT"), std::string::npos) << out;

    // "bt": the crashing thread's frames reach the job that aborted.
    std::size_t bt = out.find("(lldb) bt\n");
    ASSERT_NE(bt, std::string::npos) << out;
    std::size_t bt_all = out.find("(lldb) bt all");
    std::string crashing = out.substr(bt, bt_all - bt);
    EXPECT_NE(crashing.find("crash_seam_abort_job"), std::string::npos) << crashing;
    EXPECT_NE(crashing.find("worker_thread"), std::string::npos) << crashing;

    // "bt all": the other threads unwind to where they were started.
    std::string all = out.substr(bt_all);
    EXPECT_NE(all.find("tarvoproxy`main"), std::string::npos) << all;
    EXPECT_NE(all.find("proxy_thread"), std::string::npos) << all;
}

}  // namespace
