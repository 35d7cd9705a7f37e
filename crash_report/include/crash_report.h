// The crash report writer of tarvoproxy: when a fault reaches no other
// handler, it freezes the process, writes a readable exception report and a
// minidump next to the program, and starts the uploader that sends the dump
// to the logging server.
//
// Files: the program path with its extension replaced (or, when the file name
// has none, extended): "<program>.rpt" and "<program>.dmp". Only a dot in the
// file name counts, never one in a folder name.
//
// Uploader: started detached and hidden with the command line
//     -f "<dump path>" -v "<a.b.c.d>" <uploader arguments>
// where a.b.c.d is the build's version (crash_version.h); the arguments are
// "-u 0 -s <host>:8887" at first and "-u <client id> -s <logging server>"
// once the client id is known.
//
// Lifecycle: crash_report_install() once, at start-up before any other
// thread exists (it also starts the symbol helper, see
// platform/debug_help.h); crash_report_set_uploader_args() any time after,
// from any thread. The handler runs at most once per process; the process
// always ends after it, with the signal it received (the previous handler,
// if there was one, is called first).
//
// The crash path (crash_filter) makes only async-signal-safe calls: every
// buffer is prepared by install.
#pragma once

#include <string>

// Remembers the uploader and its arguments (each cut to 259 bytes), works out
// the report and dump paths from the program path, prepares the buffers and
// installs the crash handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT and
// SIGTRAP. An empty uploader path means no upload. Returns 0; -1 when the
// program path is unknown ("(%d): can't get filename" on the console), 260
// bytes or longer ("%s(%d): file(%s) too large"), or the handler cannot be
// installed; nothing is installed then.
int crash_report_install(const char* uploader_path, const char* uploader_args);

// Replaces the uploader arguments (cut to 259 bytes); the next crash uses
// them. Safe against a crash happening at the same moment.
void crash_report_set_uploader_args(const char* args);

// The crash filter: writes both files, starts the uploader and hands the
// signal on (see platform/crash_signal.h). `info` and `context` are the
// signal's siginfo_t and ucontext_t. Never returns.
[[noreturn]] void crash_filter(int sig, void* info, void* context);

// `program` with the extension of its file name replaced by `ext` (".rpt").
std::string crash_sibling_path(const std::string& program, const char* ext);

// The uploader's command line for `dump_path`, `version` ("a.b.c.d") and
// `args`, without the program.
std::string crash_uploader_command_line(const std::string& dump_path, const std::string& version,
                                        const std::string& args);
