#include "speed/start_log.h"

#include <ctime>

namespace tarvospeed {

std::string local_time_text(long long t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (localtime_r(&tt, &tm) == nullptr) return "";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void TStartLog::Add(const std::string& title, const std::string& text) {
    std::lock_guard<std::mutex> g(mu_);
    entries_.push_back({local_time_text(std::time(nullptr)), title, text});
    if (entries_.size() > START_LOG_KEEP) entries_.pop_front();
}

void TStartLog::Clear() {
    std::lock_guard<std::mutex> g(mu_);
    entries_.clear();
}

std::vector<TLogEntry> TStartLog::Entries() const {
    std::lock_guard<std::mutex> g(mu_);
    return {entries_.begin(), entries_.end()};
}

}  // namespace tarvospeed
