// The crash handler's process-wide state: written by install (and the
// argument replacement), read by the filter. Fixed buffers only, so the
// filter never allocates.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/prepared_launch.h"

constexpr std::size_t CRASH_PATH_MAX = 260;  // 259 bytes and the NUL
constexpr std::size_t CRASH_SCRATCH = 2048;  // one formatted piece of the report
constexpr int CRASH_ARGV_MAX = 32;

struct CrashState {
    char program_path[CRASH_PATH_MAX] = {};
    char report_path[CRASH_PATH_MAX + 4] = {};
    char dump_path[CRASH_PATH_MAX + 4] = {};
    char uploader_path[CRASH_PATH_MAX] = {};
    // Two copies of the arguments: a replacement fills the one not in use and
    // then publishes it, so a crash never reads a half-written text.
    char uploader_args[2][CRASH_PATH_MAX] = {};
    std::atomic<int> args_current{0};
    char product_line[512] = {};   // "Tarvo version 1.0"
    char version_dotted[64] = {};  // "1.0.0.0"

    char scratch[CRASH_SCRATCH] = {};
    char command_line[3 * CRASH_PATH_MAX + 128] = {};
    char argv_text[3 * CRASH_PATH_MAX + 128] = {};
    char* argv[CRASH_ARGV_MAX + 1] = {};
    platform::PreparedLaunch launch;

    bool installed = false;
    std::atomic<int> entered{0};  // the thread id that runs the filter
};

CrashState& crash_state();
