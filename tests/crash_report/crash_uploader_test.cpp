// The uploader's start, in a process that crashes for the test (a death
// test): the arguments set last are the ones the uploader gets, with the
// dump path and the version before them, and it runs in a session of its
// own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "crash_report.h"
#include "platform/self.h"
#include "test_support.h"

namespace {

TEST(CrashUploaderStart, GetsTheLatestArgumentsAndRunsDetached) {
    tarvo_test::TempDir dir;
    const std::string out = dir.file("args.txt");
    const std::string uploader = dir.file("uploader.sh");
    // Records its arguments, one a line, then its session id.
    tarvo_test::write_file(uploader, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + out +
                                         ".part\ncut -d' ' -f6 /proc/$$/stat >> " + out +
                                         ".part\nmv " + out + ".part " + out + "\n");
    std::filesystem::permissions(uploader, std::filesystem::perms::owner_all);

    const std::string program = platform::program_path();
    const std::string dump = crash_sibling_path(program, ".dmp");
    const std::string report = crash_sibling_path(program, ".rpt");
    EXPECT_EXIT(
        {
            crash_report_install(uploader.c_str(), "-u 0 -s 127.0.0.1:8887");
            crash_report_set_uploader_args("-u 42 -s 127.0.0.5:9999");
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");

    ASSERT_TRUE(tarvo_test::wait_until([&] { return std::filesystem::exists(out); },
                                       std::chrono::seconds(30)));
    std::istringstream lines(tarvo_test::read_file(out));
    std::vector<std::string> got;
    for (std::string l; std::getline(lines, l);) got.push_back(l);
    ASSERT_EQ(got.size(), 9u) << tarvo_test::read_file(out);
    const std::vector<std::string> args(got.begin(), got.end() - 1);
    EXPECT_EQ(args, (std::vector<std::string>{"-f", dump, "-v", "1.0.0.0", "-u", "42", "-s",
                                              "127.0.0.5:9999"}));
    EXPECT_NE(got.back(), std::to_string(::getsid(0))) << "the uploader has a session of its own";
    EXPECT_FALSE(tarvo_test::read_file(dump).empty());
    EXPECT_EQ(tarvo_test::read_file(report).compare(0, 28, "Exception report created by "), 0);
    std::filesystem::remove(dump);
    std::filesystem::remove(report);
}

}  // namespace
