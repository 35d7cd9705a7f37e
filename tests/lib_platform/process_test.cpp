// Starting, supervising, listing and ending processes.

#include "platform/process.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

using tarvo_test::process_alive;
using tarvo_test::read_file;
using tarvo_test::wait_until;

class ProcessTest : public ::testing::Test {
  protected:
    tarvo_test::TempDir dir;
    std::vector<int> started;  // ended in TearDown whatever happens
    void TearDown() override {
        for (int pid : started) {
            if (process_alive(pid)) platform::process_terminate(pid);
        }
    }
    std::string file(const char* name) { return dir.file(name); }
};

TEST_F(ProcessTest, ExitCodesOfChildren) {
    struct Case {
        const char* line;
        int code;
    };
    const Case cases[] = {
        {"/bin/sh -c \"exit 0\"", 0},
        {"/bin/sh -c \"exit 100\"", 100},
        {"sh -c \"exit 7\"", 7},  // a bare name is found along PATH
        {"/bin/sh -c \"kill -9 $$\"", platform::PROCESS_SIGNAL_EXIT_BASE + SIGKILL},
        {"/bin/sh -c \"kill -SEGV $$\"", platform::PROCESS_SIGNAL_EXIT_BASE + SIGSEGV},
    };
    for (auto& c : cases) {
        platform::Process p;
        ASSERT_EQ(p.start_hidden(c.line), 0) << c.line;
        int code = -1;
        ASSERT_EQ(p.wait(&code), 0);
        EXPECT_EQ(code, c.code) << c.line;
        EXPECT_EQ(p.pid(), -1);
        EXPECT_EQ(p.terminate(), 0);  // already reaped: nothing is signalled
    }
}

TEST_F(ProcessTest, ChildGetsSplitArgumentsAndNoInheritedDescriptors) {
    std::string out = file("args");
    // Leave a descriptor open without close-on-exec: the child must not see it.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    platform::Process p;
    std::string line = "/bin/sh -c \"printf '%s|%s|' \\\"$1\\\" \\\"$2\\\" > " + out +
                       "; ls /proc/self/fd | wc -l >> " + out + "\" sh \"a b\" c\\\"d";
    ASSERT_EQ(p.start_hidden(line), 0);
    ::close(leaked);
    int code = -1;
    ASSERT_EQ(p.wait(&code), 0);
    EXPECT_EQ(code, 0);
    std::string text = read_file(out);
    EXPECT_EQ(text.substr(0, 8), "a b|c\"d|") << line;
    // 0, 1, 2 and the one ls opens to read the folder.
    EXPECT_EQ(std::stoi(text.substr(8)), 4) << text;
}

TEST_F(ProcessTest, MissingProgramFailsAtOnce) {
    platform::Process p;
    EXPECT_EQ(p.start_hidden("/no/such/program x"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(p.start_hidden("no-such-program-anywhere"), -1);
    EXPECT_EQ(p.start_hidden(""), -1);
    EXPECT_EQ(p.pid(), -1);
    int code;
    EXPECT_EQ(p.wait(&code), -1);
    EXPECT_EQ(platform::process_create_detached("/no/such/program", nullptr), -1);
}

TEST_F(ProcessTest, TerminateEndsARunningChild) {
    platform::Process p;
    ASSERT_EQ(p.start_hidden("/bin/sleep 30"), 0);
    int pid = p.pid();
    started.push_back(pid);
    EXPECT_TRUE(process_alive(pid));
    EXPECT_EQ(p.start_hidden("/bin/sleep 30"), -1);  // one child per object
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(p.pid(), pid);
    EXPECT_EQ(p.terminate(), 0);
    EXPECT_FALSE(process_alive(pid));
    EXPECT_EQ(p.pid(), -1);
}

TEST_F(ProcessTest, DetachedProgramHasItsOwnSessionAndIsNotOurChild) {
    int pid = -1;
    ASSERT_EQ(platform::process_create_detached("/bin/sleep 30", &pid), 0);
    started.push_back(pid);
    ASSERT_TRUE(process_alive(pid));
    // A session of its own (led by the short-lived starter, so the program can
    // never get a controlling terminal back).
    EXPECT_NE(::getsid(pid), ::getsid(0));
    int status;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);  // someone else's child
    EXPECT_EQ(errno, ECHILD);

    // It shows in the process list under its executable's file name.
    std::vector<platform::ProcessEntry> list;
    ASSERT_EQ(platform::process_list(list), 0);
    bool seen = false;
    bool self_seen = false;
    for (auto& e : list) {
        if (e.pid == pid)
            seen = e.exe_name == fs::path(e.exe_path).filename().string() &&
                   e.exe_name.find("sleep") != std::string::npos;
        if (e.pid == ::getpid()) self_seen = e.exe_name == "platform_process_tests";
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(self_seen);

    EXPECT_TRUE(platform::process_can_open(pid));
    EXPECT_EQ(platform::process_terminate(pid), 0);
    EXPECT_TRUE(wait_until([&] { return !process_alive(pid); }));
    EXPECT_EQ(platform::process_terminate(999999999), -1);
    EXPECT_FALSE(platform::process_can_open(999999999));
}

TEST_F(ProcessTest, RunWait) {
    int code = -1;
    EXPECT_EQ(platform::process_run_wait({"sh", "-c", "exit 3"}, &code), 0);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(platform::process_run_wait({"no-such-program-anywhere"}, &code), -1);
}

}  // namespace
