// aio_echo: throughput of the event engine under many connections.
//
// The program starts itself a second time as the echo server (so that each
// side has the whole open-file limit for itself), then drives it from a load
// client that also runs on the engine: every connection sends a message,
// waits for its echo in full, checks it and sends the next. For each
// connection count it reports round trips per second and echoed megabytes per
// second over a fixed window, and the errors seen (connects that failed,
// connections lost, echoes that differ).
//
//   aio_echo [-c 1,100,10000] [-s message bytes] [-t seconds per case]
//   aio_echo --server port        (the server half; started by the above)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "acl_aio.h"
#include "platform/blocking_tcp.h"
#include "platform/child_process.h"
#include "platform/limits.h"
#include "platform/self.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---- server -----------------------------------------------------------------

int echo_read(ACL_ASTREAM* a, void*, char* data, int dlen) {
    if (acl_aio_writen(a, data, dlen) < 0) return -1;
    acl_aio_read(a);
    return 0;
}

int echo_accept(ACL_ASTREAM* client, void*) {
    acl_aio_ctl(client, ACL_AIO_CTL_READ_FN, echo_read, ACL_AIO_CTL_END);
    acl_aio_read(client);
    return 0;
}

int keep_listener(ACL_ASTREAM*, void*) { return 0; }

int run_server(int port) {
    platform::raise_open_file_limit();
    std::string addr = "127.0.0.1:" + std::to_string(port);
    ACL_VSTREAM* ls = acl_vstream_listen_ex(addr.c_str(), 4096, ACL_NON_BLOCKING, 0, 0);
    if (ls == nullptr) return 1;
    ACL_AIO* aio = acl_aio_create(0, 0);
    ACL_ASTREAM* listener = acl_aio_open(aio, ls);
    acl_aio_ctl(listener, ACL_AIO_CTL_ACCEPT_FN, echo_accept, ACL_AIO_CTL_TIMEO_FN, keep_listener,
                ACL_AIO_CTL_END);
    acl_aio_accept(listener);
    for (;;)  // ended by its parent
        acl_aio_loop(aio);
}

// ---- load client -----------------------------------------------------------

struct Bench {
    ACL_AIO* aio = nullptr;
    std::string addr;
    std::string message;
    int want = 0;     // connections of this case
    int started = 0;  // connects begun
    int pending = 0;  // connects not finished yet
    int connected = 0;
    long long round_trips = 0;
    long long bytes = 0;
    int errors = 0;
    bool stopping = false;
    std::vector<ACL_ASTREAM*> streams;
};

constexpr int kConnectBatch = 256;  // connects under way at once
constexpr int kTimeout = 30;        // seconds a connection may stall

void start_connects(Bench* b);

int on_echo(ACL_ASTREAM* a, void* ctx, char* data, int dlen) {
    auto* b = static_cast<Bench*>(ctx);
    if (dlen != static_cast<int>(b->message.size()) ||
        std::memcmp(data, b->message.data(), b->message.size()) != 0) {
        b->errors++;
        return -1;
    }
    b->round_trips++;
    b->bytes += dlen;
    if (b->stopping) return 0;
    if (acl_aio_writen(a, b->message.data(), static_cast<int>(b->message.size())) < 0) return -1;
    acl_aio_readn(a, static_cast<int>(b->message.size()));
    return 0;
}

int on_connect(ACL_ASTREAM* a, void* ctx) {
    auto* b = static_cast<Bench*>(ctx);
    b->pending--;
    b->connected++;
    b->streams.push_back(a);
    start_connects(b);
    acl_aio_ctl(a, ACL_AIO_CTL_READ_FN, on_echo, ACL_AIO_CTL_END);
    if (acl_aio_writen(a, b->message.data(), static_cast<int>(b->message.size())) < 0) return -1;
    acl_aio_readn(a, static_cast<int>(b->message.size()));
    return 0;
}

int on_close(ACL_ASTREAM* a, void* ctx) {
    auto* b = static_cast<Bench*>(ctx);
    if (b->stopping) return 0;
    b->errors++;
    bool was_connected = false;
    for (auto& s : b->streams) {
        if (s == a) {
            s = nullptr;
            was_connected = true;
        }
    }
    if (!was_connected) {
        b->pending--;
        start_connects(b);
    }
    return 0;
}

int on_timeout(ACL_ASTREAM*, void* ctx) {
    static_cast<Bench*>(ctx)->errors++;
    return -1;
}

void start_connects(Bench* b) {
    while (b->started < b->want && b->pending < kConnectBatch) {
        b->started++;
        ACL_ASTREAM* a = acl_aio_connect(b->aio, b->addr.c_str(), kTimeout);
        if (a == nullptr) {
            b->errors++;
            continue;
        }
        b->pending++;
        acl_aio_ctl(a, ACL_AIO_CTL_CONNECT_FN, on_connect, ACL_AIO_CTL_CLOSE_FN, on_close,
                    ACL_AIO_CTL_TIMEO_FN, on_timeout, ACL_AIO_CTL_CTX, b, ACL_AIO_CTL_END);
    }
}

struct Result {
    int conns;
    double seconds;
    long long round_trips;
    long long bytes;
    int errors;
    double connect_seconds;
};

Result run_case(const std::string& addr, int conns, size_t size, double seconds) {
    Bench b;
    b.aio = acl_aio_create_ex(0, 0, 0, 10000);
    b.addr = addr;
    b.message.assign(size, 'm');
    for (size_t i = 0; i < size; i++) b.message[i] = static_cast<char>('a' + i % 26);
    b.want = conns;
    b.streams.reserve(static_cast<size_t>(conns));

    auto t0 = Clock::now();
    start_connects(&b);
    while (b.connected + b.errors < conns && Clock::now() - t0 < std::chrono::seconds(60))
        acl_aio_loop(b.aio);
    double connect_seconds = std::chrono::duration<double>(Clock::now() - t0).count();

    long long rt0 = b.round_trips, by0 = b.bytes;
    auto start = Clock::now();
    auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < end) acl_aio_loop(b.aio);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    long long rt = b.round_trips - rt0, by = b.bytes - by0;

    // Stop: no new messages; close every connection and let the loop free them.
    b.stopping = true;
    for (ACL_ASTREAM* a : b.streams) {
        if (a != nullptr) acl_aio_iocp_close(a);
    }
    for (int i = 0; i < 1000 && acl_event_nstreams(acl_aio_event(b.aio)) > 0; i++)
        acl_aio_loop(b.aio);
    acl_aio_free(b.aio);
    return {conns, elapsed, rt, by, b.errors, connect_seconds};
}

std::vector<int> parse_list(const char* text) {
    std::vector<int> out;
    for (const char* p = text; *p;) {
        out.push_back(std::atoi(p));
        const char* comma = std::strchr(p, ',');
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--server") == 0) return run_server(std::atoi(argv[2]));

    std::vector<int> cases = {1, 100, 10000};
    size_t size = 128;
    double seconds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "-c") == 0)
            cases = parse_list(argv[i + 1]);
        else if (std::strcmp(argv[i], "-s") == 0)
            size = static_cast<size_t>(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "-t") == 0)
            seconds = std::atof(argv[i + 1]);
    }
    if (size < 1) size = 1;

    long limit = platform::raise_open_file_limit();
    int most = 0;
    for (int c : cases) most = c > most ? c : most;
    if (limit < most + 64) {
        std::fprintf(stderr, "open-file limit %ld too low for %d connections\n", limit, most);
        return 1;
    }

    int port = platform::free_loopback_port();
    platform::ChildProcess server;
    if (port <= 0 ||
        server.start({platform::program_path(), "--server", std::to_string(port)}) < 0) {
        std::fprintf(stderr, "cannot start the echo server\n");
        return 1;
    }
    std::string addr = "127.0.0.1:" + std::to_string(port);
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        platform::TcpSocket probe;
        up = probe.connect("127.0.0.1", port, 100) == 0;
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!up) {
        std::fprintf(stderr, "echo server did not come up\n");
        return 1;
    }

    std::printf("aio_echo: %zu-byte messages, %.1f s per case, loopback %s\n", size, seconds,
                addr.c_str());
    std::printf("%12s %14s %10s %8s %12s\n", "connections", "messages/s", "MB/s", "errors",
                "connect s");
    int total_errors = 0;
    for (int conns : cases) {
        Result r = run_case(addr, conns, size, seconds);
        double mps = r.round_trips / r.seconds;
        double mbs = r.bytes / r.seconds / (1024.0 * 1024.0);
        std::printf("%12d %14.0f %10.2f %8d %12.2f\n", r.conns, mps, mbs, r.errors,
                    r.connect_seconds);
        std::fflush(stdout);
        total_errors += r.errors;
    }
    server.stop();
    return total_errors == 0 ? 0 : 2;
}
