// The disk-space job: free space of the cache's volume and the quota left,
// refreshed every 10 seconds for the life of the process.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "acl_msg.h"
#include "acl_workq.h"
#include "p2p_resource.h"
#include "platform/disk.h"
#include "platform/self.h"

namespace {

constexpr int kCheckEveryMs = 10000;
std::atomic<int> g_walk_pause_ms{1000};
int (*g_save)(void*, const char*) = nullptr;
void* g_save_arg = nullptr;

void pause_walk() {
    int ms = g_walk_pause_ms.load();
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Bytes under `folder` (ending with "/"); the walk pauses after each entry so
// that it never competes with the downloads for the disk.
std::uint64_t folder_bytes(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (platform::dir_list(folder.c_str(), entries) != 0) return 0;
    std::uint64_t total = 0;
    for (const platform::DirEntry& e : entries) {
        if (e.is_dir)
            total += folder_bytes(folder + e.name + "/");
        else
            total += e.size;
        pause_walk();
    }
    return total;
}

}  // namespace

void resource_set_walk_pause_ms(int ms) { g_walk_pause_ms = ms; }

void resource_set_space_saver(int (*save)(void* arg, const char* decimal), void* arg) {
    g_save = save;
    g_save_arg = arg;
}

int _check_disk_space(const char* cache_path) {
    std::string folder = cache_path != nullptr ? cache_path : "";
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::uint64_t free_bytes = 0;
    if (platform::disk_free_bytes(folder.c_str(), &free_bytes) != 0) {
        acl_msg_error("%s(%d): check disk free space error(%s)", __func__, __LINE__,
                      platform::last_error_text().c_str());
        return -1;
    }
    g_client.disk_free_space = free_bytes;
    std::uint64_t used = folder_bytes(folder);
    std::uint64_t left = used < g_client.max_space ? g_client.max_space - used : 0;
    g_client.space_left = left;
    if (g_save != nullptr) g_save(g_save_arg, std::to_string(left).c_str());
    return 0;
}

void resource_disk_space_job(int, ACL_WORKER_ATTR*) {
    const std::string folder = g_client.cache_path;  // fixed once start-up is over
    for (;;) {
        _check_disk_space(folder.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(kCheckEveryMs));
    }
}
