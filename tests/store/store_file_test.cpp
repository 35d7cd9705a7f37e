// Cache files: names, the four check states, sizing and the zero fill, writes
// at offsets, and what happens to the files when a download ends.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "platform/file.h"
#include "platform/file_sizing.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store/store_worker.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;
namespace fs = std::filesystem;

namespace {

// Sizing seams: set the length with ftruncate alone (no blocks allocated) and
// report it as reserved or not, or fail at the sizing step.
int size_only(const char* path, int64_t length, bool* reserved, bool say_reserved) {
    int fd =
        platform::fd_open(path, platform::FD_READ | platform::FD_WRITE | platform::FD_CREATE, 0600);
    if (fd < 0) return -1;
    int rc = platform::fd_size(fd) >= length ? 0 : platform::fd_truncate(fd, length);
    platform::fd_close(fd);
    *reserved = say_reserved;
    return rc;
}
int seam_sized_not_reserved(const char* p, int64_t l, bool* r, int*) {
    return size_only(p, l, r, false);
}
int seam_sized_reserved(const char* p, int64_t l, bool* r, int*) {
    return size_only(p, l, r, true);
}
int seam_fail(const char*, int64_t, bool* r, int* stage) {
    *r = false;
    *stage = platform::FILE_SIZING_SIZE;
    errno = ENOSPC;
    return -1;
}

struct SizingSeam {
    explicit SizingSeam(STORE_FILE_SIZING_FN fn) { old = store_file_set_sizing_seam(fn); }
    ~SizingSeam() { store_file_set_sizing_seam(old); }
    STORE_FILE_SIZING_FN old;
};

struct FileFixture : ::testing::Test {
    TempDir dir;
    TestCtrl t;
    std::string final_path() const { return dir.file("77.flv"); }
    std::string part_path() const { return final_path() + ".part"; }

    STORE_CTRL_ENTRY* entry(int64_t len, int max_thread = 5, int can_save = 1, int part_save = 1) {
        return make_entry(t.ctrl, "77", final_path(), max_thread, len, "", can_save, part_save);
    }
    // Check, then open as the controller does for a new or a partial file.
    int open(STORE_CTRL_ENTRY* e) {
        int state = store_file_check(e);
        if (state == STORE_FILE_NEW || state == STORE_FILE_PARTIAL)
            EXPECT_EQ(store_file_open(e, state == STORE_FILE_PARTIAL), 0);
        return state;
    }
};

TEST(StoreFilePath, FollowsThePlatformPathRule) {
    struct Case {
        const char* dir;
        const char* ext;
        const char* want;
    } cases[] = {{"/var/cache", "flv", "/var/cache/123.flv"},
                 {"/var/cache/", nullptr, "/var/cache/123.flv"},
                 {"\\var\\cache", "", "/var/cache/123.flv"},
                 {"/c", "mp4", "/c/123.mp4"}};
    for (const auto& c : cases) {
        char buf[STORE_PATH_MAX];
        ASSERT_EQ(store_file_path(buf, sizeof(buf), c.dir, "123", c.ext), 0);
        EXPECT_STREQ(buf, c.want);
    }
    char tiny[8];
    EXPECT_EQ(store_file_path(tiny, sizeof(tiny), "/var/cache", "123", "flv"), -1);
}

TEST_F(FileFixture, CheckReportsEveryState) {
    // Neither file: new, ".part" appended to the working path.
    STORE_CTRL_ENTRY* e = entry(1000000);
    EXPECT_EQ(store_file_check(e), STORE_FILE_NEW);
    EXPECT_EQ(std::string(e->part_path), part_path());
    drop_entry(e);

    // The working file: partial.
    write_file(part_path(), "x");
    e = entry(1000000);
    EXPECT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
    EXPECT_EQ(std::string(e->part_path), part_path());
    drop_entry(e);

    // The final file: finished, no worker will run.
    write_file(final_path(), "done");
    e = entry(1000000);
    EXPECT_EQ(store_file_check(e), STORE_FILE_FINISHED);
    EXPECT_EQ(e->complete, 1);
    EXPECT_EQ(e->max_thread, 0);
    EXPECT_EQ(e->fp, nullptr);
    EXPECT_EQ(std::string(e->part_path), final_path());
    drop_entry(e);

    // A check that fails for another reason than "does not exist".
    write_file(dir.file("plain"), "");
    {
        LogCapture log(dir.file("check.log"));
        e = make_entry(t.ctrl, "78", dir.file("plain") + "/78.flv", 5, 1000000);
        EXPECT_EQ(store_file_check(e), STORE_FILE_ERROR);
        EXPECT_NE(log.text().find("exist, error("), std::string::npos) << log.text();
        drop_entry(e);
    }
}

TEST_F(FileFixture, CheckRefusedAccessIsAnError) {
    write_file(final_path(), "done");
    fs::permissions(final_path(), fs::perms::none);
    if (platform::file_access_rw(final_path().c_str()) == 0)
        GTEST_SKIP() << "this user (root) may read and write any file";
    LogCapture log(dir.file("check.log"));
    STORE_CTRL_ENTRY* e = entry(1000000);
    EXPECT_EQ(store_file_check(e), STORE_FILE_ERROR);
    EXPECT_NE(log.text().find("not permission"), std::string::npos) << log.text();
    drop_entry(e);
}

TEST_F(FileFixture, ReservedLengthSkipsTheZeroFill) {
    constexpr int64_t L = 4 << 20;
    {
        SizingSeam seam(seam_sized_reserved);  // sized sparsely, but said reserved
        STORE_CTRL_ENTRY* e = entry(L);
        ASSERT_EQ(open(e), STORE_FILE_NEW);
        EXPECT_EQ(platform::file_size(e->part_path), L);
        EXPECT_LT(platform::file_allocated_bytes(e->part_path), L / 2);  // nothing was written
        drop_entry(e);
    }
    fs::remove(part_path());
    {
        SizingSeam seam(seam_sized_not_reserved);
        STORE_CTRL_ENTRY* e = entry(L);
        ASSERT_EQ(open(e), STORE_FILE_NEW);
        EXPECT_EQ(platform::file_size(e->part_path), L);
        EXPECT_GE(platform::file_allocated_bytes(e->part_path), L);  // the fill wrote every byte
        drop_entry(e);
    }
    fs::remove(part_path());
    // The real sizing call reserves on this file system.
    bool reserved = false;
    ASSERT_EQ(store_file_fmtruncate(part_path().c_str(), L, &reserved), 0);
    EXPECT_TRUE(reserved);
    EXPECT_EQ(platform::file_size(part_path().c_str()), L);
    EXPECT_GE(platform::file_allocated_bytes(part_path().c_str()), L);
    EXPECT_EQ(fs::status(part_path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileFixture, ResumeIsNotZeroFilledAgain) {
    SizingSeam seam(seam_sized_not_reserved);  // a new file would be filled
    constexpr int64_t L = 1 << 20;
    std::string body = pattern_bytes(L, 5);
    write_file(part_path(), body);
    STORE_CTRL_ENTRY* e = entry(L);
    ASSERT_EQ(open(e), STORE_FILE_PARTIAL);
    store_file_close(e);
    EXPECT_EQ(read_file(part_path()), body);
    drop_entry(e);
}

TEST_F(FileFixture, FailedSizingMeansOneConnectionAndNoResume) {
    SizingSeam seam(seam_fail);
    LogCapture log(dir.file("open.log"));
    STORE_CTRL_ENTRY* e = entry(2 << 20);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    EXPECT_EQ(e->max_thread, 1);
    EXPECT_EQ(e->worker_limit, 1);
    EXPECT_NE(log.text().find("create file map(" + part_path() + ") error("), std::string::npos);
    // Left incomplete, even with part_save, it is deleted.
    store_file_put(e->fp, "abc", 3);
    store_file_close(e);
    on_download_over(e);
    EXPECT_FALSE(fs::exists(part_path()));
    drop_entry(e);
}

TEST_F(FileFixture, CompleteDownloadIsRenamedCutAndHandedOver) {
    constexpr int64_t L = 700000;
    std::string body = pattern_bytes(L, 9);
    STORE_CTRL_ENTRY* e = entry(L);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    ASSERT_EQ(store_file_put(e->fp, body.data(), L), L);
    store_range_set_insert(e->ranges, 0, L);
    ASSERT_EQ(store_stat_log(e), 0);
    EXPECT_EQ(platform::file_size(e->part_path), L + 64);
    e->complete = 1;
    store_file_close(e);
    on_download_over(e);
    EXPECT_FALSE(fs::exists(part_path()));
    EXPECT_EQ(read_file(final_path()), body);
    EXPECT_EQ(TestCtrl::completions, 1);
    drop_entry(e);
}

TEST_F(FileFixture, CompletionHookMayAskForDeletion) {
    TestCtrl::complete_answer = 1;
    STORE_CTRL_ENTRY* e = entry(600000);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    e->complete = 1;
    store_file_close(e);
    on_download_over(e);
    EXPECT_EQ(TestCtrl::completions, 1);
    EXPECT_FALSE(fs::exists(final_path()));
    EXPECT_FALSE(fs::exists(part_path()));
    drop_entry(e);
}

TEST_F(FileFixture, FailedRenameKeepsThePartAndSkipsTheHook) {
    STORE_CTRL_ENTRY* e = entry(600000);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    // A non-empty folder under the final name cannot be replaced by a file.
    fs::create_directories(final_path());
    write_file(final_path() + "/inside", "x");
    e->complete = 1;
    store_file_close(e);
    LogCapture log(dir.file("over.log"));
    on_download_over(e);
    EXPECT_TRUE(fs::exists(part_path()));
    EXPECT_EQ(platform::file_size(part_path().c_str()), 600000);
    EXPECT_EQ(TestCtrl::completions, 0);
    EXPECT_NE(log.text().find("rename from " + part_path() + " to " + final_path() + " error("),
              std::string::npos)
        << log.text();
    drop_entry(e);
}

TEST_F(FileFixture, IncompleteDownloadsKeepOrDropTheirPart) {
    struct Case {
        const char* name;
        int can_save, part_save, max_thread;
        bool kept;
    } cases[] = {{"saved, part_save, several connections", 1, 1, 5, true},
                 {"not to be saved", 0, 1, 5, false},
                 {"no part_save", 1, 0, 5, false},
                 {"one connection", 1, 1, 1, false}};
    for (const auto& c : cases) {
        STORE_CTRL_ENTRY* e = entry(2 << 20, c.max_thread, c.can_save, c.part_save);
        ASSERT_EQ(open(e), STORE_FILE_NEW) << c.name;
        store_file_close(e);
        on_download_over(e);
        EXPECT_EQ(fs::exists(part_path()), c.kept) << c.name;
        fs::remove(part_path());
        drop_entry(e);
    }
    // A download served from its finished file leaves it alone.
    write_file(final_path(), "done");
    STORE_CTRL_ENTRY* e = entry(2 << 20, 5, 0, 0);
    ASSERT_EQ(open(e), STORE_FILE_FINISHED);
    ASSERT_EQ(store_file_reuse(e), 0);
    EXPECT_EQ(store_range_set_sum(e->ranges), 4);
    on_download_over(e);
    EXPECT_EQ(read_file(final_path()), "done");
    EXPECT_EQ(TestCtrl::completions, 0);
    drop_entry(e);
}

TEST_F(FileFixture, WritesGoToTheirOffsetsAndBadChunksAreRefused) {
    STORE_CTRL_ENTRY* e = entry(1 << 20);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    STORE_WORKER* w = store_worker_alloc(e, 5000, 1000, 100, sizeof(STORE_WORKER));
    std::memcpy(w->data, "0123456789", 10);
    w->dlen = 10;
    w->from = 5000;
    EXPECT_EQ(store_file_write(w), 10);
    {
        LogCapture log(dir.file("write.log"));
        w->dlen = 0;
        EXPECT_EQ(store_file_write(w), -1);
        EXPECT_NE(log.text().find("sw->dlen(0) <= 0"), std::string::npos);
        char* keep = w->data;
        w->data = nullptr;
        w->dlen = 10;
        EXPECT_EQ(store_file_write(w), -1);
        EXPECT_NE(log.text().find("sw->data null"), std::string::npos);
        w->data = keep;
    }
    store_worker_free(w);
    store_file_close(e);
    std::string got = read_file(part_path());
    ASSERT_EQ(got.size(), static_cast<std::size_t>(1 << 20));
    EXPECT_EQ(got.substr(5000, 10), "0123456789");
    EXPECT_EQ(got.substr(4990, 10), std::string(10, '\0'));
    drop_entry(e);
}

// The trailer may only claim bytes that are in the file: the chunk the
// download stream still buffers is flushed before the trailer is written.
TEST_F(FileFixture, TrailerSaveFlushesTheDownloadStreamFirst) {
    constexpr int64_t L = 1 << 20;
    STORE_CTRL_ENTRY* e = entry(L);
    ASSERT_EQ(open(e), STORE_FILE_NEW);
    STORE_WORKER* w = store_worker_alloc(e, 4096, 100, 100, sizeof(STORE_WORKER));
    std::memset(w->data, 'z', 100);
    w->dlen = 100;
    ASSERT_EQ(store_file_write(w), 100);
    store_range_set_insert(e->ranges, 4096, 4196);
    ASSERT_EQ(store_stat_log(e), 0);
    // Read while the download stream is still open, as a crash would leave it.
    std::string on_disk = read_file(part_path());
    ASSERT_EQ(on_disk.size(), static_cast<std::size_t>(L + 64));
    EXPECT_EQ(on_disk.substr(4096, 100), std::string(100, 'z'));
    store_worker_free(w);
    drop_entry(e);
}

}  // namespace
