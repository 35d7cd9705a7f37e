// The process log: line building, the console fallback and the fatal exit.
#include "acl_msg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/file.h"
#include "platform/self.h"

namespace {

constexpr int kExitFatal = 3;  // status of a process ended by fatal or panic

struct Logger {
    std::mutex lock;  // whole lines, and the stream below
    std::FILE* stream = nullptr;
    char tag[256] = "";
};

Logger& logger() {
    static Logger* instance = new Logger;  // never destroyed: threads may log during exit
    return *instance;
}

enum class Level { info, warn, error, fatal, panic };

struct LevelName {
    int number;
    const char* name;
};

constexpr LevelName level_names[] = {
    {0, "info"}, {1, "warn"}, {1, "error"}, {1, "fatal"}, {1, "panic"},
};

// Formats one whole line into `line`; returns its length (at most
// ACL_MSG_LINE_MAX, "\r\n" included), or -1 when the message does not fit.
// The buffer has one byte more than a line for the NUL that the formatting
// writes.
int build_line(char (&line)[ACL_MSG_LINE_MAX + 1], const char* tag, Level level, const char* fmt,
               va_list ap) {
    std::time_t now = std::time(nullptr);
    std::tm tm_now;
    localtime_r(&now, &tm_now);
    size_t n = std::strftime(line, sizeof(line), "%Y/%m/%d %H:%M:%S", &tm_now);

    const LevelName& lv = level_names[static_cast<int>(level)];
    int prefix = std::snprintf(line + n, sizeof(line) - n, " %s(pid=%d, tid=%ld)(%d, %s): ", tag,
                               platform::process_id(), platform::thread_id(), lv.number, lv.name);
    if (prefix < 0 || n + static_cast<size_t>(prefix) >= sizeof(line)) return -1;
    n += static_cast<size_t>(prefix);

    // The message and "\r\n" must both fit; otherwise no line at all.
    size_t room = ACL_MSG_LINE_MAX - n;
    int msg = std::vsnprintf(line + n, sizeof(line) - n, fmt, ap);
    if (msg < 0 || static_cast<size_t>(msg) + 2 > room) return -1;
    n += static_cast<size_t>(msg);
    line[n++] = '\r';
    line[n++] = '\n';
    return static_cast<int>(n);
}

void write_console(Level level, const char* fmt, va_list ap) {
    if (level == Level::fatal) std::fputs("fatal:", stdout);
    std::vprintf(fmt, ap);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
}

void write_line(Level level, const char* fmt, va_list ap) {
    Logger& log = logger();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.stream == nullptr) {
        write_console(level, fmt, ap);
        return;
    }
    char line[ACL_MSG_LINE_MAX + 1];
    int len = build_line(line, log.tag, level, fmt, ap);
    if (len < 0) return;
    size_t put = std::fwrite(line, 1, static_cast<size_t>(len), log.stream);
    if (put != static_cast<size_t>(len) || std::fflush(log.stream) != 0) {
        // A log that cannot take a whole line is closed for the rest of the run.
        std::fclose(log.stream);
        log.stream = nullptr;
        log.tag[0] = '\0';
    }
}

}  // namespace

void acl_msg_open(const char* path, const char* info_pre) {
    if (path == nullptr || *path == '\0' || info_pre == nullptr || *info_pre == '\0') {
        std::printf("%s: can't open log file=%s, info_pre=%s,%s\n", "acl_msg_open",
                    path ? path : "(null)", info_pre ? info_pre : "(null)", "invalid argument");
        return;
    }
    std::FILE* fp = platform::file_open_append_private(path);
    if (fp == nullptr) {
        std::printf("%s: can't open log file=%s, info_pre=%s,%s\n", "acl_msg_open", path, info_pre,
                    platform::last_error_text().c_str());
        return;
    }
    std::setvbuf(fp, nullptr, _IOFBF, 4096);

    Logger& log = logger();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.stream != nullptr) std::fclose(log.stream);
    log.stream = fp;
    std::snprintf(log.tag, sizeof(log.tag), "%s", info_pre);
}

void acl_msg_close(void) {
    Logger& log = logger();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.stream != nullptr) std::fclose(log.stream);
    log.stream = nullptr;
    log.tag[0] = '\0';
}

int acl_msg_opened(void) {
    Logger& log = logger();
    std::lock_guard<std::mutex> guard(log.lock);
    return log.stream != nullptr;
}

#define ACL_MSG_LEVEL(func, level)    \
    void func(const char* fmt, ...) { \
        va_list ap;                   \
        va_start(ap, fmt);            \
        write_line(level, fmt, ap);   \
        va_end(ap);                   \
    }

ACL_MSG_LEVEL(acl_msg_info, Level::info)
ACL_MSG_LEVEL(acl_msg_warn, Level::warn)
ACL_MSG_LEVEL(acl_msg_error, Level::error)

// Fatal and panic end the process without unwinding or a crash dump: the line
// is the whole report.
void acl_msg_fatal(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    write_line(Level::fatal, fmt, ap);
    va_end(ap);
    std::_Exit(kExitFatal);
}

void acl_msg_panic(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    write_line(Level::panic, fmt, ap);
    va_end(ap);
    std::_Exit(kExitFatal);
}
