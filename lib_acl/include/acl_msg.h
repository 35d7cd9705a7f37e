// acl_msg: the process log, with five levels and numbered debug switches.
//
// Line format (at most ACL_MSG_LINE_MAX bytes with the prefix):
//
//     2026/12/11 10:04:31 log(pid=812, tid=815)(0, info): message\r\n
//
// Levels and the numbers printed for them:
//     info 0, warn 1, error 1, fatal 1, panic 1.
// fatal and panic write their line and end the process with status 3.
//
// A message that does not fit into the line after the prefix writes nothing.
// Before acl_msg_open (or after it failed) lines go to the console; a write to
// the log that comes up short closes the log and drops every later line.
//
// Any thread may log; whole lines are written under one mutex.
//
// Debug lines: acl_debug(section, level)(format, ...) writes an info line when
// the switch table enables that level for that section. Sections are named in
// acl_debug_sections.h. The table is built once
// by acl_debug_init before other threads start, and only read afterwards.
#pragma once

#define ACL_MSG_LINE_MAX 2048    // bytes in one log line, prefix and "\r\n" included
#define ACL_DEBUG_SECTIONS 1000  // debug sections of the service, numbered from 0

#if defined(__GNUC__)
#define ACL_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define ACL_PRINTF(a, b)
#endif

// Opens `path` for appending and makes it the log; `info_pre` is the line tag
// ("log" for the proxy and the uploader, "msg" for the monitor's message log).
// On failure the console gets one line and logging stays on the console.
void acl_msg_open(const char* path, const char* info_pre);

// Closes the log; later lines go to the console again.
void acl_msg_close(void);

// Whether a log file is open.
int acl_msg_opened(void);

void acl_msg_info(const char* fmt, ...) ACL_PRINTF(1, 2);
void acl_msg_warn(const char* fmt, ...) ACL_PRINTF(1, 2);
void acl_msg_error(const char* fmt, ...) ACL_PRINTF(1, 2);
[[noreturn]] void acl_msg_fatal(const char* fmt, ...) ACL_PRINTF(1, 2);
[[noreturn]] void acl_msg_panic(const char* fmt, ...) ACL_PRINTF(1, 2);

// Builds the debug table from switch text such as "20:2;23:2;All:1": items
// split by ';', each item two tokens split by ':', ',', tab or blank. "All:N"
// raises every section to at least N once all items are read. Sections outside
// 0..999 and negative levels are ignored. A section that no item names and no
// "All" raises writes no debug line. Returns 0.
int acl_debug_init(const char* switches);

// Drops the debug table (all debug lines off again).
void acl_debug_end(void);

// True when the table exists, 0 <= section < ACL_DEBUG_SECTIONS and level is
// at most the section's switch.
int acl_do_debug(int section, int level);

#define acl_debug(section, level) !acl_do_debug((section), (level)) ? (void)0 : acl_msg_info
