// The process log: line format, limits, console fallback, fatal exit and the
// debug switches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "acl_msg.h"
#include "test_support.h"

namespace {

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.file("test.log");
        acl_msg_open(path_.c_str(), "log");
        ASSERT_TRUE(acl_msg_opened());
    }
    void TearDown() override {
        acl_msg_close();
        acl_debug_end();
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::string text = tarvo_test::read_file(path_);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            EXPECT_NE(end, std::string::npos) << "line without CR LF: " << text.substr(pos);
            if (end == std::string::npos) break;
            out.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        return out;
    }

    tarvo_test::TempDir dir_;
    std::string path_;
};

const std::string kPrefix =
    R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d log\(pid=)" + std::to_string(::getpid()) + R"(, tid=\d+\))";

TEST_F(LogFile, EachLevelWritesItsNumberAndName) {
    acl_msg_info("%s(%d): hello %s", "f", 1, "world");
    acl_msg_warn("w");
    acl_msg_error("e");
    auto got = lines();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(
        std::regex_match(got[0], std::regex(kPrefix + R"(\(0, info\): f\(1\): hello world)")))
        << got[0];
    EXPECT_TRUE(std::regex_match(got[1], std::regex(kPrefix + R"(\(1, warn\): w)"))) << got[1];
    EXPECT_TRUE(std::regex_match(got[2], std::regex(kPrefix + R"(\(1, error\): e)"))) << got[2];
}

TEST_F(LogFile, MessageThatDoesNotFitWritesNoLine) {
    std::string fits(ACL_MSG_LINE_MAX - 200, 'a');
    std::string too_long(ACL_MSG_LINE_MAX, 'b');
    acl_msg_info("%s", fits.c_str());
    acl_msg_info("%s", too_long.c_str());
    acl_msg_info("after");
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].find(fits), std::string::npos);
    EXPECT_NE(got[1].find("after"), std::string::npos);
    for (const auto& line : got) EXPECT_LE(line.size() + 2, static_cast<size_t>(ACL_MSG_LINE_MAX));
}

TEST_F(LogFile, LongestLineIsExactlyTheLineMaximum) {
    acl_msg_info("x");
    auto first = lines();
    ASSERT_EQ(first.size(), 1u);
    size_t prefix = first[0].size() - 1;  // the line without "\r\n" and the message
    std::string longest(ACL_MSG_LINE_MAX - prefix - 2, 'l');
    acl_msg_info("%s", longest.c_str());
    acl_msg_info("%s", (longest + "m").c_str());
    auto got = lines();
    ASSERT_EQ(got.size(), 2u) << "one byte more writes no line";
    EXPECT_EQ(got[1].size() + 2, static_cast<size_t>(ACL_MSG_LINE_MAX));
}

TEST_F(LogFile, LinesFromManyThreadsNeverInterleave) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([t] {
            std::string body(100 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < 200; i++) acl_msg_info("T%d %s", t, body.c_str());
        });
    }
    for (auto& th : threads) th.join();
    auto got = lines();
    ASSERT_EQ(got.size(), 8u * 200u);
    std::regex whole(kPrefix + R"(\(0, info\): T(\d) ([a-h]+))");
    for (const auto& line : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        int t = std::stoi(m[1]);
        EXPECT_EQ(m[2].str(), std::string(100 + t * 50, static_cast<char>('a' + t)));
    }
}

TEST_F(LogFile, DebugLinesFollowTheSwitches) {
    struct Case {
        const char* switches;
        int section, level;
        bool written;
    };
    const Case cases[] = {
        {"", 20, 0, false},
        {"20:2", 21, 0, false},  // a section no item names stays off
        {"20:2;23:2;All:1", 20, 2, true},
        {"20:2;23:2;All:1", 20, 3, false},
        {"20:2;23:2;All:1", 23, 2, true},
        {"20:2;23:2;All:1", 24, 1, true},
        {"20:2;23:2;All:1", 24, 2, false},
        {"20:2;23:2;All:1", 999, 1, true},
        {"20:2;23:2;All:1", 1000, 0, false},
        {"All:0", 5, 0, true},
        {"All:0", 5, 1, false},
        {"all 2", 7, 2, true},
        {"5,3", 5, 3, true},
        {"5\t3;6 1", 6, 1, true},
        {"5:3:4", 5, 0, false},        // three tokens: ignored
        {"-1:3;1000:3", 0, 0, false},  // out-of-range sections ignored
        {"8:-1", 8, 0, false},         // a negative level is ignored: the section stays off
    };
    int expected = 0;
    for (const auto& c : cases) {
        acl_debug_init(c.switches);
        acl_debug(c.section, c.level)("debug %s %d %d", c.switches, c.section, c.level);
        EXPECT_EQ(acl_do_debug(c.section, c.level) != 0, c.written)
            << c.switches << " section " << c.section << " level " << c.level;
        expected += c.written ? 1 : 0;
    }
    EXPECT_EQ(lines().size(), static_cast<size_t>(expected));
}

TEST_F(LogFile, FatalWritesItsLineThenEndsWithStatusThree) {
    EXPECT_EXIT(acl_msg_fatal("%s(%d): broken", "f", 1), ::testing::ExitedWithCode(3), "");
    auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    // The line comes from the child the death test forks: any pid.
    EXPECT_TRUE(std::regex_match(
        got[0],
        std::regex(
            R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d log\(pid=\d+, tid=\d+\)\(1, fatal\): f\(1\): broken)")))
        << got[0];
}

TEST(LogWithoutFile, ShortWriteClosesTheLog) {
    acl_msg_open("/dev/full", "log");
    ASSERT_TRUE(acl_msg_opened());
    acl_msg_info("this line cannot be written");
    EXPECT_FALSE(acl_msg_opened());
}

TEST(LogWithoutFile, ConsoleGetsMessagesBeforeOpen) {
    acl_msg_close();
    ::testing::internal::CaptureStdout();
    acl_msg_info("plain %d", 7);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "plain 7\r\n");
}

TEST(LogWithoutFile, OpenFailureKeepsTheConsole) {
    ::testing::internal::CaptureStdout();
    acl_msg_open("/nonexistent-folder/x.log", "log");
    acl_msg_info("still here");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(
        out.find("acl_msg_open: can't open log file=/nonexistent-folder/x.log, info_pre=log,"),
        std::string::npos);
    EXPECT_NE(out.find("still here\r\n"), std::string::npos);
    EXPECT_FALSE(acl_msg_opened());
}

TEST(LogWithoutFile, PanicEndsTheProcessWithStatusThree) {
    EXPECT_EXIT(acl_msg_panic("gone"), ::testing::ExitedWithCode(3), "");
}

}  // namespace
