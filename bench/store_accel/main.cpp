// store_accel_bench [MiB] [rate]: seconds to fetch one file of MiB (default
// 100) from nginx at `rate` per connection (default "2m", nginx units) with
// curl, aria2c -x5 -s5 -k1M, axel -n 5 and the store controller (max_thread 5),
// side by side in one run. For the store: the time of the browser's last byte,
// the time the download was complete and freed, the peak resident memory of
// this process (which runs the controller), and what the 3-second worker
// schedule allows at that rate.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/self.h"
#include "store/store_ctrl.h"
#include "store_http_harness.h"
#include "test_support.h"

using namespace store_http_test;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double run_tool(const std::vector<std::string>& argv) {
    std::string out;
    auto t0 = Clock::now();
    int rc = platform::run_program(argv, out, 600000);
    double s = since(t0);
    if (rc != 0) std::fprintf(stderr, "%s exited %d\n", argv[0].c_str(), rc);
    return s;
}

// Seconds until `mib` MiB are in, with workers started by the schedule (the
// second at 3 s, each next one 3 x (created mod 5) s after the last start)
// and each connection at `mib_per_s` from its start on.
double schedule_allows(double mib, double mib_per_s) {
    std::vector<double> starts = {0};
    double t = 3;
    for (int c = 2; c <= 5; c++) {
        starts.push_back(t);
        t += 3.0 * (c % 5 == 0 ? 5 : c % 5);
    }
    double have = 0, now = 0, step = 0.01;
    while (have < mib) {
        int active = static_cast<int>(
            std::count_if(starts.begin(), starts.end(), [&](double s) { return s <= now; }));
        have += active * mib_per_s * step;
        now += step;
    }
    return now;
}

}  // namespace

int main(int argc, char** argv) {
    int mib = argc > 1 ? std::atoi(argv[1]) : 100;
    std::string rate = argc > 2 ? argv[2] : "2m";
    tarvo_test::TempDir dir;
    StoreNginx nginx(dir.path() / "nginx", rate);
    if (!nginx.ok()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    std::string body = tarvo_test::pattern_bytes(static_cast<std::size_t>(mib) << 20, 11);
    tarvo_test::write_file(nginx.root() / "video.bin", body);
    std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/slow/video.bin";

    double curl_s =
        run_tool({"/usr/bin/curl", "-s", "--noproxy", "*", "-o", dir.file("curl.out"), url});
    double aria_s = run_tool({"/usr/bin/aria2c", "-q", "-x5", "-s5", "-k1M", "--dir", dir.str(),
                              "-o", "aria.out", "--allow-overwrite=true", url});
    double axel_s = run_tool({"/usr/bin/axel", "-q", "-n", "5", "-o", dir.file("axel.out"), url});

    std::string cache = dir.file("cache");
    std::filesystem::create_directories(cache);
    std::atomic<bool> sampling{true};
    long peak_kb = 0;
    std::thread sampler([&] {
        while (sampling) {
            peak_kb = std::max(peak_kb, platform::process_rss_kb(platform::process_id()));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    double last_byte = 0, freed = 0;
    bool same = false;
    {
        Store store(cache);
        BrowserOptions o;
        o.port = nginx.port();
        o.path = "/slow/video.bin";
        o.id = "777";
        Browser b(store, o);
        auto t0 = Clock::now();
        b.start();
        b.wait_done(600);
        last_byte = since(t0);
        tarvo_test::wait_until([&] { return store_ctrl_entries(store.base()) == 0; },
                               std::chrono::seconds(600));
        freed = since(t0);
        same = b.body() == body;
    }
    sampling = false;
    sampler.join();
    double rate_mib = std::atof(rate.c_str());
    std::printf("%d MiB at limit_rate %s per connection\n", mib, rate.c_str());
    std::printf("curl (1 connection)       %6.1f s\n", curl_s);
    std::printf("aria2c -x5 -s5 -k1M       %6.1f s\n", aria_s);
    std::printf("axel -n 5                 %6.1f s\n", axel_s);
    std::printf(
        "store (max_thread 5)      %6.1f s to the browser's last byte, %.1f s to complete "
        "and freed; body %s; peak RSS %ld KiB\n",
        last_byte, freed, same ? "identical" : "DIFFERENT", peak_kb);
    std::printf("the worker schedule allows %.1f s; store / schedule %.2f; curl / store %.2f\n",
                schedule_allows(mib, rate_mib), last_byte / schedule_allows(mib, rate_mib),
                curl_s / last_byte);
    return 0;
}
