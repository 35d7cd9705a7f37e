// proxy_relay: the same nginx on loopback, reached directly and through
// tarvoproxy, tinyproxy and squid (caching off), all in one run.
//
//   1. MB/s of a 1 GiB download with curl;
//   2. requests per second of 20,000 requests for a 1 KiB file at
//      concurrency 50 with ab;
//   3. tarvoproxy's peak resident memory while (2) runs;
//   4. requests per second and failed requests of 50,000 requests at
//      concurrency 1,000 through tarvoproxy (ab -c 1000 -n 50000 -X).
//
// It also prints the CPU time tarvoproxy spent per GiB and per request: on a
// machine shared with other work the wall-clock figures swing widely, while
// the work per unit barely moves, so compare builds by those.
//
// Usage: proxy_relay [requests] [concurrency]   (defaults 20000 50)
// Everything listens on 127.0.0.1 only and lives in a temporary folder.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "harness.h"
#include "platform/process_cpu.h"

using namespace proxy_test;
namespace fs = std::filesystem;

namespace {

constexpr int kCrowdClients = 1000;
constexpr int kCrowdRequests = 50000;

struct Proxy {
    std::string name;
    int port = 0;  // 0: direct
    platform::ChildProcess* child = nullptr;
};

bool start_tinyproxy(const fs::path& dir, platform::ChildProcess& child, int& port) {
    fs::create_directories(dir);
    port = platform::free_loopback_port();
    std::ostringstream c;
    c << "Port " << port << "\nListen 127.0.0.1\nTimeout 600\nMaxClients 1000\n"
      << "LogLevel Critical\nLogFile \"" << (dir / "tinyproxy.log").string() << "\"\n"
      << "PidFile \"" << (dir / "tinyproxy.pid").string() << "\"\nAllow 127.0.0.1\n"
      << "DisableViaHeader Yes\n";
    write_file(dir / "tinyproxy.conf", c.str());
    platform::ChildOptions o;
    o.stderr_path = (dir / "stderr.txt").string();
    if (child.start({"/usr/bin/tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()}, o) != 0)
        return false;
    return wait_listening(port, 10000);
}

bool start_squid(const fs::path& dir, platform::ChildProcess& child, int& port) {
    fs::create_directories(dir);
    // squid drops to its own user: its files live in a folder it may write.
    fs::permissions(dir, fs::perms::all);
    port = platform::free_loopback_port();
    std::string d = dir.string();
    std::ostringstream c;
    c << "http_port 127.0.0.1:" << port << "\n"
      << "acl localnet src 127.0.0.1/32\nhttp_access allow localnet\nhttp_access deny all\n"
      << "cache deny all\ncache_mem 8 MB\naccess_log none\n"
      << "cache_log " << d << "/cache.log\npid_filename " << d << "/squid.pid\n"
      << "coredump_dir " << d << "\nshutdown_lifetime 1 seconds\n"
      << "forwarded_for delete\nvia off\n";
    write_file(dir / "squid.conf", c.str());
    platform::ChildOptions o;
    o.stderr_path = (dir / "stderr.txt").string();
    if (child.start({"/usr/sbin/squid", "-N", "-f", (dir / "squid.conf").string()}, o) != 0)
        return false;
    return wait_listening(port, 20000);
}

double download_mbps(int proxy_port, const std::string& url) {
    std::vector<std::string> args = {"-o", "/dev/null", "-w", "%{speed_download} %{size_download}"};
    args.push_back(url);
    auto r = curl(proxy_port, args, 600000);
    double speed = 0, size = 0;
    std::sscanf(r.output.c_str(), "%lf %lf", &speed, &size);
    if (r.status != 0 || size != static_cast<double>(1ull << 30)) return -1;
    return speed / 1e6;
}

double requests_per_second(int proxy_port, const std::string& url, int n, int c,
                           long* failed_out = nullptr) {
    std::vector<std::string> argv = {"/usr/bin/ab",    "-q", "-r", "-n", std::to_string(n), "-c",
                                     std::to_string(c)};
    if (proxy_port > 0) {
        argv.push_back("-X");
        argv.push_back("127.0.0.1:" + std::to_string(proxy_port));
    }
    argv.push_back(url);
    std::string out;
    platform::ChildOptions o;
    int st = platform::run_program(argv, out, 600000, o);
    auto p = out.find("Requests per second:");
    auto f = out.find("Failed requests:");
    if (st != 0 || p == std::string::npos) return -1;
    long failed = f == std::string::npos ? 0 : std::atol(out.c_str() + f + 16);
    if (failed_out) *failed_out = failed;
    if (failed > 0) std::fprintf(stderr, "  (%ld failed requests)\n", failed);
    return std::atof(out.c_str() + p + 20);
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    int c = argc > 2 ? std::atoi(argv[2]) : 50;

    TempDir dir;
    Nginx nginx(dir.path());
    if (!nginx.ok()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    // A sparse 1 GiB file: nginx sends it from the page cache without disk I/O.
    {
        write_file(nginx.root() / "big.bin", "");
        fs::resize_file(nginx.root() / "big.bin", 1ull << 30);
        write_file(nginx.root() / "1k.bin", pattern_bytes(1024, 1));
    }
    TarvoProxy tarvo(dir.path());
    if (!tarvo.ok()) {
        std::fprintf(stderr, "tarvoproxy did not start\n%s\n", tarvo.log().c_str());
        return 1;
    }
    platform::ChildProcess tiny_child, squid_child;
    int tiny_port = 0, squid_port = 0;
    bool tiny_ok = start_tinyproxy(dir.path() / "tinyproxy", tiny_child, tiny_port);
    bool squid_ok = start_squid(dir.path() / "squid", squid_child, squid_port);

    std::vector<Proxy> proxies = {{"direct", 0, nullptr}, {"tarvoproxy", tarvo.port(), nullptr}};
    if (tiny_ok)
        proxies.push_back({"tinyproxy", tiny_port, &tiny_child});
    else
        std::fprintf(stderr, "tinyproxy did not start\n");
    if (squid_ok)
        proxies.push_back({"squid", squid_port, &squid_child});
    else
        std::fprintf(stderr, "squid did not start\n");

    // The first read of the file fills the page cache; no proxy pays for it.
    download_mbps(0, nginx.url("/big.bin"));

    std::printf("%-12s %12s %12s\n", "", "1GiB MB/s", "req/s");
    double direct_mbps = 0, direct_rps = 0, best_other_rps = 0, tarvo_mbps = 0, tarvo_rps = 0;
    long peak_kb = 0, base_kb = 0;
    long dl_cpu_ms = 0, ab_cpu_ms = 0;
    for (const auto& p : proxies) {
        bool is_tarvo = p.name == "tarvoproxy";
        long cpu0 = is_tarvo ? platform::process_cpu_ms(tarvo.pid()) : 0;
        double mbps = download_mbps(p.port, nginx.url("/big.bin"));
        long cpu1 = is_tarvo ? platform::process_cpu_ms(tarvo.pid()) : 0;
        std::atomic<bool> done{false};
        std::atomic<long> peak{0};
        std::thread sampler;
        if (is_tarvo) {
            base_kb = platform::process_rss_kb(tarvo.pid());
            sampler = std::thread([&] {
                while (!done) {
                    long rss = platform::process_rss_kb(tarvo.pid());
                    if (rss > peak) peak = rss;
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            });
        }
        double rps = requests_per_second(p.port, nginx.url("/1k.bin"), n, c);
        if (is_tarvo) {
            dl_cpu_ms = cpu1 - cpu0;
            ab_cpu_ms = platform::process_cpu_ms(tarvo.pid()) - cpu1;
        }
        done = true;
        if (sampler.joinable()) sampler.join();
        std::printf("%-12s %12.0f %12.0f\n", p.name.c_str(), mbps, rps);
        std::fflush(stdout);
        if (p.name == "direct") {
            direct_mbps = mbps;
            direct_rps = rps;
        } else if (p.name == "tarvoproxy") {
            tarvo_mbps = mbps;
            tarvo_rps = rps;
            peak_kb = peak;
        } else if (rps > best_other_rps) {
            best_other_rps = rps;
        }
    }
    std::printf("\ntarvoproxy resident memory during the ab run: %ld KiB before, %ld KiB peak\n",
                base_kb, peak_kb);
    std::printf("tarvoproxy CPU time: %.2f s per GiB, %.1f us per request\n", dl_cpu_ms / 1000.0,
                n > 0 ? ab_cpu_ms * 1000.0 / n : 0.0);
    if (direct_mbps > 0)
        std::printf("throughput vs direct: %.2f (aim >= 0.7)\n", tarvo_mbps / direct_mbps);
    if (best_other_rps > 0)
        std::printf("req/s vs best of tinyproxy and squid: %.2f (aim >= 1.5)\n",
                    tarvo_rps / best_other_rps);
    (void)direct_rps;

    // A crowd: a thousand browsers at once. A short listen queue shows here
    // as stalls and resets.
    long crowd_failed = -1;
    double crowd_rps = requests_per_second(tarvo.port(), nginx.url("/1k.bin"), kCrowdRequests,
                                           kCrowdClients, &crowd_failed);
    std::printf("ab -c %d -n %d through tarvoproxy: %.0f req/s, %ld failed requests\n",
                kCrowdClients, kCrowdRequests, crowd_rps, crowd_failed);
    return 0;
}
