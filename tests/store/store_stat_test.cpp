// The progress trailer against a reader and writer written here from the
// layout table, and the statistics line through the logging server stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "logsvr.h"
#include "platform/blocking_tcp.h"
#include "platform/file.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store_test_util.h"

using namespace store_test;
using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;

namespace {

// ---- the layout table, read and written independently of the store ----

uint64_t le(const std::string& s, std::size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

void put(std::string& s, std::size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; i++) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// RFC 1071: one's-complement sum of the 16-bit little-endian words, folded, complemented.
uint16_t internet_checksum(std::string rec) {
    rec[0] = rec[1] = 0;
    uint64_t sum = 0;
    for (std::size_t i = 0; i < rec.size(); i += 2) sum += le(rec, i, 2);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::string range_record(int64_t begin, int64_t end) {
    std::string r(32, '\0');
    put(r, 8, static_cast<uint64_t>(begin), 8);
    put(r, 16, static_cast<uint64_t>(end), 8);
    put(r, 24, static_cast<uint64_t>(end), 8);
    put(r, 0, internet_checksum(r), 2);
    return r;
}

std::string control_record(int64_t length, int64_t on_disk, int32_t n) {
    std::string r(32, '\0');
    put(r, 8, static_cast<uint64_t>(length), 8);
    put(r, 16, static_cast<uint64_t>(on_disk), 8);
    put(r, 24, static_cast<uint32_t>(n), 4);
    put(r, 0, internet_checksum(r), 2);
    return r;
}

struct Parsed {
    bool ok = false;
    int64_t length = 0, on_disk = 0;
    std::vector<STORE_RANGE> ranges;
};

Parsed parse_trailer(const std::string& file, int64_t length) {
    Parsed p;
    std::size_t tail = file.size() - static_cast<std::size_t>(length);
    if (tail < 32 || tail % 32 != 0) return p;
    std::string ctl = file.substr(file.size() - 32);
    if (le(ctl, 0, 2) != internet_checksum(ctl) || le(ctl, 2, 6) != 0 || le(ctl, 28, 4) != 0)
        return p;
    p.length = static_cast<int64_t>(le(ctl, 8, 8));
    p.on_disk = static_cast<int64_t>(le(ctl, 16, 8));
    int32_t n = static_cast<int32_t>(le(ctl, 24, 4));
    if (static_cast<std::size_t>(n) != tail / 32 - 1) return p;
    for (int32_t i = 0; i < n; i++) {
        std::string r = file.substr(static_cast<std::size_t>(length) + 32 * i, 32);
        if (le(r, 0, 2) != internet_checksum(r) || le(r, 2, 6) != 0) return p;
        if (le(r, 16, 8) != le(r, 24, 8)) return p;
        p.ranges.push_back({static_cast<int64_t>(le(r, 8, 8)), static_cast<int64_t>(le(r, 24, 8))});
    }
    p.ok = true;
    return p;
}

std::vector<STORE_RANGE> ranges_of(const STORE_CTRL_ENTRY* e) {
    std::vector<STORE_RANGE> v;
    for (int i = 0; i < store_range_set_size(e->ranges); i++)
        v.push_back(*store_range_set_index(e->ranges, i));
    return v;
}

struct StatFixture : ::testing::Test {
    TempDir dir;
    TestCtrl t;
    static constexpr int64_t L = 600000;
    std::string part() const { return dir.file("5.flv.part"); }

    // An entry on the ".part" file, as a resume opens it.
    STORE_CTRL_ENTRY* partial_entry() {
        STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "5", dir.file("5.flv"), 5, L);
        EXPECT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
        return e;
    }
    // Writes body + trailer of `ranges` through the store.
    void write_with_store(const std::vector<STORE_RANGE>& ranges) {
        write_file(part(), std::string(L, '\0'));
        STORE_CTRL_ENTRY* e = partial_entry();
        for (const auto& r : ranges) store_range_set_insert(e->ranges, r.begin, r.end);
        ASSERT_EQ(store_stat_log(e), 0);
        drop_entry(e);
    }
    int restore(std::vector<STORE_RANGE>* got = nullptr) {
        STORE_CTRL_ENTRY* e = partial_entry();
        int rc = store_stat_rest(e);
        if (got != nullptr) *got = ranges_of(e);
        EXPECT_TRUE(rc == 1 || store_range_set_size(e->ranges) == 0);
        drop_entry(e);
        return rc;
    }
};

TEST(StoreStatChecksum, AllZeroRecordIsFFFF) {
    unsigned char rec[32] = {};
    EXPECT_EQ(store_stat_checksum(rec, sizeof(rec)), 0xFFFF);
    std::string r(32, '\0');
    put(r, 8, 0x123456789abcdefULL, 8);
    put(r, 24, 77, 4);
    EXPECT_EQ(store_stat_checksum(reinterpret_cast<const unsigned char*>(r.data()), 32),
              internet_checksum(r));
}

TEST_F(StatFixture, TwoRangesMakeTheFileLPlus96AndReadBackIndependently) {
    std::vector<STORE_RANGE> ranges = {{0, 102400}, {300000, 350000}};
    write_with_store(ranges);
    std::string file = read_file(part());
    ASSERT_EQ(file.size(), static_cast<std::size_t>(L + 96));
    Parsed p = parse_trailer(file, L);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.length, L);
    EXPECT_EQ(p.on_disk, 102400 + 50000);
    EXPECT_EQ(p.ranges, ranges);
    std::vector<STORE_RANGE> got;
    EXPECT_EQ(restore(&got), 1);
    EXPECT_EQ(got, ranges);
}

TEST_F(StatFixture, AShorterTrailerCutsTheOlderLongerOne) {
    write_with_store({{0, 10}, {20, 30}, {40, 50}});
    write_with_store({{0, 50}});
    EXPECT_EQ(read_file(part()).size(), static_cast<std::size_t>(L + 64));
    std::vector<STORE_RANGE> got;
    EXPECT_EQ(restore(&got), 1);
    EXPECT_EQ(got, (std::vector<STORE_RANGE>{{0, 50}}));
}

TEST_F(StatFixture, TrailersWrittenHereAreRestoredOrRefusedWhole) {
    std::string body(L, '\0');
    struct Case {
        const char* name;
        std::string trailer;
        int want;
        std::vector<STORE_RANGE> ranges;
    } cases[] = {
        {"control record alone (L + 32)", control_record(L, 0, 0), 0, {}},
        {"one range", range_record(0, 1000) + control_record(L, 1000, 1), 1, {{0, 1000}}},
        {"begin >= end is skipped",
         range_record(0, 1000) + range_record(5000, 5000) + control_record(L, 1000, 2),
         1,
         {{0, 1000}}},
        {"n does not match the size", range_record(0, 1000) + control_record(L, 1000, 2), 0, {}},
        {"size not a whole record",
         range_record(0, 1000) + control_record(L, 1000, 1) + "x",
         0,
         {}},
        {"range beyond the body", range_record(0, L + 1) + control_record(L, L + 1, 1), 0, {}},
        {"nothing after the body", "", 0, {}},
    };
    for (const auto& c : cases) {
        write_file(part(), body + c.trailer);
        std::vector<STORE_RANGE> got;
        EXPECT_EQ(restore(&got), c.want) << c.name;
        EXPECT_EQ(got, c.ranges) << c.name;
    }
}

TEST_F(StatFixture, AnySingleFlippedBitRestoresNothing) {
    write_with_store({{0, 102400}, {200000, 250000}});
    const std::string good = read_file(part());
    ASSERT_EQ(good.size(), static_cast<std::size_t>(L + 96));
    ASSERT_EQ(restore(), 1);
    int restored = 0;
    for (std::size_t byte = L; byte < good.size(); byte++) {
        for (int bit = 0; bit < 8; bit++) {
            std::string bad = good;
            bad[byte] = static_cast<char>(bad[byte] ^ (1 << bit));
            write_file(part(), bad);
            if (restore() != 0) {
                restored++;
                ADD_FAILURE() << "restored with byte " << byte - L << " bit " << bit << " flipped";
            }
        }
    }
    EXPECT_EQ(restored, 0);
}

TEST_F(StatFixture, NothingIsWrittenOrReadForAnUnknownLength) {
    STORE_CTRL_ENTRY* e = make_entry(t.ctrl, "6", dir.file("6.flv"), 5, -1);
    write_file(dir.file("6.flv.part"), "abc");
    EXPECT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
    store_range_set_insert(e->ranges, 0, 3);
    EXPECT_EQ(store_stat_log(e), 0);
    EXPECT_EQ(store_stat_rest(e), 0);
    EXPECT_EQ(read_file(dir.file("6.flv.part")), "abc");
    drop_entry(e);
}

TEST_F(StatFixture, SavesAreDueAfterMoreThanOneSecond) {
    FakeClock clock;
    write_file(part(), std::string(L, '\0'));
    STORE_CTRL_ENTRY* e = partial_entry();
    store_range_set_insert(e->ranges, 0, 100);
    EXPECT_EQ(store_stat_log_due(e), 1);
    EXPECT_EQ(store_stat_log_due(e), 0);
    clock.advance(1);
    EXPECT_EQ(store_stat_log_due(e), 0);
    clock.advance(1);
    EXPECT_EQ(store_stat_log_due(e), 1);
    drop_entry(e);
}

TEST(StoreStatLine, ReachesTheLoggingServerByteForByte) {
    TempDir dir;
    LOGSVR svr;
    ASSERT_EQ(logsvr_open(svr, 0, dir.folder()), 0);
    svr.stat_file = dir.folder() + LOGSVR_STAT_FILE;
    std::atomic<bool> stop{false};
    std::string report;
    std::thread server([&] {
        logsvr_run(
            svr, 1, [&] { return stop.load(); }, [&](const std::string& r) { report = r; });
    });
    char line[STORE_STAT_LINE_MAX];
    int n = store_stat_line(line, sizeof(line), 4021, "18446744073709551615", 73400320, 73400320,
                            1234567, 0, 0);
    const std::string want =
        "client_download_stat:uid=4021|rc=18446744073709551615|total_len=73400320|"
        "http(len=73400320,speed=1234567)|p2p(len=0,speed=0)\r\n";
    EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)), want);
    std::string addr = "127.0.0.1:" + std::to_string(svr.listener.port());
    EXPECT_EQ(store_logger_write(addr.c_str(), line), 0);
    server.join();
    EXPECT_EQ(read_file(dir.folder() + LOGSVR_STAT_FILE), want);
    EXPECT_EQ(report, "stat " + want.substr(0, want.size() - 2));
}

TEST(StoreStatLine, UnreachableServerGivesOneWarningAndNoRetry) {
    TempDir dir;
    std::string addr = "127.0.0.1:" + std::to_string(platform::free_loopback_port());
    LogCapture log(dir.file("w.log"));
    EXPECT_EQ(store_logger_write(addr.c_str(), "client_download_stat:uid=1\r\n"), -1);
    std::string text = log.text();
    // The store adds its one warning to the connect failure of the stream
    // layer, and tries once.
    EXPECT_EQ(log.count("store_"), 1) << text;
    EXPECT_EQ(log.count("connect ip(127.0.0.1)"), 1) << text;
    EXPECT_NE(text.find("(1, warn): store_logger_write("), std::string::npos) << text;
    EXPECT_NE(text.find("can't connect logger server(" + addr + ")"), std::string::npos) << text;
}

}  // namespace
