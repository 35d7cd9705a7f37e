// store_crash_writer <folder> <length> <seed>: the child of the crash-safety
// test. It downloads a resource of <length> pattern bytes into <folder>/9.flv
// through the real entry, file and trailer code: chunks of 1 to 6000 bytes at
// scattered offsets of the missing part, a trailer save whenever the store's
// clock says the last one is more than a second old (the clock steps one second
// per chunk), and a short pause between chunks as a controller has while it
// waits for the next worker's message. A ".part" file left by a killed run is
// resumed from its trailer. Exits 0 when the file is complete.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store/store_time.h"
#include "store/store_worker.h"
#include "test_support.h"

namespace {

time_t g_now = 1000;
time_t fake_clock() { return g_now; }

void free_entry(STORE_CTRL_ENTRY* e) {
    store_ctrl_entry_clean(e);
    std::free(e);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s folder length seed\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    int64_t len = std::atoll(argv[2]);
    std::mt19937 rng(static_cast<unsigned>(std::atoll(argv[3])));
    const std::string body = tarvo_test::pattern_bytes(static_cast<std::size_t>(len), 2026);
    constexpr int64_t kPrefetch = 102400;
    store_time_set_clock(fake_clock);

    STORE_CTRL* ctrl = store_ctrl_alloc(nullptr, sizeof(STORE_CTRL));
    ctrl->ops.ctrl_entry_free = free_entry;
    STORE_CLIENT* client =
        store_client_alloc(&ctrl->pool, "9", (folder + "/9.flv").c_str(), 5, len, body.data(),
                           kPrefetch, nullptr, sizeof(STORE_CLIENT));
    client->can_save = client->part_save = client->sync_stop = 1;
    STORE_CTRL_ENTRY* e = store_ctrl_entry_alloc(ctrl, client, sizeof(STORE_CTRL_ENTRY));
    store_client_free(client);

    int state = store_file_check(e);
    if (state == STORE_FILE_NEW) {
        if (store_file_open(e, 0) != 0) return 1;
        store_file_put(e->fp, body.data(), kPrefetch);
        store_range_set_insert(e->ranges, 0, kPrefetch);
    } else if (state == STORE_FILE_PARTIAL) {
        if (store_file_open(e, 1) != 0) return 1;
        store_stat_rest(e);
    } else {
        return 1;
    }

    STORE_WORKER* w = store_worker_alloc(e, 0, len, 6000, sizeof(STORE_WORKER));
    while (!store_ctrl_entry_covered(e)) {
        std::vector<STORE_RANGE> gaps;
        int64_t at = 0;
        for (int i = 0; i < store_range_set_size(e->ranges); i++) {
            const STORE_RANGE* r = store_range_set_index(e->ranges, i);
            if (r->begin > at) gaps.push_back({at, r->begin});
            at = r->end;
        }
        if (at < len) gaps.push_back({at, len});
        const STORE_RANGE& g = gaps[rng() % gaps.size()];
        int64_t from =
            g.begin + static_cast<int64_t>(rng() % static_cast<uint64_t>(g.end - g.begin));
        int64_t n = std::min<int64_t>(1 + rng() % 6000, g.end - from);
        std::memcpy(w->data, body.data() + from, static_cast<std::size_t>(n));
        w->from = from;
        w->dlen = n;
        if (store_file_write(w) != n) return 1;
        store_range_set_insert(e->ranges, from, from + n);
        store_stat_log_due(e);
        g_now++;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    store_stat_log(e);
    store_worker_free(w);
    store_file_close(e);
    std::printf("complete\n");
    return 0;
}
