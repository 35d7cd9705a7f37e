// The blocking queue: order, time-outs, quitting, and no item lost or doubled
// between many producers and consumers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "acl_aqueue.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(Aqueue, TimedPopOnAnEmptyQueueReturnsNullAfterTheWaitWithTimeoutCode) {
    ACL_AQUEUE* q = acl_aqueue_new();
    auto start = Clock::now();
    EXPECT_EQ(acl_aqueue_pop(q, 0, 500000), nullptr);
    auto waited = Clock::now() - start;
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_ERR_TIMEOUT);
    EXPECT_GE(waited, std::chrono::milliseconds(450));
    EXPECT_LT(waited, std::chrono::seconds(10));  // it did end, not wait for ever
    acl_aqueue_free(q, nullptr);
}

TEST(Aqueue, ItemsComeOutInOrderAndASuccessfulPopClearsTheCode) {
    ACL_AQUEUE* q = acl_aqueue_new();
    int items[3] = {};
    EXPECT_EQ(acl_aqueue_pop(q, 0, 10), nullptr);
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_ERR_TIMEOUT);
    for (int& item : items) ASSERT_EQ(acl_aqueue_push(q, &item), 0);
    EXPECT_EQ(acl_aqueue_qlen(q), 3);
    EXPECT_EQ(acl_aqueue_pop(q, 1, 0), &items[0]);
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_OK);
    EXPECT_EQ(acl_aqueue_pop_wait(q), &items[1]);
    EXPECT_EQ(acl_aqueue_pop(q, 0, 10), &items[2]);
    EXPECT_EQ(acl_aqueue_qlen(q), 0);
    acl_aqueue_free(q, nullptr);
}

TEST(Aqueue, QuitWakesAWaitingPopperAfterTheQueueIsDrained) {
    ACL_AQUEUE* q = acl_aqueue_new();
    int item = 0;
    std::atomic<bool> returned{false};
    void* got = &item;
    std::thread popper([&] {
        got = acl_aqueue_pop_wait(q);  // would wait for ever without the quit
        returned = true;
    });
    acl_aqueue_quit(q);
    popper.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_ERR_QUIT);

    // Items pushed after the quit are still handed out before the quit code.
    ASSERT_EQ(acl_aqueue_push(q, &item), 0);
    EXPECT_EQ(acl_aqueue_pop(q, 5, 0), &item);
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_OK);
    EXPECT_EQ(acl_aqueue_pop(q, 5, 0), nullptr);  // at once, not after 5 s
    EXPECT_EQ(acl_aqueue_last_error(q), ACL_AQUEUE_ERR_QUIT);
    acl_aqueue_free(q, nullptr);
}

TEST(Aqueue, FreeHandsLeftoverItemsToTheFreeFunction) {
    ACL_AQUEUE* q = acl_aqueue_new();
    for (int i = 0; i < 3; i++) ASSERT_EQ(acl_aqueue_push(q, new int(i)), 0);
    acl_aqueue_free(
        q, [](void* item) { delete static_cast<int*>(item); });  // leak check does the rest
}

TEST(Aqueue, ManyProducersAndConsumersLoseAndDoubleNothing) {
    ACL_AQUEUE* q = acl_aqueue_new();
    constexpr int kProducers = 4, kConsumers = 3, kEach = 5000;
    std::vector<int> items(kProducers * kEach);
    std::vector<std::atomic<int>> seen(items.size());
    for (size_t i = 0; i < items.size(); i++) items[i] = static_cast<int>(i);

    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; c++)
        consumers.emplace_back([&, c] {
            // Alternate the waiting and the timed pop; the waiting pop
            // returns null only once the queue quit and is empty.
            for (int n = 0;; n++) {
                bool waiting = (n + c) % 2 != 0;
                void* item = waiting ? acl_aqueue_pop_wait(q) : acl_aqueue_pop(q, 0, 100);
                if (item != nullptr)
                    seen[*static_cast<int*>(item)]++;
                else if (waiting)
                    return;
            }
        });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; i++) ASSERT_EQ(acl_aqueue_push(q, &items[p * kEach + i]), 0);
        });
    for (auto& t : producers) t.join();
    acl_aqueue_quit(q);
    for (auto& t : consumers) t.join();

    EXPECT_EQ(acl_aqueue_qlen(q), 0);
    for (size_t i = 0; i < seen.size(); i++) ASSERT_EQ(seen[i], 1) << "item " << i;
    acl_aqueue_free(q, nullptr);
}

}  // namespace
