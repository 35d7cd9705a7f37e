// The daily log: file names per day, record format and level filter.

#include "lc_log.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <filesystem>
#include <regex>

namespace fs = std::filesystem;

namespace {

using tarvo_test::read_file;

TEST(LcLog, DayFileNames) {
    EXPECT_EQ(LC_LogDayFile("./tarvomonitor_log", 2026, 3, 7),
              "./tarvomonitor_log.2026/03/tarvomonitor_log.d.2026.03.07");
    EXPECT_EQ(LC_LogDayFile("mon_log", 2026, 12, 31), "./mon_log.2026/12/mon_log.d.2026.12.31");
    EXPECT_EQ(LC_LogDayFile(".\\logs\\mon", 999, 1, 2), "./logs/mon.0999/01/mon.d.0999.01.02");
    EXPECT_EQ(LC_LogDayFile("/var/log/m", 2026, 1, 2), "/var/log/m.2026/01/m.d.2026.01.02");
}

TEST(LcLog, LevelNames) {
    const char* names[] = {"LOG_NOLOG",   "LOG_PANIC", "LOG_FATAL", "LOG_ERROR",
                           "LOG_WARNING", "LOG_INFO",  "LOG_DEBUG"};
    for (int i = 0; i <= 6; i++) {
        EXPECT_EQ(LC_LogLevelFromName(names[i]), i);
        EXPECT_STREQ(LC_LogLevelName(i), names[i]);
    }
    EXPECT_EQ(LC_LogLevelFromName("log_debug"), LC_LOG_INFO);  // names compare exactly
    EXPECT_EQ(LC_LogLevelFromName("LOG_DEBUG\r"), LC_LOG_INFO);
    EXPECT_EQ(LC_LogLevelFromName(""), LC_LOG_INFO);
}

class LcLogFile : public ::testing::Test {
  protected:
    tarvo_test::TempDir dir;
    static std::time_t fake_now;
    static std::time_t clock() { return fake_now; }

    void SetUp() override {
        fake_now = std::time(nullptr);
        LC_LogSetClock(clock);
    }
    void TearDown() override {
        LC_LogClose();
        LC_LogSetClock(nullptr);
    }
    std::string day_file(std::time_t t) {
        std::tm tm{};
        localtime_r(&t, &tm);
        return LC_LogDayFile(dir.file("mon_log"), tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    }
};
std::time_t LcLogFile::fake_now = 0;

TEST_F(LcLogFile, BeforeOpeningRecordsGoToStandardOutput) {
    testing::internal::CaptureStdout();
    LC_LogWrite(LC_LOG_DEBUG, __FILE__, __LINE__, __func__, "hello %d", 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "hello 5\n");
}

TEST_F(LcLogFile, RecordFormatAndLevelFilter) {
    ASSERT_EQ(LC_LogOpen(dir.file("mon_log").c_str(), LC_LOG_WARNING, "tarvomonitor"), 0);
    LC_LogWrite(LC_LOG_ERROR, "/src/x/safedaemon_core.cpp", 42, "__SafeDaemonStop", "boom %s",
                "now");
    LC_LogWrite(LC_LOG_WARNING, "w.cpp", 1, "f", "warned");
    LC_LogWrite(LC_LOG_INFO, "i.cpp", 1, "f", "not written");
    LC_LogWrite(LC_LOG_DEBUG, "d.cpp", 1, "f", "not written");
    LC_LogWrite(LC_LOG_NOLOG, "n.cpp", 1, "f", "never written");
    std::string text = read_file(day_file(fake_now));
    std::regex record(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} PID=[0-9]+ TID=[0-9]+ : "
        "level=error, efile=tarvomonitor, sfile=safedaemon_core.cpp, sline=42, "
        "sfunc=__SafeDaemonStop, boom now\r\n"
        "[^\n]* : level=warning, efile=tarvomonitor, sfile=w.cpp, sline=1, sfunc=f, warned\r\n");
    EXPECT_TRUE(std::regex_match(text, record)) << text;

    // NOLOG writes nothing at all.
    LC_LogClose();
    ASSERT_EQ(LC_LogOpen(dir.file("quiet").c_str(), LC_LOG_NOLOG, "m"), 0);
    LC_LogWrite(LC_LOG_PANIC, "p.cpp", 1, "f", "x");
    for (auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind("quiet", 0), 0u) << e.path();
}

TEST_F(LcLogFile, NewDayGoesToANewFileAndRelativePathsStayPut) {
    fs::path old_cwd = fs::current_path();
    fs::current_path(dir.path());
    ASSERT_EQ(LC_LogOpen("mon_log", LC_LOG_INFO, "m"), 0);
    fs::current_path(old_cwd);  // the log keeps its folder

    LC_LogWrite(LC_LOG_INFO, "a.cpp", 1, "f", "day one");
    std::time_t day_one = fake_now;
    fake_now += 24 * 3600;
    LC_LogWrite(LC_LOG_INFO, "a.cpp", 2, "f", "day two");
    std::string one = read_file(day_file(day_one));
    std::string two = read_file(day_file(fake_now));
    EXPECT_NE(one.find("day one\r\n"), std::string::npos) << one;
    EXPECT_EQ(one.find("day two"), std::string::npos);
    EXPECT_NE(two.find("day two\r\n"), std::string::npos) << two;
}

}  // namespace
