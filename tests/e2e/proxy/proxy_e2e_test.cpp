// tarvoproxy as the browser meets it: the built program, started from its own
// folder with its own tarvoproxy.ini, relaying between curl and a real nginx.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "harness.h"
#include "world_fixture.h"

using namespace proxy_test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kBigSize = 1ull << 30;  // 1 GiB
constexpr std::size_t kBigPeriod =
    (1 << 20) + 7;  // pattern period: no 8 KiB piece repeats in place

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

// Samples a process's resident memory until stopped; reports the growth.
class RssSampler {
  public:
    explicit RssSampler(int pid) : pid_(pid), base_(platform::process_rss_kb(pid)), peak_(base_) {
        thread_ = std::thread([this] {
            while (!done_) {
                long rss = platform::process_rss_kb(pid_);
                if (rss > peak_) peak_ = rss;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~RssSampler() { stop(); }
    long growth_kb() {
        stop();
        return peak_ - base_;
    }

  private:
    void stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int pid_;
    long base_;
    std::atomic<long> peak_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Reads everything from `s` at about `mb_per_s`, counting the bytes.
std::uint64_t slow_drain(platform::TcpSocket& s, int mb_per_s, int idle_ms) {
    std::uint64_t total = 0;
    for (;;) {
        std::string chunk;
        long n = s.recv_some(chunk, idle_ms);
        if (n <= 0) break;
        total += static_cast<std::uint64_t>(n);
        std::this_thread::sleep_for(std::chrono::microseconds(n / mb_per_s));
    }
    return total;
}

constexpr std::uint64_t kFlowBytes = 256ull << 20;  // 256 MiB per flow-control case
constexpr long kFlatKb = 64 * 1024;                 // allowed growth of resident memory

class TarvoProxyE2E : public ProxyWorldTest {};

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
    RssSampler rss(proxy_->pid());
    // The client reads slower than nginx sends: the proxy must not buffer
    // the difference.
    auto r = curl(proxy_->port(),
                  {"--limit-rate", "100M", "-o", out.string(), nginx_->url("/big.bin")}, 300000);
    long growth = rss.growth_kb();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches_big_pattern(out));
    fs::remove(out);
    EXPECT_LT(growth, kFlatKb) << "resident memory grew by " << growth << " KiB";
}

TEST_F(TarvoProxyE2E, TunnelToSlowBrowserKeepsMemoryFlat) {
    std::string block(1 << 20, 'z');
    ScriptedServer fast([&](platform::TcpSocket& s) {
        for (std::uint64_t sent = 0; sent < kFlowBytes; sent += block.size())
            if (s.send_all(block) != 0) return;
    });
    platform::TcpSocket c;
    ASSERT_EQ(c.connect("127.0.0.1", proxy_->port()), 0);
    std::string target = "127.0.0.1:" + std::to_string(fast.port());
    c.send_all("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
    std::string head;
    ASSERT_EQ(c.recv_until(head, "\r\n\r\n", 5000), 1);
    std::uint64_t early = head.size() - (head.find("\r\n\r\n") + 4);
    RssSampler rss(proxy_->pid());
    std::uint64_t got = early + slow_drain(c, 64, 5000);
    EXPECT_EQ(got, kFlowBytes);
    long growth = rss.growth_kb();
    EXPECT_LT(growth, kFlatKb) << "resident memory grew by " << growth << " KiB";
}

TEST_F(TarvoProxyE2E, UploadToSlowServerKeepsMemoryFlat) {
    std::atomic<std::uint64_t> received{0};
    ScriptedServer slow([&](platform::TcpSocket& s) {
        std::string head;
        if (s.recv_until(head, "\r\n\r\n", 5000) != 1) return;
        std::uint64_t got = head.size() - (head.find("\r\n\r\n") + 4);
        while (got < kFlowBytes) {
            std::string chunk;
            long n = s.recv_some(chunk, 5000);
            if (n <= 0) break;
            got += static_cast<std::uint64_t>(n);
            std::this_thread::sleep_for(std::chrono::microseconds(n / 64));
        }
        received = got;
        s.send_all("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    platform::TcpSocket c;
    ASSERT_EQ(c.connect("127.0.0.1", proxy_->port()), 0);
    std::string target = "127.0.0.1:" + std::to_string(slow.port());
    RssSampler rss(proxy_->pid());
    c.send_all("POST http://" + target + "/up HTTP/1.1\r\nHost: " + target +
               "\r\nContent-Length: " + std::to_string(kFlowBytes) + "\r\n\r\n");
    std::string block(1 << 20, 'u');
    for (std::uint64_t sent = 0; sent < kFlowBytes; sent += block.size())
        ASSERT_EQ(c.send_all(block), 0);
    std::string reply;
    c.recv_until_close(reply, 30000);
    EXPECT_EQ(received.load(), kFlowBytes);
    EXPECT_NE(reply.find("\r\n\r\nok"), std::string::npos) << reply.substr(0, 200) << proxy_->log();
    long growth = rss.growth_kb();
    EXPECT_LT(growth, kFlatKb) << "resident memory grew by " << growth << " KiB";
}

}  // namespace
