// The controller loop driven message by message, with the test playing the
// client and the worker threads.
#include <gtest/gtest.h>

#include "acl_workq.h"
#include "store/store_msg.h"
#include "store/store_msg_queue.h"
#include "store/store_worker.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::TempDir;
using tarvo_test::write_file;

namespace {

struct CtrlLoop : ::testing::Test {
    TempDir dir;
    ACL_WORKQ* wq = acl_workq_create(4, 60, 0, 0);
    TestCtrl t;
    std::unique_ptr<LogCapture> log;

    void SetUp() override {
        log = std::make_unique<LogCapture>(dir.file("ctrl.log"));
        t.ctrl->wq = wq;
        ASSERT_EQ(store_ctrl_start(t.ctrl), 0);
    }
    void TearDown() override {
        store_ctrl_stop(t.ctrl);
        acl_workq_destroy(wq);
    }
    void send(int owner, int type, void* data) {
        store_msg_queue_push(t.ctrl->queue,
                             store_msg_new(owner, type, data, nullptr, sizeof(STORE_MSG)));
    }
    int answer(STORE_MSG_QUEUE* q) {
        STORE_MSG* m = store_msg_queue_pop_timed(q, 30);
        if (m == nullptr) return -1;
        int type = m->type;
        store_msg_free(m);
        return type;
    }
};

TEST_F(CtrlLoop, QuitForAnUnknownEntryIsLoggedAndStillAnswered) {
    STORE_CLIENT* c = make_client(t.ctrl, "404", dir.file("404.flv"), 5, 2000000);
    send(STORE_MSG_OWNER_CLIENT, MSG_CLIENT_QUIT, c);
    EXPECT_EQ(answer(c->queue), MSG_CTRL_BYE);
    EXPECT_NE(log->text().find("url(404) not found"), std::string::npos);
    // An unknown type is logged and the loop goes on.
    send(STORE_MSG_OWNER_CLIENT, 99, c);
    send(STORE_MSG_OWNER_CLIENT, MSG_CLIENT_QUIT, c);
    EXPECT_EQ(answer(c->queue), MSG_CTRL_BYE);
    EXPECT_NE(log->text().find("unknown msg type(99)"), std::string::npos);
    store_client_free(c);
}

// A worker that failed to open has left the worker ring but still holds the
// entry until its quit is answered: the entry outlives it.
TEST_F(CtrlLoop, EntryOutlivesAWorkerUntilItsQuitIsAnswered) {
    write_file(dir.file("7.flv"), std::string(1000, 'v'));  // finished: no worker of its own
    STORE_CLIENT* c = make_client(t.ctrl, "7", dir.file("7.flv"), 5, 1000);
    send(STORE_MSG_OWNER_CLIENT, MSG_CLIENT_REQUEST, c);
    ASSERT_EQ(answer(c->queue), MSG_CTRL_OPEN_OK);
    STORE_CTRL_ENTRY* e = c->entry;
    // The loop is blocked waiting: the entry may be touched until the next push.
    STORE_WORKER* w = store_worker_alloc(e, 0, 1000, 0, sizeof(STORE_WORKER));
    store_ctrl_entry_count_worker(e, w, 1);

    send(STORE_MSG_OWNER_CLIENT, MSG_CLIENT_READY, c);
    EXPECT_EQ(answer(c->queue), MSG_CTRL_DATA_READY);  // the whole finished file at once
    EXPECT_EQ(c->avail, 1000);
    send(STORE_MSG_OWNER_CLIENT, MSG_CLIENT_QUIT, c);
    EXPECT_EQ(answer(c->queue), MSG_CTRL_BYE);
    EXPECT_EQ(store_ctrl_entries(t.ctrl), 1);

    send(STORE_MSG_OWNER_WORKER, MSG_WORKER_EOPEN, w);
    EXPECT_EQ(answer(w->queue), MSG_CTRL_STOP);
    EXPECT_EQ(store_ctrl_entries(t.ctrl), 1);
    send(STORE_MSG_OWNER_WORKER, MSG_WORKER_QUIT, w);
    EXPECT_EQ(answer(w->queue), MSG_CTRL_BYE);
    EXPECT_TRUE(tarvo_test::wait_until([&] { return store_ctrl_entries(t.ctrl) == 0; }));
    EXPECT_EQ(log->count("worker_opens("), 0) << log->text();
    store_worker_free(w);
    store_client_free(c);
}

}  // namespace
