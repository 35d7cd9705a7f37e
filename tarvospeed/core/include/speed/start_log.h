// The start-up log (logMain): entries of time, title and text.
//
// The log is inactive, as the program ships: entries are kept in memory only
// (the last START_LOG_KEEP of them, so a long run never grows it) and never
// written to "tarvospeed.log". Tests read them to follow the start sequence.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tarvospeed {

constexpr std::size_t START_LOG_KEEP = 256;

struct TLogEntry {
    std::string time;  // local date and time as text
    std::string title;
    std::string text;
};

class TStartLog {
  public:
    void Add(const std::string& title, const std::string& text);
    void Clear();
    std::vector<TLogEntry> Entries() const;

  private:
    mutable std::mutex mu_;
    std::deque<TLogEntry> entries_;
};

// "%Y-%m-%d %H:%M:%S" of `t` in local time: the program's date-time text.
std::string local_time_text(long long t);

}  // namespace tarvospeed
