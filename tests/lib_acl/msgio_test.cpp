// The message channel: framing, per-type handlers, the process-wide channel,
// senders on other threads and connection-scoped failures.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "acl_msgio.h"
#include "platform/socket.h"

namespace {

struct Got {
    std::vector<std::pair<int, std::string>> msgs;
    std::vector<ACL_MSGIO*> from;
    std::thread::id thread;
    int result = 0;                  // what the handler returns
    std::string fail_on = "<none>";  // body that makes the handler fail
};

int record(int type, ACL_MSGIO* mio, const ACL_MSGIO_MSG* msg, void* arg) {
    auto* got = static_cast<Got*>(arg);
    EXPECT_EQ(static_cast<unsigned>(type), msg->type);
    EXPECT_EQ(msg->body[msg->dlen], '\0');
    got->msgs.emplace_back(type, std::string(msg->body, static_cast<size_t>(msg->dlen)));
    got->from.push_back(mio);
    got->thread = std::this_thread::get_id();
    if (got->msgs.back().second == got->fail_on) return -1;
    return got->result;
}

struct MsgioFixture : ::testing::Test {
    ACL_AIO* aio = acl_aio_create_ex(0, 0, 0, 50000);
    ACL_MSGIO* listener = acl_msgio_listen(aio);
    std::string addr;

    MsgioFixture() {
        char buf[ACL_MSGIO_ADDR_MAX];
        acl_msgio_addr(listener, buf, sizeof(buf));
        addr = buf;
    }
    ~MsgioFixture() override {
        acl_msgio_close(listener);
        for (int i = 0; i < 50 && acl_event_nstreams(acl_aio_event(aio)) > 0; i++)
            acl_aio_loop(aio);
        acl_aio_free(aio);
    }
    bool run_until(const std::function<bool()>& done, int passes = 200) {
        for (int i = 0; i < passes && !done(); i++) acl_aio_loop(aio);
        return done();
    }
};

TEST_F(MsgioFixture, ListenAddressIsLoopbackWithAPort) {
    EXPECT_EQ(addr.rfind("127.0.0.1:", 0), 0u);
    EXPECT_NE(addr, "127.0.0.1:0");
}

TEST_F(MsgioFixture, LookupSizedMessageFromAnotherThreadArrivesWhole) {
    Got got;
    acl_msgio_reg(listener, 1100, record, &got);
    acl_msgio_reg(listener, 1100, record, &got);  // same arg again: ignored
    ACL_MSGIO* client = acl_msgio_connect(aio, addr.c_str(), 5);
    ASSERT_NE(client, nullptr);

    std::string body(604, '\0');
    for (size_t i = 0; i < body.size(); i++) body[i] = static_cast<char>(i * 7);
    std::thread sender([&] { EXPECT_EQ(acl_msgio_send(client, 1100, body.data(), 604), 0); });
    sender.join();

    ASSERT_TRUE(run_until([&] { return got.msgs.size() == 1; }));
    EXPECT_EQ(got.msgs[0].first, 1100);
    EXPECT_EQ(got.msgs[0].second, body);
    EXPECT_EQ(got.thread, std::this_thread::get_id());  // on the loop thread
    EXPECT_EQ(got.from[0]->type, ACL_MSGIO_TYPE_ACCEPT);
    run_until([] { return false; }, 3);
    EXPECT_EQ(got.msgs.size(), 1u);
    acl_msgio_close(client);
}

TEST_F(MsgioFixture, EmptyBodyIsDispatchedAndTheNextHeaderRead) {
    Got got;
    acl_msgio_reg(listener, 7, record, &got);
    acl_msgio_reg(listener, 8, record, &got);
    ACL_MSGIO* client = acl_msgio_connect(aio, addr.c_str(), 5);
    ASSERT_NE(client, nullptr);
    acl_aio_loop(aio);  // accept; sends below run on the loop thread (queued)
    EXPECT_EQ(acl_msgio_send(client, 7, nullptr, 0), 0);
    EXPECT_EQ(acl_msgio_send(client, 8, "after", 5), 0);
    EXPECT_EQ(acl_msgio_send(client, 9, "nobody", 6), 0);  // no handler: dropped
    EXPECT_EQ(acl_msgio_send(client, 7, "", 0), 0);
    ASSERT_TRUE(run_until([&] { return got.msgs.size() == 3; }));
    EXPECT_EQ(got.msgs[0], std::make_pair(7, std::string()));
    EXPECT_EQ(got.msgs[1], std::make_pair(8, std::string("after")));
    EXPECT_EQ(got.msgs[2], std::make_pair(7, std::string()));
    acl_msgio_close(client);
}

TEST_F(MsgioFixture, FailingHandlerClosesOnlyItsConnection) {
    Got got;
    got.fail_on = "bad";
    acl_msgio_reg(listener, 1, record, &got);
    ACL_MSGIO* a = acl_msgio_connect(aio, addr.c_str(), 5);
    ACL_MSGIO* b = acl_msgio_connect(aio, addr.c_str(), 5);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // Listener, two clients and their two accepted connections.
    ASSERT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == 5; }));
    EXPECT_EQ(acl_msgio_send(a, 1, "bad", 3), 0);
    ASSERT_TRUE(run_until([&] { return got.msgs.size() == 1; }));
    // The server side of a closes, then client a sees end of file and goes.
    ASSERT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == 3; }));

    EXPECT_EQ(acl_msgio_send(b, 1, "good", 4), 0);
    ASSERT_TRUE(run_until([&] { return got.msgs.size() == 2; }));
    EXPECT_EQ(got.msgs[1].second, "good");
    acl_msgio_close(b);
}

TEST_F(MsgioFixture, ProcessWideHandlersRunAfterTheChannelsOwn) {
    acl_msgio_init();
    std::vector<std::string> order;
    struct Tag {
        std::vector<std::string>* order;
        const char* name;
    } own{&order, "own"}, global{&order, "global"};
    auto note = +[](int, ACL_MSGIO*, const ACL_MSGIO_MSG*, void* arg) {
        auto* t = static_cast<Tag*>(arg);
        t->order->push_back(t->name);
        return 0;
    };
    acl_msgio_reg(nullptr, 5, note, &global);
    acl_msgio_reg(listener, 5, note, &own);
    // A send on the listener travels through a temporary connection.
    EXPECT_EQ(acl_msgio_send(listener, 5, "x", 1), 0);
    ASSERT_TRUE(run_until([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"own", "global"}));
    acl_msgio_end();
}

int reply_1101(int, ACL_MSGIO* mio, const ACL_MSGIO_MSG* msg, void*) {
    std::string answer = "answer:" + std::string(msg->body, static_cast<size_t>(msg->dlen));
    return acl_msgio_send(mio, 1101, answer.data(), static_cast<int>(answer.size()));
}

TEST_F(MsgioFixture, BlockingClientGetsItsReplyOnTheConnectionItCameOn) {
    acl_msgio_reg(listener, 1100, reply_1101, nullptr);
    Got got;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ACL_MSGIO* client = acl_msgio_connect(nullptr, addr.c_str(), 5);
        ASSERT_NE(client, nullptr);
        acl_msgio_reg(client, 1101, record, &got);
        EXPECT_EQ(acl_msgio_send(client, 1100, "host", 4), 0);
        EXPECT_EQ(acl_msgio_wait(client), 0);
        acl_msgio_close(client);
        done = true;
    });
    run_until([&] { return done.load(); }, 400);
    worker.join();
    ASSERT_EQ(got.msgs.size(), 1u);
    EXPECT_EQ(got.msgs[0], std::make_pair(1101, std::string("answer:host")));
}

TEST_F(MsgioFixture, ShortHeaderClosesTheConnectionWithoutDispatch) {
    Got got;
    acl_msgio_reg(listener, 0, record, &got);
    ACL_VSTREAM* raw = acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, 5, 5, 0);
    ASSERT_NE(raw, nullptr);
    acl_aio_loop(aio);  // accepted
    int before = acl_event_nstreams(acl_aio_event(aio));
    acl_vstream_writen(raw, "\0\0\0", 3);
    acl_vstream_close(raw);
    ASSERT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == before - 1; }));
    EXPECT_TRUE(got.msgs.empty());
}

TEST_F(MsgioFixture, NegativeLengthClosesTheConnection) {
    Got got;
    acl_msgio_reg(listener, 3, record, &got);
    ACL_VSTREAM* raw = acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, 5, 5, 0);
    ASSERT_NE(raw, nullptr);
    acl_aio_loop(aio);
    int before = acl_event_nstreams(acl_aio_event(aio));
    const char hdr[8] = {3, 0, 0, 0, '\xff', '\xff', '\xff', '\xff'};
    acl_vstream_writen(raw, hdr, sizeof(hdr));
    ASSERT_TRUE(run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == before - 1; }));
    EXPECT_TRUE(got.msgs.empty());
    acl_vstream_close(raw);
}

TEST(MsgioPair, EndsCarryMessagesBothWaysAndNothingListens) {
    ACL_AIO* aio = acl_aio_create_ex(0, 0, 0, 50000);
    int before = acl_event_nstreams(acl_aio_event(aio));
    ACL_MSGIO* a = nullptr;
    ACL_MSGIO* b = nullptr;
    ASSERT_EQ(acl_msgio_pair(aio, &a, &b), 0);
    Got to_a, to_b;
    acl_msgio_reg(a, 1101, record, &to_a);
    acl_msgio_reg(b, 1100, record, &to_b);
    std::string question(604, 'q'), answer(604, 'a');
    EXPECT_EQ(acl_msgio_send(a, 1100, question.data(), 604), 0);  // before the loop ran
    std::thread worker([&] { EXPECT_EQ(acl_msgio_send(b, 1101, answer.data(), 604), 0); });
    worker.join();
    for (int i = 0; i < 200 && (to_a.msgs.empty() || to_b.msgs.empty()); i++) acl_aio_loop(aio);
    ASSERT_EQ(to_b.msgs.size(), 1u);
    EXPECT_EQ(to_b.msgs[0].second, question);
    ASSERT_EQ(to_a.msgs.size(), 1u);
    EXPECT_EQ(to_a.msgs[0].second, answer);
    char addr[ACL_MSGIO_ADDR_MAX];
    acl_msgio_addr(a, addr, sizeof(addr));
    EXPECT_STREQ(addr, "pair") << "no address anyone could reach";
    acl_msgio_close(a);
    acl_msgio_close(b);
    for (int i = 0; i < 50 && acl_event_nstreams(acl_aio_event(aio)) > before; i++)
        acl_aio_loop(aio);
    acl_aio_free(aio);
}

TEST_F(MsgioFixture, MessagesPastTheBoundOfTheirTypeOrOfUnboundTypesClose) {
    const struct {
        const char* name;
        int type, dlen;
        bool delivered;
    } cases[] = {
        {"within the bound", 1100, 604, true},
        {"past the bound", 1100, 605, false},
        {"a type without a bound", 7, 1, false},
    };
    acl_msgio_limit(listener, 1100, 604);
    Got got;
    acl_msgio_reg(listener, 1100, record, &got);
    acl_msgio_reg(listener, 7, record, &got);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        got.msgs.clear();
        ACL_VSTREAM* raw = acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, 5, 5, 0);
        ASSERT_NE(raw, nullptr);
        acl_aio_loop(aio);  // accepted
        int open = acl_event_nstreams(acl_aio_event(aio));
        std::string msg(8, '\0');
        for (int i = 0; i < 4; i++) {
            msg[i] = static_cast<char>((c.type >> (8 * i)) & 0xff);
            msg[4 + i] = static_cast<char>((c.dlen >> (8 * i)) & 0xff);
        }
        msg += std::string(static_cast<size_t>(c.dlen), 'x');
        acl_vstream_writen(raw, msg.data(), msg.size());
        if (c.delivered) {
            EXPECT_TRUE(run_until([&] { return got.msgs.size() == 1; }));
        } else {
            EXPECT_TRUE(
                run_until([&] { return acl_event_nstreams(acl_aio_event(aio)) == open - 1; }));
            EXPECT_TRUE(got.msgs.empty());
        }
        acl_vstream_close(raw);
        run_until([] { return false; }, 3);
    }
}

}  // namespace
