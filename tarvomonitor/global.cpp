#include "global.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

MONITOR_CONF g_monitor_conf;
PROXY_INFO g_saved_proxy;
WATCH_TIMES g_watch_times;

void monitor_status(const char* fmt, ...) {
    static std::mutex* lock = new std::mutex;  // whole lines from any thread, even during exit
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> guard(*lock);
    std::printf("%s\n", buf);
    std::fflush(stdout);
}
