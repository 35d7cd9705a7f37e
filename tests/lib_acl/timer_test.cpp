// The timer list, on a clock the tests move by hand.
#include <gtest/gtest.h>

#include <vector>

#include "acl_timer.h"

namespace {

time_t g_now = 1000;
time_t fake_clock() { return g_now; }

class Timer : public ::testing::Test {
  protected:
    void SetUp() override {
        g_now = 1000;
        previous_ = acl_timer_set_clock(fake_clock);
        timer_ = acl_timer_new();
    }
    void TearDown() override {
        acl_timer_free(timer_, nullptr);
        acl_timer_set_clock(previous_);
    }
    ACL_TIMER* timer_ = nullptr;
    ACL_TIMER_CLOCK_FN previous_ = nullptr;
    int a_ = 0, b_ = 0, c_ = 0;
};

TEST_F(Timer, RequestingAContextAgainMovesItToTheNewDeadline) {
    EXPECT_EQ(acl_timer_request(timer_, &a_, 5), 1005);
    EXPECT_EQ(acl_timer_request(timer_, &a_, 10), 1010);
    EXPECT_EQ(acl_timer_size(timer_), 1);
    EXPECT_EQ(acl_timer_left(timer_), 10);
    g_now = 1005;
    EXPECT_EQ(acl_timer_popup(timer_), nullptr);  // the first deadline is gone
    g_now = 1010;
    EXPECT_EQ(acl_timer_popup(timer_), &a_);
    EXPECT_EQ(acl_timer_popup(timer_), nullptr);

    // Moving it earlier works the same way.
    acl_timer_request(timer_, &b_, 30);
    acl_timer_request(timer_, &b_, 2);
    EXPECT_EQ(acl_timer_size(timer_), 1);
    EXPECT_EQ(acl_timer_left(timer_), 2);
}

TEST_F(Timer, CancelReturnsTheSecondsLeftZeroWhenDueAndMinusOneWhenUnknown) {
    acl_timer_request(timer_, &a_, 3);
    acl_timer_request(timer_, &b_, 8);
    g_now = 1010;  // both deadlines passed
    EXPECT_EQ(acl_timer_cancel(timer_, &a_), 0);
    g_now = 1005;
    EXPECT_EQ(acl_timer_cancel(timer_, &b_), 3);
    EXPECT_EQ(acl_timer_cancel(timer_, &b_), -1);
    EXPECT_EQ(acl_timer_cancel(timer_, &c_), -1);
    EXPECT_EQ(acl_timer_size(timer_), 0);
}

TEST_F(Timer, DueItemsPopInDeadlineOrderAndEqualDeadlinesInRequestOrder) {
    EXPECT_EQ(acl_timer_left(timer_), -1);
    acl_timer_request(timer_, &c_, 7);
    acl_timer_request(timer_, &a_, 4);
    acl_timer_request(timer_, &b_, 4);
    acl_timer_request(timer_, &a_, 4);  // moved behind b, its equal
    EXPECT_EQ(acl_timer_left(timer_), 4);
    g_now = 1004;
    EXPECT_EQ(acl_timer_left(timer_), 0);
    g_now = 1100;
    EXPECT_EQ(acl_timer_left(timer_), 0);  // never negative

    std::vector<void*> order;
    while (void* ctx = acl_timer_popup(timer_)) order.push_back(ctx);
    EXPECT_EQ(order, (std::vector<void*>{&b_, &a_, &c_}));
    EXPECT_EQ(acl_timer_left(timer_), -1);
}

TEST_F(Timer, NegativeOrZeroDelayIsDueAtOnce) {
    acl_timer_request(timer_, &a_, -5);
    acl_timer_request(timer_, &b_, 0);
    EXPECT_EQ(acl_timer_popup(timer_), &a_);
    EXPECT_EQ(acl_timer_popup(timer_), &b_);
}

TEST_F(Timer, FreeHandsListedContextsToTheFreeFunction) {
    ACL_TIMER* timer = acl_timer_new();
    acl_timer_request(timer, new int(1), 5);
    acl_timer_request(timer, new int(2), 9);
    acl_timer_free(timer,
                   [](void* ctx) { delete static_cast<int*>(ctx); });  // leak check does the rest
}

TEST(TimerClock, DefaultClockIsRestoredAndDoesNotGoBack) {
    ACL_TIMER_CLOCK_FN prev = acl_timer_set_clock(nullptr);
    time_t first = acl_timer_now();
    EXPECT_LE(first, acl_timer_now());
    acl_timer_set_clock(fake_clock);
    g_now = 42;
    EXPECT_EQ(acl_timer_now(), 42);
    EXPECT_EQ(acl_timer_set_clock(prev), fake_clock);
}

}  // namespace
