// Entry initialisation, the range planner, the chunk size rules and the stop
// test, with the store's clock stepped by the test.
#include <gtest/gtest.h>

#include "store/store_range.h"
#include "store/store_worker.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::TempDir;

namespace {

constexpr int64_t kMiB = 1048576;

struct PlanFixture : ::testing::Test {
    FakeClock clock;
    TestCtrl t;
    std::vector<STORE_WORKER*> workers;

    STORE_WORKER* add_worker(STORE_CTRL_ENTRY* e, int64_t from, int64_t len, int planned = 1) {
        STORE_WORKER* w = store_worker_alloc(e, from, len, 0, sizeof(STORE_WORKER));
        store_ctrl_entry_count_worker(e, w, planned);
        workers.push_back(w);
        return w;
    }
    void drop(STORE_CTRL_ENTRY* e) {
        for (STORE_WORKER* w : workers) {
            store_ctrl_entry_detach_worker(e, w);
            store_worker_free(w);
        }
        workers.clear();
        drop_entry(e);
    }
};

TEST_F(PlanFixture, ChunkSizeFromLengthAndConnections) {
    struct Case {
        int64_t length;
        int max_thread;
        int want_threads;
        int64_t want_off_inc;
    } cases[] = {
        {10 * kMiB, 5, 5, 2097152},     // the cap
        {2 * kMiB, 5, 5, 512000},       // the floor
        {7 * kMiB + 3, 3, 3, 2097152},  // 2446684 + 0, capped
        {1500000, 2, 2, 750000},        // within the bounds
        {512000, 5, 1, 512000},         // short: one connection, whole length
        {-1, 5, 1, -1},                 // unknown length
    };
    for (const auto& c : cases) {
        STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", c.max_thread, c.length);
        EXPECT_EQ(e->max_thread, c.want_threads) << c.length;
        EXPECT_EQ(e->worker_limit, c.want_threads) << c.length;
        EXPECT_EQ(e->off_inc, c.want_off_inc) << c.length;
        EXPECT_EQ(e->chunk_max, c.want_off_inc) << c.length;
        EXPECT_EQ(e->start_time, clock.now());
        drop(e);
    }
}

TEST_F(PlanFixture, FirstPlanWithoutWorkersCoversTheGapAfterThePrefetch) {
    STORE_CTRL_ENTRY* e =
        make_entry(t.ctrl, "1", "/c/1.flv", 5, 10 * kMiB, std::string(102400, 'x'));
    store_range_set_insert(e->ranges, 0, 102400);
    int64_t from, dlen;
    store_ctrl_entry_position(e, &from, &dlen);
    EXPECT_EQ(from, 102400);
    EXPECT_EQ(dlen, 2097152);  // cut to the chunk limit
    drop(e);
}

TEST_F(PlanFixture, SecondWorkerStartsAheadOfTheFirstWorkersPosition) {
    STORE_CTRL_ENTRY* e =
        make_entry(t.ctrl, "1", "/c/1.flv", 5, 10 * kMiB, std::string(102400, 'x'));
    store_range_set_insert(e->ranges, 0, 102400);
    STORE_WORKER* first = add_worker(e, 102400, 10 * kMiB - 102400, 0);
    first->first = 1;
    first->from = 300000;
    store_range_set_insert(e->ranges, 102400, 300000);
    int64_t from, dlen;
    store_ctrl_entry_position(e, &from, &dlen);
    EXPECT_EQ(from, 300000 + 524288);
    EXPECT_EQ(dlen, 2097152);
    // That worker claims its whole range; the next plan starts after it.
    add_worker(e, from, dlen);
    int64_t from2, dlen2;
    store_ctrl_entry_position(e, &from2, &dlen2);
    EXPECT_EQ(from2, from + dlen);
    drop(e);
}

TEST_F(PlanFixture, PlannerFillsTheFirstGapAndStopsAtTheEnd) {
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", 5, 4 * kMiB);
    struct Case {
        std::vector<STORE_RANGE> downloaded;
        int64_t want_from, want_dlen;
    } cases[] = {
        {{}, 0, 838864},                          // 4 MiB / 5 + rest, above the floor
        {{{0, 1000}, {5000, 9000}}, 1000, 4000},  // the first gap
        {{{0, 4 * kMiB}}, 4 * kMiB, 0},           // nothing left: from == L
        {{{3000, 4 * kMiB}}, 0, 3000},            // a front gap is planned too
    };
    for (const auto& c : cases) {
        store_range_set_clear(e->ranges);
        for (const auto& r : c.downloaded) store_range_set_insert(e->ranges, r.begin, r.end);
        int64_t from, dlen;
        store_ctrl_entry_position(e, &from, &dlen);
        EXPECT_EQ(from, c.want_from);
        EXPECT_EQ(dlen, c.want_dlen);
    }
    drop(e);
}

TEST_F(PlanFixture, UnsavedDownloadsGrowTheChunkLimitEveryRoundOfWorkers) {
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", 2, 100 * kMiB, "", 0, 0);
    ASSERT_EQ(e->off_inc, 2097152);
    int64_t from, dlen;
    store_ctrl_entry_position(e, &from, &dlen);  // created 0: a multiple of 2
    EXPECT_EQ(e->chunk_max, 2 * 2097152);
    EXPECT_EQ(e->growth, 2);
    e->created = 1;
    store_ctrl_entry_position(e, &from, &dlen);
    EXPECT_EQ(e->chunk_max, 2 * 2097152);
    e->created = 2;
    store_ctrl_entry_position(e, &from, &dlen);
    EXPECT_EQ(e->chunk_max, 4 * 2097152);
    drop(e);
}

TEST_F(PlanFixture, UpstatSplitsTheMissingBytes) {
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", 5, 10 * kMiB);
    store_range_set_insert(e->ranges, 0, 10 * kMiB - 1000000);
    store_ctrl_entry_upstat(e);
    EXPECT_EQ(e->off_inc, 200000);
    EXPECT_EQ(e->chunk_max, 512000);
    drop(e);
}

// Two open workers, per-worker speed S below 25600, worker limit M = 5.
struct StopFixture : PlanFixture {
    STORE_CTRL_ENTRY* e = nullptr;
    STORE_WORKER* w1 = nullptr;
    STORE_WORKER* w2 = nullptr;
    static constexpr int64_t kPrefix = 600000;
    static constexpr int64_t S = 10000;  // per worker; current speed 2 * S

    void SetUp() override {
        e = make_entry(t.ctrl, "7", "/c/7.flv", 5, 100 * kMiB);
        store_range_set_insert(e->ranges, 0, kPrefix);
        w1 = add_worker(e, 5 * kMiB, 2 * kMiB);
        w2 = add_worker(e, 9 * kMiB, 2 * kMiB);
        e->cur_speed = 2 * S;
        clock.advance(4);
    }
    void TearDown() override { drop(e); }
    // Puts the worker's range end `dist` bytes beyond the prefix.
    void place(STORE_WORKER* w, int64_t dist) {
        w->off_begin = kPrefix;
        w->off_dlen = dist;
        w->from = kPrefix;
    }
};

TEST_F(StopFixture, FirstInRingBeyondItsAllowanceIsStoppedAndCut) {
    int64_t m = e->worker_limit;
    place(w1, m * S * 3 / 2);
    w1->from = w1->off_begin + 4096;
    EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w1), 1);
    EXPECT_EQ(w1->off_dlen, 4096);  // the rest goes back to the planner
    EXPECT_EQ(e->stop_time, clock.now());
}

TEST_F(StopFixture, SecondInRingHasTwiceTheAllowance) {
    int64_t m = e->worker_limit;
    place(w2, m * S * 3 / 2);
    EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w2), 0);
}

TEST_F(StopFixture, NoFurtherStopWithinThreeSecondsOfAStop) {
    int64_t m = e->worker_limit;
    place(w1, m * S * 3 / 2);
    ASSERT_EQ(store_ctrl_entry_worker_if_stop(e, w1), 1);
    place(w2, m * S * 5);  // far beyond its allowance
    EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w2), 0);
    clock.advance(2);
    EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w2), 0);
    clock.advance(1);
    EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w2), 1);
}

TEST_F(StopFixture, RulesThatLetTheWorkerContinue) {
    int64_t m = e->worker_limit;
    struct Case {
        const char* name;
        void (*arrange)(StopFixture&);
    } cases[] = {
        {"within three seconds of the start",
         [](StopFixture& f) { f.e->start_time = f.clock.now() - 2; }},
        {"fast workers", [](StopFixture& f) { f.e->cur_speed = 2 * 25600; }},
        {"one worker open", [](StopFixture& f) { f.e->worker_opens = 1; }},
        {"no downloaded range", [](StopFixture& f) { store_range_set_clear(f.e->ranges); }},
    };
    for (const auto& c : cases) {
        place(w1, m * S * 3 / 2);
        int64_t opens = e->worker_opens;
        time_t start = e->start_time;
        int64_t speed = e->cur_speed;
        c.arrange(*this);
        EXPECT_EQ(store_ctrl_entry_worker_if_stop(e, w1), 0) << c.name;
        e->worker_opens = static_cast<int>(opens);
        e->start_time = start;
        e->cur_speed = speed;
        store_range_set_insert(e->ranges, 0, kPrefix);
    }
}

TEST_F(PlanFixture, SpeedsWaitForAWholeSecondOfTheControllersClock) {
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", 5, 10 * kMiB);
    t.ctrl->speed_time = clock.now();
    e->http_bytes = 300000;
    t.ctrl->total = 300000;
    EXPECT_EQ(store_ctrl_entry_speed(e), 0);
    clock.advance(2);
    EXPECT_EQ(store_ctrl_entry_speed(e), 1);
    EXPECT_EQ(e->cur_speed, 150000);
    EXPECT_EQ(e->avr_speed, 150000);
    EXPECT_EQ(t.ctrl->total_speed, 150000);
    EXPECT_EQ(e->http_bytes_last, 300000);
    drop(e);
}

TEST_F(PlanFixture, CountingAndDetachingWorkers) {
    TempDir dir;
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "1", "/c/1.flv", 5, 10 * kMiB);
    STORE_WORKER* a = add_worker(e, 0, 100);
    STORE_WORKER* b = add_worker(e, 100, 100);
    EXPECT_EQ(e->worker_opens, 2);
    EXPECT_EQ(e->created, 2);
    EXPECT_EQ(e->worker_holds, 2);
    EXPECT_EQ(a->id, 0);
    EXPECT_EQ(b->id, 1);
    store_ctrl_entry_detach_worker(e, a);
    store_ctrl_entry_detach_worker(e, a);  // a second detach (open failure, then quit) is a no-op
    EXPECT_EQ(e->worker_opens, 1);
    EXPECT_EQ(store_ring_size(&e->workers), 1);
    EXPECT_EQ(e->worker_holds, 2);  // still held until each quit is answered
    store_ctrl_entry_release_worker(e, a);
    EXPECT_EQ(e->worker_holds, 1);
    e->worker_holds = 0;
    EXPECT_STORE_FATAL(
        dir.file("f.log"),
        {
            e->worker_opens = 0;
            store_ctrl_entry_detach_worker(e, b);
        },
        "worker_opens(-1) < 0");
    EXPECT_STORE_FATAL(
        dir.file("g.log"),
        {
            STORE_CTRL_ENTRY* z = make_entry(t.ctrl, "9", "/c/9.flv", 5, 0);
            (void)z;
        },
        "content_length(0) invalid");
    drop(e);
}

}  // namespace
