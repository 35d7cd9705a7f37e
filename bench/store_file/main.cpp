// store_file_bench [MiB] [folder]: see CMakeLists.txt. Prints one line per
// figure; the write figures are MB/s (10^6 bytes per second) of body bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "acl_htable.h"
#include "platform/fd_file.h"
#include "platform/file_sizing.h"
#include "platform/self.h"
#include "store/store_client.h"
#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store/store_worker.h"
#include "test_support.h"

namespace {

constexpr int kChunk = 8192;
constexpr int kSaveEvery = 128;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The platform's sizing, but reported as not reserved: the store then fills.
int sizing_without_reserve(const char* path, int64_t length, bool* reserved, int* stage) {
    int rc = platform::file_size_at_least(path, length, reserved, stage);
    *reserved = false;
    return rc;
}

void free_entry(STORE_CTRL_ENTRY* e) {
    store_ctrl_entry_clean(e);
    std::free(e);
}

STORE_CTRL_ENTRY* new_entry(STORE_CTRL* ctrl, const std::string& path, int64_t len) {
    STORE_CLIENT* c = store_client_alloc(&ctrl->pool, "1", path.c_str(), 5, len, nullptr, 0,
                                         nullptr, sizeof(STORE_CLIENT));
    c->can_save = c->part_save = c->sync_stop = 1;
    STORE_CTRL_ENTRY* e = store_ctrl_entry_alloc(ctrl, c, sizeof(STORE_CTRL_ENTRY));
    store_client_free(c);
    return e;
}

void drop(STORE_CTRL_ENTRY* e) {
    acl_htable_delete(e->ctrl->table, e->id, nullptr);
    store_ctrl_entry_free(e);
}

// Opens a new download of `len` bytes: check, size, fill when needed.
double time_open(STORE_CTRL* ctrl, const std::string& path, int64_t len, bool force_fill,
                 STORE_CTRL_ENTRY** out) {
    std::filesystem::remove(path + ".part");
    STORE_FILE_SIZING_FN old =
        store_file_set_sizing_seam(force_fill ? sizing_without_reserve : nullptr);
    auto t0 = Clock::now();
    STORE_CTRL_ENTRY* e = new_entry(ctrl, path, len);
    if (store_file_check(e) != STORE_FILE_NEW || store_file_open(e, 0) != 0) {
        std::fprintf(stderr, "open failed\n");
        std::exit(1);
    }
    store_file_flush(e);
    double s = seconds_since(t0);
    store_file_set_sizing_seam(old);
    *out = e;
    return s;
}

// The store's write path: seek + buffered write per chunk, the range
// recorded, a trailer save every kSaveEvery chunks.
double time_store(STORE_CTRL_ENTRY* e, int64_t len, const std::vector<int64_t>& order,
                  const std::string& data, int* max_ranges) {
    STORE_WORKER* w = store_worker_alloc(e, 0, len, kChunk, sizeof(STORE_WORKER));
    std::memcpy(w->data, data.data(), kChunk);
    auto t0 = Clock::now();
    for (std::size_t i = 0; i < order.size(); i++) {
        w->from = order[i] * kChunk;
        w->dlen = kChunk;
        if (store_file_write(w) != kChunk) std::exit(1);
        store_range_set_insert(e->ranges, w->from, w->from + kChunk);
        if ((i + 1) % kSaveEvery == 0) {
            *max_ranges = std::max(*max_ranges, store_range_set_size(e->ranges));
            store_stat_log(e);
        }
    }
    store_file_flush(e);
    double s = seconds_since(t0);
    store_worker_free(w);
    return s;
}

// The same pattern through plain pwrite calls on a sized file.
double time_plain(const std::string& path, int64_t len, const std::vector<int64_t>& order,
                  const std::string& data) {
    std::filesystem::remove(path);
    bool reserved = false;
    platform::file_size_at_least(path.c_str(), len, &reserved, nullptr);
    int fd = platform::fd_open(path.c_str(), platform::FD_WRITE, 0600);
    auto t0 = Clock::now();
    for (int64_t at : order) {
        if (platform::fd_pwrite(fd, data.data(), kChunk, at * kChunk) != kChunk) std::exit(1);
    }
    double s = seconds_since(t0);
    platform::fd_close(fd);
    std::filesystem::remove(path);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    std::string folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    folder += "/store_file_bench." + std::to_string(platform::process_id());
    std::filesystem::create_directories(folder);
    const int64_t len = mib << 20;
    const std::string path = folder + "/1.flv";

    int64_t chunks = len / kChunk;
    std::vector<int64_t> order(static_cast<std::size_t>(chunks));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::string data = tarvo_test::pattern_bytes(kChunk, 3);

    STORE_CTRL* ctrl = store_ctrl_alloc(nullptr, sizeof(STORE_CTRL));
    ctrl->ops.ctrl_entry_free = free_entry;

    STORE_CTRL_ENTRY* e = nullptr;
    double open_fill = time_open(ctrl, path, len, true, &e);
    drop(e);
    double open_sized = time_open(ctrl, path, len, false, &e);
    std::printf(
        "open %lld MiB: sized and reserved (no fill) %.3f s; sized and zero-filled %.3f s\n",
        static_cast<long long>(mib), open_sized, open_fill);

    drop(e);
    double mb = static_cast<double>(len) / 1e6;
    struct Pattern {
        const char* name;
        std::vector<int64_t> order;
    };
    std::vector<Pattern> patterns = {{"shuffled offsets", order}, {"5 interleaved workers", {}}};
    // Five workers, each front to back through its own fifth, chunks arriving in turn.
    int64_t per = chunks / 5;
    for (int64_t i = 0; i < per; i++)
        for (int64_t k = 0; k < 5; k++) patterns[1].order.push_back(k * per + i);
    for (int64_t i = 5 * per; i < chunks; i++) patterns[1].order.push_back(i);

    for (const auto& pat : patterns) {
        double plain_s = time_plain(folder + "/plain.bin", len, pat.order, data);
        int max_ranges = 0;
        time_open(ctrl, path, len, false, &e);
        double store_s = time_store(e, len, pat.order, data, &max_ranges);
        drop(e);
        std::printf(
            "write %lld MiB in 8 KiB chunks, %s: store %.1f MB/s (%.2f s, trailer every %d "
            "chunks, up to %d ranges), plain pwrite %.1f MB/s (%.2f s), ratio %.2f\n",
            static_cast<long long>(mib), pat.name, mb / store_s, store_s, kSaveEvery, max_ranges,
            mb / plain_s, plain_s, plain_s / store_s);
    }
    store_ctrl_free(ctrl);
    std::filesystem::remove_all(folder);
    return 0;
}
