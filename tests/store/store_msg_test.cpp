// Store messages, recycled queues, client records and timer items.
#include <gtest/gtest.h>

#include <cstring>

#include "store/store_msg.h"
#include "store/store_msg_queue.h"
#include "store/store_timer.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::TempDir;

namespace {

struct Payload {
    STORE_MSG base;
    int extra[8];
};

TEST(StoreMsg, ConstructorsSetOwnerTypeAndData) {
    int record = 0;
    struct Case {
        STORE_MSG* (*make)(int, void*);
        int owner;
    } cases[] = {{store_msg_ctrl, STORE_MSG_OWNER_CTRL},
                 {store_msg_client, STORE_MSG_OWNER_CLIENT},
                 {store_msg_worker, STORE_MSG_OWNER_WORKER}};
    for (const auto& c : cases) {
        STORE_MSG* m = c.make(MSG_CTRL_GOON, &record);
        EXPECT_EQ(m->owner, c.owner);
        EXPECT_EQ(m->type, MSG_CTRL_GOON);
        EXPECT_EQ(m->data, &record);
        EXPECT_EQ(m->free_fn, nullptr);
        store_msg_free(m);
    }
    // A larger record carries a zeroed payload after the base fields.
    auto* p = reinterpret_cast<Payload*>(
        store_msg_new(STORE_MSG_OWNER_WORKER, MSG_WORKER_READY, &record, nullptr, sizeof(Payload)));
    for (int v : p->extra) EXPECT_EQ(v, 0);
    store_msg_free(&p->base);
}

int g_released = 0;
void count_release(void*) { g_released++; }

TEST(StoreMsg, ReleaseFunctionRunsOnlyWithData) {
    int record = 0;
    g_released = 0;
    store_msg_free(store_msg_new(0, 10, &record, count_release, sizeof(STORE_MSG)));
    store_msg_free(store_msg_new(0, 10, nullptr, count_release, sizeof(STORE_MSG)));
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(record, 0);  // the record itself is never freed or touched
}

TEST(StoreMsgDeath, BrokenContractsEndTheProcess) {
    TempDir dir;
    int mine = 0, other = 0;
    EXPECT_STORE_FATAL(dir.file("a.log"), store_msg_new(0, 10, nullptr, nullptr, 4),
                       "size(4) too small");
    EXPECT_STORE_FATAL(
        dir.file("b.log"),
        {
            STORE_MSG* m = store_msg_ctrl(MSG_CTRL_BYE, &other);
            store_msg_check_ctx(m, &mine, "msg_goon", 77);
        },
        "msg_goon(77): msg_ctx invalid");
    TestCtrl t;
    EXPECT_STORE_FATAL(dir.file("c.log"),
                       store_client_alloc(&t.ctrl->pool, "1", "/p", 1, 10, nullptr, 0, nullptr, 16),
                       "size(16) too small");
    EXPECT_STORE_FATAL(dir.file("d.log"), store_timer_item_alloc(t.ctrl, "1", nullptr, 8),
                       "size(8) too small (<");
}

TEST(StoreMsgQueue, ReleasedQueueRestsOneSecondBeforeReuse) {
    FakeClock clock;
    TestCtrl t;
    STORE_MSG_POOL* pool = &t.ctrl->pool;
    STORE_MSG_QUEUE* a = store_msg_queue_alloc(pool);
    store_msg_queue_release(a);
    // Same second: the resting queue is not handed out.
    STORE_MSG_QUEUE* b = store_msg_queue_alloc(pool);
    EXPECT_NE(a, b);
    EXPECT_EQ(store_msg_pool_size(pool), 1);
    // One second on, it is.
    clock.advance(1);
    STORE_MSG_QUEUE* c = store_msg_queue_alloc(pool);
    EXPECT_EQ(a, c);
    store_msg_queue_release(b);
    store_msg_queue_release(c);
}

TEST(StoreMsgQueue, LeftoverMessagesAreKickedOutWithOneWarningEach) {
    FakeClock clock;
    TempDir dir;
    TestCtrl t;
    int record = 0;
    STORE_MSG_QUEUE* q = store_msg_queue_alloc(&t.ctrl->pool);
    for (int i = 0; i < 3; i++) store_msg_queue_push(q, store_msg_ctrl(MSG_CTRL_STOP, &record));
    store_msg_queue_release(q);
    clock.advance(1);
    {
        LogCapture log(dir.file("store.log"));
        STORE_MSG_QUEUE* again = store_msg_queue_alloc(&t.ctrl->pool);
        ASSERT_EQ(again, q);
        EXPECT_EQ(store_msg_queue_pop_timed(again, 0), nullptr);  // emptied
        store_msg_queue_release(again);
        EXPECT_EQ(log.count("store_msg_queue_alloc(28): kick out msg in queue"), 3) << log.text();
    }
}

TEST(StoreMsgQueue, TimedPopReturnsNothingOnTimeOutAndMessagesInOrder) {
    TestCtrl t;
    int record = 0;
    STORE_MSG_QUEUE* q = store_msg_queue_alloc(&t.ctrl->pool);
    EXPECT_EQ(store_msg_queue_pop_timed(q, 1), nullptr);
    store_msg_queue_push(q, store_msg_worker(MSG_WORKER_OPEN, &record));
    store_msg_queue_push(q, store_msg_worker(MSG_WORKER_READY, &record));
    STORE_MSG* m1 = store_msg_queue_pop(q);
    STORE_MSG* m2 = store_msg_queue_pop_timed(q, 1);
    ASSERT_NE(m1, nullptr);
    ASSERT_NE(m2, nullptr);
    EXPECT_EQ(m1->type, MSG_WORKER_OPEN);
    EXPECT_EQ(m2->type, MSG_WORKER_READY);
    store_msg_free(m1);
    store_msg_free(m2);
    store_msg_queue_release(q);
}

TEST(StoreClient, DataIsRecordedOnlyWithAPositiveLength) {
    TestCtrl t;
    const char bytes[] = "FLV\x01\x05";
    struct Case {
        const char* data;
        int64_t len;
        int64_t want_len;
    } cases[] = {{bytes, 5, 5}, {bytes, 0, 0}, {bytes, -3, 0}, {nullptr, 5, 0}};
    for (const auto& c : cases) {
        STORE_CLIENT* cl = store_client_alloc(&t.ctrl->pool, "42", "/cache/42.flv", 5, 2000000,
                                              c.data, c.len, nullptr, sizeof(STORE_CLIENT));
        EXPECT_EQ(cl->dlen, c.want_len);
        EXPECT_EQ(cl->data != nullptr, c.want_len > 0);
        EXPECT_EQ(cl->position, c.want_len);
        if (c.want_len > 0) EXPECT_EQ(std::memcmp(cl->data, bytes, 5), 0);
        EXPECT_STREQ(cl->id, "42");
        EXPECT_STREQ(cl->path, "/cache/42.flv");
        EXPECT_NE(cl->queue, nullptr);
        store_client_free(cl);
    }
}

TEST(StoreTimer, ItemKeepsAPrivateKeyCopy) {
    TestCtrl t;
    char key[] = "12345";
    STORE_TIMER_ITEM* item = store_timer_item_alloc(t.ctrl, key, nullptr, sizeof(STORE_TIMER_ITEM));
    key[0] = 'x';
    EXPECT_STREQ(item->key, "12345");
    EXPECT_EQ(item->ctrl, t.ctrl);
    store_timer_item_free(item);
}

}  // namespace
