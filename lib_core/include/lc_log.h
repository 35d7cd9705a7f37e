// The daemon's daily log.
//
// For a base path P = D + N (D its folder part, "./" when it has none), the
// records of one day go to
//
//     D N ".%04d/%02d/" N ".d.%04d.%02d.%02d"      (year, month / year, month, day)
//
// e.g. "./tarvomonitor_log.2026/12/tarvomonitor_log.d.2026.12.11". Folders
// are created when missing. The first record of a new day opens that day's
// file; a day file that stayed empty is deleted when it is left. A relative P
// is taken from the current folder at LC_LogOpen, so later changes of the
// current folder do not move the log.
//
// Record: local time "%s %s %2d %02d:%02d:%02d %d" (weekday, month, day,
// hh:mm:ss, year), " PID=" pid, " TID=" tid, " : ", the level prefix
// "level=<name>, efile=<own file name>, sfile=<source file>, sline=<line>,
// sfunc=<function>, ", the message, CR LF.
//
// A record of level n is written when the configured level is n or more;
// level LC_LOG_NOLOG records never are. While no log is open every record
// (whatever its level) is printed to standard output with a line end.
//
// Any thread may write; records are whole lines under one lock.
#pragma once

#include <ctime>
#include <string>

#if defined(__GNUC__)
#define LC_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define LC_PRINTF(a, b)
#endif

// Levels, by number; the configuration names them "LOG_NOLOG" ... "LOG_DEBUG".
#define LC_LOG_NOLOG 0
#define LC_LOG_PANIC 1
#define LC_LOG_FATAL 2
#define LC_LOG_ERROR 3
#define LC_LOG_WARNING 4
#define LC_LOG_INFO 5
#define LC_LOG_DEBUG 6

// The level a configured name means; names compare exactly, and any other
// text means LC_LOG_INFO.
int LC_LogLevelFromName(const std::string& name);
// "LOG_NOLOG" ... "LOG_DEBUG", or "LOG_INFO" for a number out of range.
const char* LC_LogLevelName(int level);

// Opens the daily log at base path `log_path` with the configured `level`;
// `efile` is the program's own file name written into every record. 0, or -1
// when the path is empty.
int LC_LogOpen(const char* log_path, int level, const char* efile);
void LC_LogClose();
int LC_LogOpened();

void LC_LogWrite(int level, const char* sfile, int sline, const char* sfunc, const char* fmt, ...)
    LC_PRINTF(5, 6);

// The day file of `log_path` for a date (for tools and tests).
std::string LC_LogDayFile(const std::string& log_path, int year, int month, int day);

// Replaces the clock records are dated by (tests move days with it); null
// restores the system clock.
void LC_LogSetClock(std::time_t (*now)());

#define LC_LOG(level, ...) LC_LogWrite((level), __FILE__, __LINE__, __func__, __VA_ARGS__)
#define LC_Error(...) LC_LOG(LC_LOG_ERROR, __VA_ARGS__)
#define LC_Warning(...) LC_LOG(LC_LOG_WARNING, __VA_ARGS__)
#define LC_Info(...) LC_LOG(LC_LOG_INFO, __VA_ARGS__)
#define LC_Debug(...) LC_LOG(LC_LOG_DEBUG, __VA_ARGS__)
