// LC_ wrappers whose rules the daemon relies on: file names, command lines,
// pid files and the exclusive lock.

#include "lc_sys.h"

#include "platform/process.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(LcSys, ExtractFileName) {
    struct Case {
        const char* path;
        int result;
        const char* name;
    };
    const Case cases[] = {
        {"/opt/tarvo/tarvomonitor", 0, "tarvomonitor"},
        {".\\tarvomonitor.exe", 0, "tarvomonitor.exe"},
        {"tarvomonitor", 0, "tarvomonitor"},
        {"C:\\x/y\\z", 0, "z"},
        {"/opt/tarvo/", -1, ""},
        {"", -1, ""},
    };
    for (auto& c : cases) {
        std::string name;
        EXPECT_EQ(LC_ExtractFileName(c.path, name), c.result) << c.path;
        if (c.result == 0) {
            EXPECT_EQ(name, c.name) << c.path;
        }
    }
}

TEST(LcSys, CommandLinesSurviveTheWindowsSplit) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"/bin/prog", "start", "a b.conf"}, "\"/bin/prog\" \"start\" \"a b.conf\" "},
        {{"prog", "", "x"}, "\"prog\" \"\" \"x\" "},
        {{"\"quoted already\"", "y"}, "\"quoted already\" \"y\" "},
        {{"C:\\dir\\prog", "a\\b"}, "\"C:\\dir\\prog\" \"a\\b\" "},
    };
    for (auto& c : cases) {
        std::string line = LC_BuildCommandLine(c.args);
        EXPECT_EQ(line, c.line);
        std::vector<std::string> want = c.args;
        if (want[0][0] == '"') want[0] = want[0].substr(1, want[0].size() - 2);
        EXPECT_EQ(platform::command_line_split(line), want) << line;
    }
}

TEST(LcSys, WindowsSplitRules) {
    using V = std::vector<std::string>;
    struct Case {
        const char* line;
        V args;
    };
    const Case cases[] = {
        {"", V{}},
        {"   ", V{}},
        {"prog", V{"prog"}},
        {"  prog   a\tb  ", V{"prog", "a", "b"}},
        {"\"C:\\Program Files\\p\" x", V{"C:\\Program Files\\p", "x"}},
        {"p a\\\\b", V{"p", "a\\\\b"}},         // backslashes alone are literal
        {"p a\\\"b", V{"p", "a\"b"}},           // \" is a quote
        {"p \"a\\\\\" b", V{"p", "a\\", "b"}},  // \\" is a backslash, then the quote acts
        {"p a\\\\\\\"b", V{"p", "a\\\"b"}},     // \\\" is a backslash and a quote
        {"p \"a \"\" b\"", V{"p", "a \" b"}},   // "" inside quotes is one quote
        {"p \"\"", V{"p", ""}},
        {"p a\"b c\"d", V{"p", "ab cd"}},
        {"p \"open to the end", V{"p", "open to the end"}},
        {"C:\\dir\\prog.exe a", V{"C:\\dir\\prog.exe", "a"}},  // no escapes in the program
    };
    for (auto& c : cases) EXPECT_EQ(platform::command_line_split(c.line), c.args) << c.line;
}

class LcFiles : public ::testing::Test {
  protected:
    tarvo_test::TempDir dir;
    std::string file(const char* name) { return dir.file(name); }
};

TEST_F(LcFiles, PidFiles) {
    ASSERT_EQ(LC_OverWritePidFile(file("p").c_str(), 123456), 0);
    ASSERT_EQ(LC_OverWritePidFile(file("p").c_str(), 77), 0);  // replaced, not appended
    int pid = 0;
    ASSERT_EQ(LC_ReadPidFile(file("p").c_str(), &pid), 0);
    EXPECT_EQ(pid, 77);

    struct Case {
        const char* text;
        int result;
        int pid;
    };
    const Case cases[] = {
        {" \t812\r\n", 0, 812}, {"812\n\n", 0, 812}, {"", -1, 0},
        {"  \r\n", -1, 0},      {"81 2", -1, 0},     {"-5", -1, 0},
        {"0", -1, 0},           {"12abc", -1, 0},    {"99999999999", -1, 0},
    };
    for (auto& c : cases) {
        tarvo_test::write_file(file("q"), c.text);
        int got = 0;
        EXPECT_EQ(LC_ReadPidFile(file("q").c_str(), &got), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(got, c.pid);
        }
    }
    EXPECT_EQ(LC_ReadPidFile(file("missing").c_str(), &pid), -1);
}

TEST_F(LcFiles, ExclusiveLock) {
    LC_FILELOCK first;
    ASSERT_EQ(LC_FileLockStart(file("lock").c_str(), first), 0);
    int pid = 0;
    ASSERT_EQ(LC_ReadPidFile(file("lock").c_str(), &pid), 0);
    EXPECT_EQ(pid, ::getpid());

    LC_FILELOCK second;
    EXPECT_EQ(LC_FileLockStart(file("lock").c_str(), second), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_FALSE(second.held());

    first.unlock();
    EXPECT_EQ(LC_FileLockStart(file("lock").c_str(), second), 0);

    LC_FILELOCK nowhere;
    EXPECT_EQ(LC_FileLockStart(file("no/such/folder/lock").c_str(), nowhere), -1);
    EXPECT_NE(errno, EWOULDBLOCK);
}

}  // namespace
