#include "lc_log.h"

#include "platform/self.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace {

struct DailyLog {
    std::mutex lock;
    bool opened = false;
    int level = LC_LOG_INFO;
    std::string base;  // absolute base path
    std::string efile;
    std::string day_path;  // file of the day in use
    std::FILE* fp = nullptr;
    std::time_t (*now)() = nullptr;
};

DailyLog& g_log() {
    static DailyLog* log = new DailyLog;  // outlives exit(): other threads may still log
    return *log;
}

const char* const kLevelNames[] = {"LOG_NOLOG",   "LOG_PANIC", "LOG_FATAL", "LOG_ERROR",
                                   "LOG_WARNING", "LOG_INFO",  "LOG_DEBUG"};
const char* const kPrefixNames[] = {"", "panic", "fatal", "error", "warning", "info", "debug"};

std::time_t clock_now(const DailyLog& log) { return log.now ? log.now() : std::time(nullptr); }

// Leaves the day file in use; one that got nothing is removed.
void leave_day(DailyLog& log) {
    if (log.fp == nullptr) return;
    std::fclose(log.fp);
    log.fp = nullptr;
    std::error_code ec;
    if (std::filesystem::file_size(log.day_path, ec) == 0 && !ec)
        std::filesystem::remove(log.day_path, ec);
    log.day_path.clear();
}

std::FILE* day_file(DailyLog& log, const std::tm& tm) {
    std::string path = LC_LogDayFile(log.base, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    if (log.fp != nullptr && path == log.day_path) return log.fp;
    leave_day(log);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    log.fp = std::fopen(path.c_str(), "ab");
    if (log.fp != nullptr) log.day_path = path;
    return log.fp;
}

}  // namespace

int LC_LogLevelFromName(const std::string& name) {
    for (int i = LC_LOG_NOLOG; i <= LC_LOG_DEBUG; i++) {
        if (name == kLevelNames[i]) return i;
    }
    return LC_LOG_INFO;
}

const char* LC_LogLevelName(int level) {
    if (level < LC_LOG_NOLOG || level > LC_LOG_DEBUG) return kLevelNames[LC_LOG_INFO];
    return kLevelNames[level];
}

std::string LC_LogDayFile(const std::string& log_path, int year, int month, int day) {
    std::string path = log_path;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char folder[64];
    char suffix[64];
    std::snprintf(folder, sizeof(folder), ".%04d/%02d/", year, month);
    std::snprintf(suffix, sizeof(suffix), ".d.%04d.%02d.%02d", year, month, day);
    return dir + name + folder + name + suffix;
}

int LC_LogOpen(const char* log_path, int level, const char* efile) {
    if (log_path == nullptr || log_path[0] == '\0') return -1;
    DailyLog& log = g_log();
    std::lock_guard<std::mutex> guard(log.lock);
    leave_day(log);
    std::string base = log_path;
    for (char& c : base) {
        if (c == '\\') c = '/';
    }
    std::error_code ec;
    auto abs = std::filesystem::absolute(base, ec);
    log.base = ec ? base : abs.string();
    log.level = level;
    log.efile = efile ? efile : "";
    log.opened = true;
    return 0;
}

void LC_LogClose() {
    DailyLog& log = g_log();
    std::lock_guard<std::mutex> guard(log.lock);
    leave_day(log);
    log.opened = false;
}

int LC_LogOpened() {
    DailyLog& log = g_log();
    std::lock_guard<std::mutex> guard(log.lock);
    return log.opened ? 1 : 0;
}

void LC_LogSetClock(std::time_t (*now)()) {
    DailyLog& log = g_log();
    std::lock_guard<std::mutex> guard(log.lock);
    log.now = now;
}

void LC_LogWrite(int level, const char* sfile, int sline, const char* sfunc, const char* fmt, ...) {
    char msg[4096];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof(msg), fmt, ap);
    va_end(ap);

    DailyLog& log = g_log();
    std::lock_guard<std::mutex> guard(log.lock);
    if (!log.opened) {
        std::printf("%s\n", msg);
        std::fflush(stdout);
        return;
    }
    if (level <= LC_LOG_NOLOG || level > LC_LOG_DEBUG || level > log.level) return;

    std::time_t t = clock_now(log);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::FILE* fp = day_file(log, tm);
    if (fp == nullptr) return;

    static const char* const wdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* src = sfile ? sfile : "";
    if (const char* slash = std::strrchr(src, '/')) src = slash + 1;
    std::fprintf(fp,
                 "%s %s %2d %02d:%02d:%02d %d PID=%d TID=%ld : "
                 "level=%s, efile=%s, sfile=%s, sline=%d, sfunc=%s, %s\r\n",
                 wdays[tm.tm_wday], months[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                 tm.tm_year + 1900, platform::process_id(), platform::thread_id(),
                 kPrefixNames[level], log.efile.c_str(), src, sline, sfunc ? sfunc : "", msg);
    std::fflush(fp);
}
