// Shared pieces of the store tests: a controller record without its loop, a
// clock seam the test steps by hand, clients and entries made in one call, the
// log captured in a file, and a check that a broken contract ends the process
// with the expected fatal line.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "acl_msg.h"
#include "store/store_client.h"
#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_time.h"
#include "test_support.h"

namespace store_test {

// The store's clock while a test runs: starts at a fixed second, moves only
// when the test says so.
class FakeClock {
  public:
    FakeClock() {
        now_ = 1000000;
        old_ = store_time_set_clock(&FakeClock::read);
    }
    ~FakeClock() { store_time_set_clock(old_); }
    void advance(time_t s) { now_ += s; }
    time_t now() const { return now_; }

  private:
    static time_t read() { return now_.load(); }
    static inline std::atomic<time_t> now_{0};
    STORE_CLOCK_FN old_ = nullptr;
};

// A controller record whose entries are plain STORE_CTRL_ENTRYs; completions
// are counted and answered with `complete_answer`.
struct TestCtrl {
    TestCtrl();
    ~TestCtrl();
    TestCtrl(const TestCtrl&) = delete;
    TestCtrl& operator=(const TestCtrl&) = delete;
    STORE_CTRL* ctrl = nullptr;
    static inline int completions = 0;
    static inline int complete_answer = 0;
};

// A client as a browser thread would hand it over.
STORE_CLIENT* make_client(STORE_CTRL* ctrl, const std::string& id, const std::string& path,
                          int max_thread, int64_t content_length, const std::string& data = "",
                          int can_save = 1, int part_save = 1);

// An entry made from a client of the given length; the client is freed again.
STORE_CTRL_ENTRY* make_entry(STORE_CTRL* ctrl, const std::string& id, const std::string& path,
                             int max_thread, int64_t content_length, const std::string& data = "",
                             int can_save = 1, int part_save = 1);

// Frees an entry (through the controller's operation), removing it from the table.
void drop_entry(STORE_CTRL_ENTRY* entry);

// The process log goes to a file while the object lives.
class LogCapture {
  public:
    explicit LogCapture(const std::string& path);
    ~LogCapture();
    std::string text() const;
    int count(const std::string& needle) const;

  private:
    std::string path_;
};

// Runs `fn` in a death-test child with the log in `log_path`; the child must
// end with status 3 and its log must hold `text`.
#define EXPECT_STORE_FATAL(log_path, statement, text)                              \
    do {                                                                           \
        std::string fatal_log_ = (log_path);                                       \
        EXPECT_EXIT(                                                               \
            {                                                                      \
                acl_msg_open(fatal_log_.c_str(), "log");                           \
                statement;                                                         \
            },                                                                     \
            ::testing::ExitedWithCode(3), "");                                     \
        EXPECT_NE(tarvo_test::read_file(fatal_log_).find(text), std::string::npos) \
            << tarvo_test::read_file(fatal_log_);                                  \
    } while (0)

}  // namespace store_test
