// tarvoproxy as the browser meets it: the built program, started from its own
// folder with its own tarvoproxy.ini, relaying between curl and a real nginx.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <fstream>
#include <thread>

#include "harness.h"

using namespace proxy_test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kBigSize = 1ull << 30;   // 1 GiB
constexpr std::size_t kBigPeriod = (1 << 20) + 7; // pattern period: no 8 KiB piece repeats in place

// The big file is made once per run: a repeated block whose period is not a
// multiple of any read size, so a lost, doubled or swapped piece shows.
const fs::path& big_file(const fs::path& dir) {
    static fs::path path;
    if (path.empty()) {
        path = dir / "www" / "big.bin";
        std::string block = pattern_bytes(kBigPeriod, 21);
        std::ofstream out(path, std::ios::binary);
        std::uint64_t left = kBigSize;
        while (left > 0) {
            auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            out.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    return path;
}

// Compares a downloaded file with the big file's pattern without loading it.
bool matches_big_pattern(const fs::path& p) {
    if (!fs::exists(p) || fs::file_size(p) != kBigSize) return false;
    std::string block = pattern_bytes(kBigPeriod, 21);
    std::ifstream in(p, std::ios::binary);
    std::vector<char> buf(kBigPeriod);
    std::uint64_t left = kBigSize;
    while (left > 0) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBigPeriod));
        in.read(buf.data(), static_cast<std::streamsize>(n));
        if (!in || std::memcmp(buf.data(), block.data(), n) != 0) return false;
        left -= n;
    }
    return true;
}

class TarvoProxyE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        nginx_ = new Nginx(dir_->path());
        proxy_ = new TarvoProxy(dir_->path());
    }
    static void TearDownTestSuite() {
        delete proxy_;
        delete nginx_;
        delete dir_;
    }
    void SetUp() override {
        ASSERT_TRUE(nginx_->ok()) << read_file(dir_->path() / "error.log");
        ASSERT_TRUE(proxy_->ok()) << proxy_->log();
    }
    static TempDir* dir_;
    static Nginx* nginx_;
    static TarvoProxy* proxy_;
};

TempDir* TarvoProxyE2E::dir_ = nullptr;
Nginx* TarvoProxyE2E::nginx_ = nullptr;
TarvoProxy* TarvoProxyE2E::proxy_ = nullptr;

TEST_F(TarvoProxyE2E, SmallPageThroughTheProxy) {
    std::string page = "<html><body>" + pattern_bytes(1000, 1).substr(0, 0) + "hello</body></html>";
    write_file(nginx_->root() / "index.html", page);
    auto r = curl(proxy_->port(), {nginx_->url("/index.html")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, page);
}

TEST_F(TarvoProxyE2E, LoopWithThisProcessIdentityIsRefused) {
    std::string via = "TarvoSpeed-" + std::to_string(proxy_->pid());
    std::string host = "127.0.0.1:" + std::to_string(nginx_->port());
    auto r = raw_exchange(proxy_->port(), "GET http://" + host + "/ HTTP/1.1\r\nHost: " + host +
                                              "\r\nX-VIA-TARVOSPEED: " + via + "\r\n\r\n");
    EXPECT_EQ(r,
              "HTTP/1.1 403 request loop test forbidden\r\nConnection: close\r\n\r\n"
              "<html><body> 403 forbidden, request loop tested</body></html>\r\n");
}

TEST_F(TarvoProxyE2E, OneGigabyteStreamsWithFlatMemory) {
    const fs::path& src = big_file(dir_->path());
    ASSERT_EQ(fs::file_size(src), kBigSize);
    fs::path out = dir_->path() / "big.out";
    long base = platform::process_rss_kb(proxy_->pid());
    std::atomic<bool> done{false};
    std::atomic<long> peak{base};
    std::thread sampler([&] {
        while (!done) {
            long rss = platform::process_rss_kb(proxy_->pid());
            if (rss > peak) peak = rss;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    // The client reads slower than nginx sends: the proxy must not buffer
    // the difference.
    auto r = curl(proxy_->port(), {"--limit-rate", "100M", "-o", out.string(),
                                   nginx_->url("/big.bin")},
                  300000);
    done = true;
    sampler.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches_big_pattern(out));
    fs::remove(out);
    EXPECT_LT(peak - base, 64 * 1024) << "resident memory grew by " << (peak - base) << " KiB";
}

}  // namespace
