// tarvoproxy crashing for real: the report, the minidump and the way the
// process ends, for each kind of crash the test seam offers.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "crash_fixture.h"
#include "minidump_reader.h"
#include "platform/child_process.h"
#include "platform/process.h"

using crash_test::CrashRun;
using crash_test::report_lines;
using tarvo_test::TempDir;

namespace {

struct Kind {
    const char* seam;      // TARVO_TEST_CRASH
    int signal;            // what ends the process
    const char* code;      // "Exception code: " line
    const char* function;  // a frame of the call stack
    bool main_thread;      // crashes on the main thread
    bool reaches_main;     // the walk gets back to main() within its frame limit
};

const Kind kKinds[] = {
    {"null_write", SIGSEGV, "C0000005 ACCESS_VIOLATION", "crash_seam_null_write()", true, true},
    {"divide_by_zero", SIGFPE, "C0000094 INT_DIVIDE_BY_ZERO", "crash_seam_divide_by_zero()", true,
     true},
    {"stack_overflow", SIGSEGV, "C00000FD STACK_OVERFLOW", "crash_seam_recurse(int)", true, false},
    {"worker_abort", SIGABRT, "00000006 Aborted", "crash_seam_abort_job(int, ACL_WORKER_ATTR*)",
     false, false},
};

// The sections of the report, each after the one before.
void expect_sections_in_order(const std::string& report, const Kind& k) {
    const std::string code = std::string("Exception code: ") + k.code;
    const std::string pieces[] = {
        "Exception report created by Tarvo version 1.0\r\n"
        "===================================================\r\n\r\n",
        "System details:\r\n---------------\r\n\r\nOperating System:      Linux ",
        "\r\nProcessor Information: Vendor: ",
        "Number Of Processors: ",
        "\r\nMemory Information:    Memory Used ",
        "KB .\r\n",
        "\r\nException Details:\r\n------------------\r\n\r\n" + code,
        "\r\nFault address:  ",
        "\r\nCall stack:\r\n-----------\r\n\r\nAddress   Frame     Function\t\t\tSourceFile\r\n",
    };
    std::size_t at = 0;
    for (const std::string& p : pieces) {
        std::size_t found = report.find(p, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << p << "\n" << report;
        at = found + p.size();
    }
    EXPECT_EQ(report.compare(0, 28, "Exception report created by "), 0);
}

class CrashKinds : public ::testing::TestWithParam<Kind> {};

TEST_P(CrashKinds, LeaveReportAndDumpAndEndWithTheSignal) {
    const Kind& k = GetParam();
    TempDir dir;
    CrashRun run = crash_test::run_crash(dir, k.seam);
    EXPECT_EQ(run.status, platform::PROCESS_SIGNAL_EXIT_BASE + k.signal) << run.console;
    EXPECT_NE(run.log.find(std::string("test crash ") + k.seam), std::string::npos) << run.log;

    expect_sections_in_order(run.report, k);

    // Fault address: address, section:offset, module.
    static const std::regex fault(R"(Fault address:  [0-9A-F]{8,} [0-9A-F]{2}:[0-9A-F]{8} /.+)");
    bool fault_seen = false;
    bool frame_seen = false;
    std::regex frame_line(
        "[0-9A-F]{8,}  [0-9A-F]{8,}  .*" +
        std::regex_replace(std::string(k.function), std::regex(R"([()*+])"), R"(\$&)") +
        R"(\+[0-9A-F]+)"
#ifndef NDEBUG
        R"(  /.*src/service_main/crash_seam\.cpp line [0-9]+)"
#endif
    );
    for (const std::string& line : report_lines(run.report)) {
        fault_seen = fault_seen || std::regex_match(line, fault);
        frame_seen = frame_seen || std::regex_match(line, frame_line);
    }
    EXPECT_TRUE(fault_seen) << run.report;
    EXPECT_TRUE(frame_seen) << "no frame of " << k.function << ":\n" << run.report;
    if (k.reaches_main) EXPECT_NE(run.report.find("  main+"), std::string::npos) << run.report;
    if (k.main_thread) {
        EXPECT_NE(run.report.find(" " + run.program + "\r\n"), std::string::npos)
            << "the fault lies in the program itself:\n"
            << run.report;
    }

    // The dump: sound, and about this crash.
    minidump_test::Dump d = minidump_test::read_dump(run.dump);
    for (const auto& p : d.problems) ADD_FAILURE() << "minidump: " << p;
    EXPECT_EQ(d.exception_code, static_cast<std::uint32_t>(k.signal));
    ASSERT_FALSE(d.threads.empty());
    EXPECT_EQ(d.threads.front().id, d.exception_thread);
    EXPECT_EQ(d.exception_context.rva, d.threads.front().context.rva);
    EXPECT_GE(d.threads.size(), 2u) << "the other threads are in the dump";
}

INSTANTIATE_TEST_SUITE_P(Seam, CrashKinds, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.seam); });

TEST(CrashMinidump, EveryStreamAndRecordLiesInTheFile) {
    TempDir dir;
    CrashRun run = crash_test::run_crash(dir, "worker_abort");
    ASSERT_FALSE(run.dump.empty());
    minidump_test::Dump d = minidump_test::read_dump(run.dump);
    for (const auto& p : d.problems) ADD_FAILURE() << p;

    const std::vector<std::uint32_t> expected = {
        3, 4, 5, 6, 7, 15, 0x47670003, 0x47670004, 0x47670006, 0x47670008, 0x47670009};
    EXPECT_EQ(d.stream_order, expected);
    EXPECT_EQ(d.arch, 9);  // AMD64
    EXPECT_EQ(d.platform_id, 0x8201u);
    EXPECT_EQ(d.memory.size(), d.threads.size()) << "one stack range per thread";

    // The program's module carries the build id of the file on disk.
    std::string notes;
    platform::run_program({"/usr/bin/readelf", "-n", run.program}, notes, 30000);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(notes, m, std::regex("Build ID: ([0-9a-f]+)"))) << notes;
    bool found = false;
    for (const auto& mod : d.modules) {
        if (mod.name != run.program) continue;
        found = true;
        EXPECT_EQ(mod.build_id_hex, m[1].str());
        EXPECT_GT(mod.size, 0u);
    }
    EXPECT_TRUE(found) << "the program is in the module list";
    EXPECT_NE(d.maps.find(run.program), std::string::npos);
    EXPECT_EQ(d.cmdline, run.program + std::string(1, '\0'));
    EXPECT_NE(d.proc_status.find("Pid:\t" + std::to_string(d.misc_pid) + "\n"), std::string::npos)
        << d.proc_status;
    EXPECT_EQ(d.auxv.size() % 16, 0u);
    EXPECT_FALSE(d.auxv.empty());
}

TEST(CrashHandlerFault, DamagedStackStillEndsWithTheSignal) {
    TempDir dir;
    CrashRun run = crash_test::run_crash(dir, "damaged_stack");
    EXPECT_EQ(run.status, platform::PROCESS_SIGNAL_EXIT_BASE + SIGSEGV) << run.console;
    // Whatever the handler managed before its own fault is a report's start.
    if (!run.report.empty()) {
        EXPECT_EQ(run.report.compare(0, 28, "Exception report created by "), 0) << run.report;
    }
    EXPECT_NE(run.report.find("Exception code: C0000005 ACCESS_VIOLATION"), std::string::npos)
        << "the sections before the stack walk are written first:\n"
        << run.report;
}

#if defined(__SANITIZE_ADDRESS__)
// In a sanitizer build the sanitizer's own fault handler was installed
// before ours: it runs after the report, as a previous filter would.
TEST(CrashPreviousHandler, RunsAfterTheReport) {
    TempDir dir;
    CrashRun run = crash_test::run_crash(dir, "null_write",
                                         {{"ASAN_OPTIONS", "handle_segv=1:detect_leaks=0"}});
    EXPECT_NE(run.report.find("ACCESS_VIOLATION"), std::string::npos) << run.report;
    EXPECT_NE(run.console.find("AddressSanitizer: SEGV"), std::string::npos) << run.console;
}
#endif

}  // namespace
