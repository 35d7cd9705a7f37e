// The worker pool: the thread limit, the overload warning, jobs queued from
// jobs, idle expiry, the worker record, hooks and teardown.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "acl_workq.h"
#include "queue_test_log.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);  // far beyond any healthy wait

// Polls `done` until it holds or patience runs out.
bool eventually(const std::function<bool()>& done) {
    return tarvo_test::wait_until(done, kPatience);
}

// Jobs that hold their worker until the gate opens, counting how many run at
// the same moment.
struct Gate {
    std::mutex lock;
    std::condition_variable cond;
    bool open = false;
    int running = 0;
    int max_running = 0;
    int finished = 0;

    static void job(int, ACL_WORKER_ATTR* worker) {
        Gate* g = static_cast<Gate*>(worker->job_arg);
        std::unique_lock<std::mutex> guard(g->lock);
        g->running++;
        g->max_running = std::max(g->max_running, g->running);
        g->cond.notify_all();
        g->cond.wait(guard, [g] { return g->open; });
        g->running--;
        g->finished++;
        g->cond.notify_all();
    }

    bool wait_for(int want_running) {
        std::unique_lock<std::mutex> guard(lock);
        return cond.wait_for(guard, kPatience, [&] { return running == want_running; });
    }

    void release() {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
        cond.notify_all();
    }

    bool wait_finished(int want) {
        std::unique_lock<std::mutex> guard(lock);
        return cond.wait_for(guard, kPatience, [&] { return finished == want; });
    }
};

// However a test leaves, the jobs are let go and the queue ends before the
// gate does.
struct GateCleanup {
    Gate& gate;
    ACL_WORKQ*& wq;
    ~GateCleanup() {
        gate.release();
        if (wq != nullptr) acl_workq_destroy(wq);
    }
};

TEST(Workq, LimitOfTwoRunsTwoJobsAtOnceAndWarnsOnceForTheThird) {
    TempLog log;
    Gate gate;
    ACL_WORKQ* wq = acl_workq_create(2, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    GateCleanup cleanup{gate, wq};

    for (int i = 0; i < 3; i++) ASSERT_EQ(acl_workq_add(wq, Gate::job, 0, &gate), 0);
    ASSERT_TRUE(gate.wait_for(2));
    EXPECT_EQ(acl_workq_nthreads(wq), 2);
    EXPECT_EQ(acl_workq_qlen(wq), 1);  // the third waits for a free worker
    gate.release();
    ASSERT_TRUE(gate.wait_finished(3));
    EXPECT_EQ(gate.max_running, 2);
    EXPECT_EQ(acl_workq_destroy(wq), 0);
    wq = nullptr;

    auto warnings = log.grep("(1, warn): ");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(std::regex_search(
        warnings[0], std::regex(R"(\(1, warn\): acl_workq\.cpp\(\d+\)->acl_workq_add: reached the )"
                                R"(max_thread = 2, push into the queue now, qlen=[1-3], idle=0$)")))
        << warnings[0];
}

// One idle worker and several jobs added at once: the idle worker is woken
// for one of them, and each of the others gets a thread of its own, even
// before the woken worker has left its wait.
TEST(Workq, JobsAddedTogetherBesideOneIdleWorkerAllRunAtOnce) {
    Gate gate;
    ACL_WORKQ* wq = acl_workq_create(10, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    GateCleanup cleanup{gate, wq};

    std::atomic<bool> warmed{false};
    ASSERT_EQ(
        acl_workq_add(
            wq,
            [](int, ACL_WORKER_ATTR* w) { *static_cast<std::atomic<bool>*>(w->job_arg) = true; }, 0,
            &warmed),
        0);
    ASSERT_TRUE(eventually([&] { return warmed.load() && acl_workq_nidle(wq) == 1; }));
    for (int i = 0; i < 3; i++) ASSERT_EQ(acl_workq_add(wq, Gate::job, 0, &gate), 0);
    EXPECT_TRUE(gate.wait_for(3)) << "a job waited behind a worker that was already taken";
    gate.release();
    ASSERT_TRUE(gate.wait_finished(3));
}

// Each link queues the next from inside its own worker.
struct Chain {
    ACL_WORKQ* wq;
    std::atomic<int> depth{0};
    std::atomic<int> add_result{-1};

    static void job(int, ACL_WORKER_ATTR* worker) {
        Chain* c = static_cast<Chain*>(worker->job_arg);
        if (++c->depth < 5) c->add_result = acl_workq_add(c->wq, job, 0, c);
    }
};

TEST(Workq, JobQueuedFromAWorkerRunsEvenAtTheLimit) {
    ACL_WORKQ* wq = acl_workq_create(1, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    Chain chain{wq};
    ASSERT_EQ(acl_workq_add(wq, Chain::job, 0, &chain), 0);
    EXPECT_TRUE(eventually([&] { return chain.depth == 5; }));
    EXPECT_EQ(chain.add_result, 0);
    EXPECT_EQ(acl_workq_destroy(wq), 0);
}

void no_job(int, ACL_WORKER_ATTR*) {}

TEST(Workq, InvalidArgumentsAreRefusedWithEinval) {
    ACL_WORKQ* wq = acl_workq_create(1, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    EXPECT_EQ(acl_workq_add(wq, nullptr, 0, nullptr), EINVAL);
    EXPECT_EQ(acl_workq_add(nullptr, no_job, 0, nullptr), EINVAL);
    EXPECT_EQ(acl_workq_qlen(wq), 0);
    EXPECT_EQ(acl_workq_nthreads(wq), 0);  // nothing started for a refused job
    EXPECT_EQ(acl_workq_destroy(wq), 0);
    EXPECT_EQ(acl_workq_create(0, 0, 0, 0), nullptr);
}

// What one worker saw of its record, job by job.
struct Seen {
    std::mutex lock;
    std::vector<ACL_WORKER_ATTR> records;
    std::vector<int> events;
    std::atomic<int> inits{0};
    std::atomic<int> frees{0};
    std::atomic<Clock::rep> last_job_end{0};
    std::atomic<Clock::rep> freed_at{0};

    static void job(int event, ACL_WORKER_ATTR* worker) {
        Seen* s = static_cast<Seen*>(worker->job_arg);
        std::lock_guard<std::mutex> guard(s->lock);
        s->records.push_back(*worker);
        s->events.push_back(event);
        s->last_job_end = Clock::now().time_since_epoch().count();
    }
    static int init(void* arg) {
        static_cast<Seen*>(arg)->inits++;
        return 0;
    }
    static int init_fails(void* arg) {
        static_cast<Seen*>(arg)->inits++;
        return -1;
    }
    static void free(void* arg) {
        Seen* s = static_cast<Seen*>(arg);
        s->freed_at = Clock::now().time_since_epoch().count();
        s->frees++;
    }
};

TEST(Workq, WorkerRecordCarriesHookArgumentsContextAndJobCount) {
    ACL_WORKQ* wq = acl_workq_create(1, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    Seen seen;
    ASSERT_EQ(acl_workq_atinit(wq, Seen::init, &seen), 0);
    ASSERT_EQ(acl_workq_atfree(wq, Seen::free, &seen), 0);
    for (int event = 1; event <= 3; event++)
        ASSERT_EQ(acl_workq_add(wq, Seen::job, event, &seen), 0);
    EXPECT_EQ(acl_workq_destroy(wq), 0);  // runs what is queued, then ends the worker

    ASSERT_EQ(seen.records.size(), 3u);
    EXPECT_EQ(seen.events, (std::vector<int>{1, 2, 3}));
    for (size_t i = 0; i < 3; i++) {
        const ACL_WORKER_ATTR& r = seen.records[i];
        EXPECT_EQ(r.count, i + 1);
        EXPECT_EQ(r.id, seen.records[0].id);  // one worker ran them all
        EXPECT_NE(r.id, 0u);
        EXPECT_GT(r.start_t, 0);
        EXPECT_EQ(r.reserved, 0u);
        EXPECT_EQ(r.init_arg, &seen);
        EXPECT_EQ(r.free_arg, &seen);
        EXPECT_EQ(r.job_arg, &seen);
    }
    EXPECT_EQ(seen.inits, 1);
    EXPECT_EQ(seen.frees, 1);  // destroy returns only after the exit hook ran
}

TEST(Workq, IdleWorkerEndsAfterTheIdleTimeoutAndSaysSo) {
    TempLog log;
    acl_debug_init("1:2");
    ACL_WORKQ* wq = acl_workq_create(1, 1, 0, 0);
    ASSERT_NE(wq, nullptr);
    Seen seen;
    ASSERT_EQ(acl_workq_atfree(wq, Seen::free, &seen), 0);
    ASSERT_EQ(acl_workq_add(wq, Seen::job, 0, &seen), 0);

    ASSERT_TRUE(eventually([&] { return seen.frees == 1; }));
    EXPECT_EQ(acl_workq_nthreads(wq), 0);
    auto idle = Clock::duration(seen.freed_at.load() - seen.last_job_end.load());
    EXPECT_GE(idle, std::chrono::milliseconds(900));

    ASSERT_EQ(seen.records.size(), 1u);
    auto lines = log.grep(") exit now");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_search(
        lines[0], std::regex(R"(\(0, info\): __worker_thread\(\d+\): thread\()" +
                             std::to_string(seen.records[0].id) + R"(\) exit now$)")))
        << lines[0];

    // A job after the expiry gets a fresh worker.
    ASSERT_EQ(acl_workq_add(wq, Seen::job, 0, &seen), 0);
    EXPECT_EQ(acl_workq_destroy(wq), 0);
    EXPECT_EQ(seen.records.size(), 2u);
    EXPECT_EQ(seen.frees, 2);
}

TEST(Workq, WorkerWhoseStartHookFailsGivesItsSlotBack) {
    TempLog log;
    ACL_WORKQ* wq = acl_workq_create(1, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    Seen seen;
    ASSERT_EQ(acl_workq_atinit(wq, Seen::init_fails, &seen), 0);
    ASSERT_EQ(acl_workq_add(wq, Seen::job, 0, &seen), 0);
    ASSERT_TRUE(eventually([&] { return acl_workq_nthreads(wq) == 0; }));
    EXPECT_EQ(seen.inits, 1);

    // The slot is free again: the next job starts a new worker instead of
    // waiting for ever behind a thread that no longer exists.
    ASSERT_EQ(acl_workq_add(wq, Seen::job, 0, &seen), 0);
    EXPECT_TRUE(eventually([&] { return seen.inits == 2; }));
    EXPECT_TRUE(eventually([&] { return acl_workq_nthreads(wq) == 0; }));
    EXPECT_EQ(acl_workq_destroy(wq), 0);
    EXPECT_TRUE(seen.records.empty());
    EXPECT_EQ(log.grep("worker init call error").size(), 2u);
    EXPECT_TRUE(log.grep("max_thread").empty());
}

TEST(Workq, ManyThreadsAddingConcurrentlyRunEveryJobOnce) {
    TempLog log;  // takes the overload warnings
    ACL_WORKQ* wq = acl_workq_create(4, 0, 0, 0);
    ASSERT_NE(wq, nullptr);
    constexpr int kProducers = 4, kJobs = 500;
    std::vector<std::atomic<int>> ran(kProducers * kJobs);
    auto job = [](int event, ACL_WORKER_ATTR* worker) {
        static_cast<std::atomic<int>*>(worker->job_arg)[event]++;
    };
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kJobs; i++)
                EXPECT_EQ(acl_workq_add(wq, job, p * kJobs + i, ran.data()), 0);
        });
    for (auto& t : producers) t.join();
    EXPECT_EQ(acl_workq_destroy(wq), 0);
    for (size_t i = 0; i < ran.size(); i++) ASSERT_EQ(ran[i], 1) << "job " << i;
}

}  // namespace
