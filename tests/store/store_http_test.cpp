// The controller, the HTTP range workers and the browser client against a
// real nginx (and a small raw-socket server for the faults nginx cannot play).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "../e2e/proxy/harness.h"
#include "acl_workq.h"
#include "logsvr.h"
#include "platform/file.h"
#include "store/store_ctrl.h"
#include "store/store_file.h"
#include "store/store_range.h"
#include "store/store_stat.h"
#include "store_http/http_worker.h"
#include "store_http_harness.h"
#include "store_test_util.h"

using namespace store_http_test;
using store_test::LogCapture;
using tarvo_test::pattern_bytes;
using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMiB = 1 << 20;

// Per-connection rate of the rate-limited locations: fast enough that the
// worker schedule (a new worker every few seconds) and the stop rules play
// out within seconds, slow enough that several workers overlap.
constexpr const char* kRate = "6m";

struct HttpStoreFixture : ::testing::Test {
    TempDir dir;
    std::unique_ptr<StoreNginx> nginx;
    std::unique_ptr<LogCapture> log;
    int fds_before = 0;
    std::string cache;

    void SetUp() override {
        nginx = std::make_unique<StoreNginx>(dir.path() / "nginx", kRate);
        ASSERT_TRUE(nginx->ok());
        cache = dir.file("cache");
        fs::create_directories(cache);
        log = std::make_unique<LogCapture>(dir.file("store.log"));
        fds_before = open_fds();
    }
    void TearDown() override {
        // Every conversation ended: no descriptor is left behind.
        EXPECT_EQ(open_fds(), fds_before);
        http_worker_set_default_port(80);
    }
    std::string put_file(const std::string& name, int64_t size, uint32_t seed) {
        std::string body = pattern_bytes(static_cast<std::size_t>(size), seed);
        write_file(nginx->root() / name, body);
        return body;
    }
    BrowserOptions opts(const std::string& path, const std::string& id) {
        BrowserOptions o;
        o.port = nginx->port();
        o.path = path;
        o.id = id;
        return o;
    }
    bool entries_gone(Store& s) {
        return tarvo_test::wait_until([&] { return store_ctrl_entries(s.base()) == 0; },
                                      std::chrono::seconds(60));
    }
    int64_t bytes_served(const std::string& uri_part) {
        int64_t sum = 0;
        for (const auto& h : nginx->hits())
            if (h.uri.find(uri_part) != std::string::npos) sum += h.bytes;
        return sum;
    }
    std::set<std::string> ranged_connections(const std::string& uri_part) {
        std::set<std::string> c;
        for (const auto& h : nginx->hits())
            if (h.uri.find(uri_part) != std::string::npos && h.range != "-" && h.status == 206)
                c.insert(h.connection);
        return c;
    }
};

TEST_F(HttpStoreFixture, RateLimitedFileArrivesWholeOverSeveralConnections) {
    const int64_t size = 64 * kMiB;
    std::string body = put_file("big.bin", size, 1);
    {
        Store store(cache);
        Browser b(store, opts("/slow/big.bin", "1001"));
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_EQ(b.result(), 0);
        std::string got = b.body();
        EXPECT_EQ(got.size(), body.size());
        EXPECT_TRUE(got == body) << "the browser's bytes differ from the origin's";
        ASSERT_TRUE(entries_gone(store));
    }
    EXPECT_TRUE(read_file(cache_path(cache, "1001")) == body);
    EXPECT_FALSE(fs::exists(cache_path(cache, "1001") + ".part"));
    EXPECT_GE(ranged_connections("big.bin").size(), 1u);
    std::set<std::string> conns;
    for (const auto& h : nginx->hits()) conns.insert(h.connection);
    EXPECT_GE(conns.size(), 2u);
    // A byte is fetched twice only where a worker ran into fetched data and
    // stopped after that chunk.
    EXPECT_LE(bytes_served("big.bin"), size + size / 20);
}

TEST_F(HttpStoreFixture, TwoBrowsersShareOneEntryAndAThirdGetsTheFinishedFile) {
    const int64_t size = 16 * kMiB;
    std::string body = put_file("shared.bin", size, 2);
    // The completed, saved download reports its statistics line.
    LOGSVR svr;
    ASSERT_EQ(logsvr_open(svr, 0, dir.folder() + "logsvr"), 0);
    svr.stat_file = dir.folder() + "logsvr/" + LOGSVR_STAT_FILE;
    std::atomic<bool> stop_svr{false};
    std::thread svr_thread([&] {
        logsvr_run(
            svr, 1, [&] { return stop_svr.load(); }, [](const std::string&) {});
    });
    {
        Store store(cache);
        http_ctrl_set_logger(store.ctrl, "127.0.0.1", svr.listener.port());
        Browser a(store, opts("/slow/shared.bin", "1002"));
        a.start();
        ASSERT_TRUE(tarvo_test::wait_until([&] { return store_ctrl_entries(store.base()) == 1; }));
        Browser b(store, opts("/slow/shared.bin", "1002"));
        b.start();
        ASSERT_TRUE(a.wait_done(120));
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_TRUE(a.body() == body);
        EXPECT_TRUE(b.body() == body);
        ASSERT_TRUE(entries_gone(store));
        EXPECT_TRUE(read_file(cache_path(cache, "1002")) == body);
        int64_t served = bytes_served("shared.bin");
        std::string detail;
        for (const auto& h : nginx->hits())
            detail += h.connection + " " + std::to_string(h.status) + " " + h.range + " " +
                      std::to_string(h.bytes) + "\n";
        EXPECT_LE(served, size + size / 20) << "the origin served the file more than once:\n"
                                            << detail;
        EXPECT_TRUE(tarvo_test::wait_until([&] { return fs::exists(svr.stat_file); }));
        std::string line = read_file(svr.stat_file);
        EXPECT_EQ(line.rfind("client_download_stat:uid=0|rc=1002|total_len=16777216|http(len=", 0),
                  0u)
            << line;
        EXPECT_NE(line.find(",speed="), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - std::min<std::size_t>(line.size(), 21)),
                  "|p2p(len=0,speed=0)\r\n")
            << line;

        // A third browser is served from the finished file and leaves.
        std::size_t hits_before = nginx->hits().size();
        Browser c(store, opts("/files/shared.bin", "1002"));
        c.start();
        ASSERT_TRUE(c.wait_done(60));
        EXPECT_TRUE(c.body() == body);
        ASSERT_TRUE(entries_gone(store));
        // Only its own upstream request (closed by the store) reached the origin.
        EXPECT_EQ(nginx->hits().size(), hits_before + 1);
    }
    stop_svr = true;
    svr_thread.join();
    EXPECT_EQ(log->count("open file("), 0) << log->text();
}

TEST_F(HttpStoreFixture, BrowserThatLeavesStopsTheWorkersAndTheResumeFetchesOnlyTheRest) {
    const int64_t size = 24 * kMiB;
    std::string body = put_file("resume.bin", size, 3);
    std::string part = cache_path(cache, "1003") + ".part";
    {
        Store store(cache);
        BrowserOptions o = opts("/slow/resume.bin", "1003");
        o.close_after = 12 * kMiB;
        Browser b(store, o);
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        ASSERT_TRUE(entries_gone(store));
    }
    // Kept for a resume, with a valid trailer after the body.
    ASSERT_TRUE(fs::exists(part));
    std::size_t first_hits = nginx->hits().size();
    int64_t restored = 0;
    {
        store_test::TestCtrl t;
        STORE_CTRL_ENTRY* e =
            store_test::make_entry(t.ctrl, "1003", cache_path(cache, "1003"), 5, size);
        ASSERT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
        ASSERT_EQ(store_stat_rest(e), 1);
        restored = store_ctrl_entry_downloaded(e);
        store_test::drop_entry(e);
    }
    EXPECT_GE(restored, 12 * kMiB / 2);
    EXPECT_LT(restored, size);
    {
        Store store(cache);
        Browser b(store, opts("/slow/resume.bin", "1003"));
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_TRUE(b.body() == body);
        ASSERT_TRUE(entries_gone(store));
    }
    EXPECT_TRUE(read_file(cache_path(cache, "1003")) == body);
    auto hits = nginx->hits();
    int64_t served_second = 0;
    for (std::size_t i = first_hits; i < hits.size(); i++) served_second += hits[i].bytes;
    // The resume fetched what was missing, not the whole file again; the
    // allowance covers its own upstream request, closed after the prefetch,
    // and chunks that ran into fetched data.
    EXPECT_LE(served_second, size - restored + 2 * kMiB) << restored << " " << served_second;
}

// Later workers meet a server that does not honour ranges: the first worker
// carries the download alone.
TEST_F(HttpStoreFixture, ServersRefusingRangesLeaveTheFirstWorkerAlone) {
    const int64_t size = 24 * kMiB;
    std::string body = put_file("refuse.bin", size, 4);
    struct Case {
        const char* name;
        const char* path;
        int refusal_status;
    } cases[] = {{"ranges ignored (200)", "/norange/refuse.bin", 200},
                 {"ranges forbidden (403)", "/forbid/refuse.bin", 403}};
    int n = 0;
    for (const auto& c : cases) {
        std::string id = std::to_string(1100 + n++);
        std::size_t hits_before = nginx->hits().size();
        {
            Store store(cache);
            Browser b(store, opts(c.path, id));
            b.start();
            ASSERT_TRUE(b.wait_done(120)) << c.name;
            EXPECT_TRUE(b.body() == body) << c.name;
            ASSERT_TRUE(entries_gone(store)) << c.name;
        }
        EXPECT_TRUE(read_file(cache_path(cache, id)) == body) << c.name;
        auto hits = nginx->hits();
        int ranged = 0, refused = 0, partial = 0;
        for (std::size_t i = hits_before; i < hits.size(); i++) {
            if (hits[i].range != "-") ranged++;
            if (hits[i].range != "-" && hits[i].status == c.refusal_status) refused++;
            if (hits[i].status == 206) partial++;
        }
        EXPECT_GE(ranged, 1) << c.name << ": no later worker asked for a range";
        EXPECT_EQ(refused, ranged) << c.name;
        EXPECT_EQ(partial, 0) << c.name;
        if (c.refusal_status == 403)
            EXPECT_EQ(refused, 1) << c.name << ": one connection after the 403";
    }
}

TEST_F(HttpStoreFixture, RedirectLoopEndsTheWorkerAndHostWithoutPortUsesTheDefault) {
    const int64_t size = 24 * kMiB;
    std::string body = put_file("moved.bin", size, 5);
    {
        Store store(cache);
        BrowserOptions o = opts("/slow/moved.bin", "1201");
        o.template_path = "/loop/1";
        Browser b(store, o);
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_TRUE(b.body() == body);
        ASSERT_TRUE(entries_gone(store));
    }
    EXPECT_NE(log->text().find("too many retry_cnt(10)"), std::string::npos) << log->text();

    // The template's host has no port: later workers go to the default port,
    // which the seam points at nginx.
    http_worker_set_default_port(nginx->port());
    {
        Store store(cache);
        BrowserOptions o = opts("/slow/moved.bin", "1202");
        o.host = "127.0.0.1";
        Browser b(store, o);
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_TRUE(b.body() == body);
        ASSERT_TRUE(entries_gone(store));
    }
    EXPECT_GE(ranged_connections("moved.bin").size(), 1u);
}

// A small origin on a raw socket: the whole body paced for an unranged
// request; for ranged requests either a Content-Range that lies, or the first
// ranged answer cut in the middle.
struct FaultOrigin {
    enum Mode { lying, cut_once, stall };
    FaultOrigin(const std::string& body, Mode mode)
        : body_(body), mode_(mode), server_([this](platform::TcpSocket& s) { serve(s); }) {}
    int port() const { return server_.port(); }
    int ranged() const { return ranged_.load(); }

  private:
    void serve(platform::TcpSocket& s) {
        std::string head, rest;
        if (!proxy_test::read_request(s, head, rest)) return;
        std::string range = proxy_test::header_value(head, "Range");
        std::string len = std::to_string(body_.size());
        if (range.empty() && mode_ == stall) {
            // A little more than the prefetch, then nothing until the peer goes.
            s.send_all("HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nContent-Length: " + len +
                       "\r\nConnection: close\r\n\r\n");
            s.send_all(body_.data(), 200000);
            std::string ignored;
            for (int i = 0; i < 600 && s.recv_some(ignored, 100) != 0; i++) {
            }
            return;
        }
        if (range.empty()) {
            s.send_all("HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nContent-Length: " + len +
                       "\r\nConnection: close\r\n\r\n");
            // About 3 MB/s, so that later workers start while this one reads.
            for (std::size_t at = 0; at < body_.size(); at += 32768) {
                if (s.send_all(body_.data() + at,
                               std::min<std::size_t>(32768, body_.size() - at)) != 0)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return;
        }
        long long a = 0, b = 0;
        std::sscanf(range.c_str(), "bytes=%lld-%lld", &a, &b);
        int nth = ranged_++;
        std::size_t n = static_cast<std::size_t>(b - a + 1);
        long long shown_end = mode_ == lying ? b + 1000 : b;
        s.send_all(
            "HTTP/1.1 206 Partial Content\r\nContent-Type: video/x-flv\r\nContent-Range: bytes " +
            std::to_string(a) + "-" + std::to_string(shown_end) + "/" + len +
            "\r\nContent-Length: " + std::to_string(n) + "\r\nConnection: close\r\n\r\n");
        if (mode_ == cut_once && nth == 0) n /= 2;  // then the connection drops
        s.send_all(body_.data() + a, n);
    }
    std::string body_;
    Mode mode_;
    std::atomic<int> ranged_{0};
    proxy_test::ScriptedServer server_;
};

// A lying Content-Range is refused (the worker reports MSG_WORKER_REST_OFF);
// a range cut in the middle leaves its rest to a later worker. Either way the
// file ends complete and correct.
TEST_F(HttpStoreFixture, FaultyRangeAnswersStillGiveTheWholeFile) {
    struct Case {
        const char* name;
        FaultOrigin::Mode mode;
        const char* logged;  // "" when nothing particular is logged
    } cases[] = {{"lying Content-Range", FaultOrigin::lying, ") != off_to("},
                 {"range cut in the middle", FaultOrigin::cut_once, ""}};
    int n = 0;
    for (const auto& c : cases) {
        std::string id = std::to_string(1300 + n);
        std::string body = pattern_bytes(16 * kMiB, 6 + n++);
        FaultOrigin origin(body, c.mode);
        {
            Store store(cache);
            BrowserOptions o = opts("/fault.bin", id);
            o.port = origin.port();
            Browser b(store, o);
            b.start();
            ASSERT_TRUE(b.wait_done(120)) << c.name;
            EXPECT_TRUE(b.body() == body) << c.name;
            ASSERT_TRUE(entries_gone(store)) << c.name;
        }
        EXPECT_GE(origin.ranged(), 1) << c.name;
        EXPECT_NE(log->text().find(c.logged), std::string::npos) << c.name;
        EXPECT_TRUE(read_file(cache_path(cache, id)) == body) << c.name;
    }
}

// The origin stalls after the prefetch: the client is parked when the browser
// hangs up. The browser check notices, the client leaves, the stalled worker
// gives up on its read time-out, and the ".part" stays for a resume.
TEST_F(HttpStoreFixture, BrowserLeavingWhileParkedIsNoticedAndThePartKept) {
    std::string body = pattern_bytes(8 * kMiB, 9);
    FaultOrigin origin(body, FaultOrigin::stall);
    {
        Store store(cache);
        BrowserOptions o = opts("/stall.bin", "1601");
        o.port = origin.port();
        o.close_after = 200000;  // all there is: the client is parked then
        Browser b(store, o);
        b.start();
        ASSERT_TRUE(b.wait_done(60));
        EXPECT_EQ(b.result(), 0);  // left through MSG_CTRL_BYE
        ASSERT_TRUE(entries_gone(store));
    }
    std::string part = cache_path(cache, "1601") + ".part";
    ASSERT_TRUE(fs::exists(part));
    store_test::TestCtrl t;
    STORE_CTRL_ENTRY* e = store_test::make_entry(t.ctrl, "1601", cache_path(cache, "1601"), 5,
                                                 static_cast<int64_t>(body.size()));
    ASSERT_EQ(store_file_check(e), STORE_FILE_PARTIAL);
    EXPECT_EQ(store_stat_rest(e), 1);
    EXPECT_GE(store_ctrl_entry_prefix_end(e), 102400);
    std::string file = read_file(part);
    int64_t end = store_ctrl_entry_prefix_end(e);
    EXPECT_TRUE(file.compare(0, static_cast<std::size_t>(end), body, 0,
                             static_cast<std::size_t>(end)) == 0);
    store_test::drop_entry(e);
}

// Clients and workers each hold a thread: with room for the loop, the client
// and one worker, a later worker waits in the queue and still does its part.
TEST_F(HttpStoreFixture, JobsBeyondTheThreadLimitWaitAndComplete) {
    const int64_t size = 24 * kMiB;
    std::string body = put_file("few.bin", size, 8);
    {
        Store store(cache, 3);
        Browser b(store, opts("/slow/few.bin", "1501"));
        b.start();
        ASSERT_TRUE(b.wait_done(120));
        EXPECT_TRUE(b.body() == body);
        ASSERT_TRUE(entries_gone(store));
    }
    EXPECT_NE(log->text().find("reached the max_thread = 3"), std::string::npos);
    EXPECT_TRUE(read_file(cache_path(cache, "1501")) == body);
}

}  // namespace
