// The event engine: order of events in a pass, buffered data without waiting,
// time-outs, timers and descriptor numbers past 1024.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acl_events.h"
#include "platform/limits.h"
#include "platform/socket.h"

namespace {

// A connected pair: `stream` is the engine's end, `peer` the raw other end.
struct Pair {
    ACL_VSTREAM* stream = nullptr;
    int peer = -1;
    Pair() {
        int fds[2];
        if (platform::sock_pair(fds) == 0) {
            stream = acl_vstream_fdopen(fds[0], 0, 0, 0, ACL_VSTREAM_TYPE_SOCK);
            peer = fds[1];
        }
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
    ~Pair() {
        if (stream) acl_vstream_close(stream);
        if (peer >= 0) platform::sock_close(peer);
    }
};

struct Log {
    std::vector<std::string> lines;
};

std::string name_of(int type) {
    switch (type) {
        case ACL_EVENT_READ:
            return "read";
        case ACL_EVENT_WRITE:
            return "write";
        case ACL_EVENT_XCPT:
            return "xcpt";
        case ACL_EVENT_TIME:
            return "time";
        case ACL_EVENT_RW_TIMEOUT:
            return "timeout";
    }
    return "?";
}

void on_read(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    static_cast<Log*>(ctx)->lines.push_back("r:" + name_of(type));
}

void on_write(int type, ACL_EVENT*, ACL_VSTREAM*, void* ctx) {
    static_cast<Log*>(ctx)->lines.push_back("w:" + name_of(type));
}

TEST(EventEngine, BufferedLineIsReadableWithoutWaiting) {
    ACL_EVENT* ev = acl_event_new(1, 0);
    Pair p;
    ASSERT_EQ(platform::sock_send(p.peer, "one\ntwo\n", 8), 8);
    char line[16];
    ASSERT_EQ(acl_vstream_gets(p.stream, line, sizeof(line)), 4);
    ASSERT_GT(acl_vstream_bfrd_cnt(p.stream),
              0u);  // "two\n" waits in the buffer, the socket is empty

    Log log;
    acl_event_enable_read(ev, p.stream, 0, on_read, &log);
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, std::vector<std::string>{"r:read"});
    // One-shot: the registration is gone until asked again.
    EXPECT_FALSE(acl_event_isrset(ev, p.stream));
    acl_event_disable_readwrite(ev, p.stream);
    acl_event_free(ev);
}

TEST(EventEngine, ExceptionReachesBothSidesBeforeAnythingElse) {
    ACL_EVENT* ev = acl_event_new(1, 0);
    Pair p;
    ASSERT_EQ(platform::sock_send(p.peer, "x", 1), 1);  // readable and writable too
    Log log;
    acl_event_enable_read(ev, p.stream, 0, on_read, &log);
    acl_event_enable_write(ev, p.stream, 0, on_write, &log);
    p.stream->flag |= ACL_VSTREAM_FLAG_EOF;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"r:xcpt", "w:xcpt"}));

    // Without the flag the same stream gets read, then write.
    p.stream->flag = 0;
    log.lines.clear();
    acl_event_enable_read(ev, p.stream, 0, on_read, &log);
    acl_event_enable_write(ev, p.stream, 0, on_write, &log);
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"r:read", "w:write"}));
    acl_event_disable_readwrite(ev, p.stream);
    acl_event_free(ev);
}

// A read handler that takes the stream out of the engine: the write handler
// collected in the same pass must not run.
void read_and_leave(int, ACL_EVENT* ev, ACL_VSTREAM* stream, void* ctx) {
    static_cast<Log*>(ctx)->lines.push_back("r");
    acl_event_disable_readwrite(ev, stream);
}

TEST(EventEngine, NoHandlerRunsAfterTheStreamLeft) {
    ACL_EVENT* ev = acl_event_new(1, 0);
    Pair p;
    Log log;
    acl_event_enable_read(ev, p.stream, 0, read_and_leave, &log);
    acl_event_enable_write(ev, p.stream, 0, on_write, &log);
    p.stream->flag |= ACL_VSTREAM_FLAG_ERR;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, std::vector<std::string>{"r"});
    EXPECT_EQ(acl_event_nstreams(ev), 0);
    acl_event_free(ev);
}

// The loop's clock, moved by hand through the engine's clock seam.
time_t g_now = 5000;
time_t fake_clock() { return g_now; }

TEST(EventEngine, DeadlineInWholeSecondsGivesOneTimeout) {
    ACL_EVENT* ev = acl_event_new(0, 1000);
    g_now = 5000;
    acl_event_set_clock_seam(ev, fake_clock);
    Pair p;
    Log log;
    acl_event_enable_read(ev, p.stream, 1, on_read, &log);
    // The deadline is registration + 1 s and passes once the clock is later.
    g_now = 5001;
    acl_event_loop(ev);
    EXPECT_TRUE(log.lines.empty());
    g_now = 5002;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, std::vector<std::string>{"r:timeout"});
    acl_event_loop(ev);  // nothing more: the registration was used up
    EXPECT_EQ(log.lines.size(), 1u);
    acl_event_disable_readwrite(ev, p.stream);
    acl_event_free(ev);
}

struct TimerCtx {
    Log* log;
    const char* name;
    int rearm = 0;
};

void on_timer(int type, ACL_EVENT* ev, void* ctx) {
    auto* t = static_cast<TimerCtx*>(ctx);
    t->log->lines.push_back(std::string(t->name) + ":" + name_of(type));
    if (t->rearm-- > 0) acl_event_request_timer(ev, on_timer, ctx, 0);
}

TEST(EventEngine, TimersRunOnceInDeadlineOrderAndRearmNextPass) {
    ACL_EVENT* ev = acl_event_new(1, 0);
    Log log;
    TimerCtx a{&log, "a", 1}, b{&log, "b"}, c{&log, "c"};
    acl_event_request_timer(ev, on_timer, &a, 0);
    acl_event_request_timer(ev, on_timer, &b, 0);
    acl_event_request_timer(ev, on_timer, &c, 0);
    EXPECT_GE(acl_event_cancel_timer(ev, on_timer, &b), 0);
    EXPECT_EQ(acl_event_cancel_timer(ev, on_timer, &b), -1);
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"a:time", "c:time"}));
    acl_event_loop(ev);  // a re-armed itself from its callback: it runs now, once
    EXPECT_EQ(log.lines, (std::vector<std::string>{"a:time", "c:time", "a:time"}));
    acl_event_free(ev);
}

TEST(EventEngine, TimersComeDueOnTheSeamClockAndMoveOrCancelAmongMany) {
    ACL_EVENT* ev = acl_event_new(0, 1000);
    g_now = 5000;
    acl_event_set_clock_seam(ev, fake_clock);
    Log log;
    // Many timers far out, so that the few under test sit among them.
    std::vector<TimerCtx> crowd(2000, TimerCtx{&log, "crowd"});
    for (size_t i = 0; i < crowd.size(); i++)
        acl_event_request_timer(ev, on_timer, &crowd[i], 100 + static_cast<int>(i % 50));
    TimerCtx a{&log, "a"}, b{&log, "b"}, c{&log, "c"};
    EXPECT_EQ(acl_event_request_timer(ev, on_timer, &a, 5), 5005);
    acl_event_request_timer(ev, on_timer, &b, 3);
    acl_event_request_timer(ev, on_timer, &c, 9);
    EXPECT_EQ(acl_event_request_timer(ev, on_timer, &b, 7), 5007);  // moved, not added
    for (size_t i = 0; i < crowd.size(); i += 2) acl_event_cancel_timer(ev, on_timer, &crowd[i]);
    EXPECT_EQ(acl_event_cancel_timer(ev, on_timer, &c), 9);

    g_now = 5004;
    acl_event_loop(ev);
    EXPECT_TRUE(log.lines.empty());
    g_now = 5007;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"a:time", "b:time"}));
    g_now = 5099;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines.size(), 2u);  // c was cancelled, the crowd is not due
    g_now = 5200;
    acl_event_loop(ev);
    EXPECT_EQ(log.lines.size(), 2u + crowd.size() / 2);  // the crowd's uncancelled half
    acl_event_free(ev);
}

void count_read(int type, ACL_EVENT*, ACL_VSTREAM* stream, void* ctx) {
    if (type == ACL_EVENT_READ) {
        char c;
        if (acl_vstream_read(stream, &c, 1) == 1) ++*static_cast<int*>(ctx);
    }
}

TEST(EventEngine, ThousandsOfDescriptorsPastSelectLimit) {
    constexpr int kPairs = 3000;
    if (platform::raise_open_file_limit() < 2 * kPairs + 100)
        GTEST_SKIP() << "open-file limit too low";
    ACL_EVENT* ev = acl_event_new(1, 0);
    std::vector<Pair> pairs(kPairs);
    int got = 0;
    for (auto& p : pairs) {
        ASSERT_NE(p.stream, nullptr);
        acl_event_enable_read(ev, p.stream, 0, count_read, &got);
        ASSERT_EQ(platform::sock_send(p.peer, "z", 1), 1);
    }
    EXPECT_GT(pairs.back().stream->fd, 1024);
    for (int i = 0; i < 20 && got < kPairs; i++) acl_event_loop(ev);
    EXPECT_EQ(got, kPairs);
    for (auto& p : pairs) acl_event_disable_readwrite(ev, p.stream);
    acl_event_free(ev);
}

}  // namespace
