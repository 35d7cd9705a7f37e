// Crash safety of the ".part" file: a child writing through the real store
// code is killed with SIGKILL at random moments; whatever its trailer then
// restores must hold exactly the bytes written there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/child_process.h"
#include "platform/file.h"
#include "platform/process.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;

namespace {

constexpr int64_t kLength = 1 << 20;

TEST(StoreCrash, KilledWriterLeavesOnlyTrueRangesInItsTrailer) {
    TempDir dir;
    TestCtrl t;
    const std::string body = pattern_bytes(kLength, 2026);
    const std::string part = dir.file("9.flv.part");
    unsigned seed = std::random_device{}();
    std::printf("crash test seed=%u\n", seed);
    std::mt19937 rng(seed);
    int kills = 0, restored_runs = 0, completes = 0;
    for (int run = 0; kills < 100 && run < 400; run++) {
        platform::ChildProcess child;
        ASSERT_EQ(child.start({STORE_CRASH_WRITER, dir.str(), std::to_string(kLength),
                               std::to_string(rng())}),
                  0);
        // Kill only once a trailer exists, at a random moment after that.
        bool has_trailer = tarvo_test::wait_until(
            [&] { return platform::file_size(part.c_str()) > kLength || !child.running(); },
            std::chrono::seconds(30));
        ASSERT_TRUE(has_trailer);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40000));
        if (platform::process_terminate(child.pid()) == 0) kills++;
        int status = child.wait(10000);
        if (status == 0) {
            // Finished before the kill: start the next download afresh.
            completes++;
            std::filesystem::remove(part);
            continue;
        }

        STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "9", dir.file("9.flv"), 5, kLength);
        ASSERT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
        if (store_stat_rest(e) == 1) restored_runs++;
        std::string file = read_file(part);
        for (int i = 0; i < store_range_set_size(e->ranges); i++) {
            const STORE_RANGE* r = store_range_set_index(e->ranges, i);
            ASSERT_LE(r->end, kLength);
            ASSERT_LE(static_cast<std::size_t>(r->end), file.size());
            std::size_t b = static_cast<std::size_t>(r->begin);
            std::size_t n = static_cast<std::size_t>(r->end - r->begin);
            ASSERT_TRUE(file.compare(b, n, body, b, n) == 0)
                << "seed=" << seed << " run=" << run << ": range [" << r->begin << ", " << r->end
                << ") does not hold the written bytes";
        }
        drop_entry(e);
    }
    EXPECT_EQ(kills, 100);
    EXPECT_GT(restored_runs, 50);  // the check ran against real trailers
    std::printf("kills=%d restored=%d completes=%d\n", kills, restored_runs, completes);
}

}  // namespace
