// Crashing the real tarvoproxy on demand (the TARVO_TEST_CRASH seam) from a
// private folder, and collecting what the crash left next to the program.
#pragma once

#include <map>
#include <string>

#include "test_support.h"

namespace crash_test {

// Sanitizer settings for a process that is meant to crash: the sanitizers
// leave the fault signals to the program's own handler, which is what a
// release build sees.
constexpr const char* kCrashAsanOptions =
    "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
    "detect_leaks=0";

struct CrashRun {
    int status = -1;      // 128 + signal when a signal ended it; -1 when it hung
    std::string program;  // the copy that crashed
    std::string report;   // tarvoproxy.rpt
    std::string dump;     // tarvoproxy.dmp
    std::string log;      // tarvoproxy.log
    std::string console;  // standard output and error
};

// Copies tarvoproxy into `dir` (a tarvologger already there is started),
// points it at a free listening port and runs it with TARVO_TEST_CRASH set to
// `kind`. `env` adds or replaces environment variables.
CrashRun run_crash(const tarvo_test::TempDir& dir, const std::string& kind,
                   const std::map<std::string, std::string>& env = {});

// The report's lines (CR LF removed).
std::vector<std::string> report_lines(const std::string& report);

}  // namespace crash_test
