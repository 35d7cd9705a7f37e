// session_bench: N clients (default 1,000) log in to tarvo_sessionsvr and
// announce 10 resources each, every client with a server channel of its own
// in this one process.
//
// Prints logins per second, the datagrams resent, and the CPU time of the
// stand-in and of the clients. On a machine shared with other work the
// wall-clock figure swings; the CPU time per client barely moves.
//
// Usage: session_bench [clients] [resources per client]   (defaults 1000 10)
// The stand-in listens on a random 127.x.y.z address; its output goes to a
// temporary folder.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/process_cpu.h"
#include "platform/self.h"
#include "server_channel.h"
#include "test_support.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Counter : p2p::ServerChannelEvents {
    std::atomic<int> logged_in{0};
    std::atomic<int> failed{0};
    void on_login_reply(std::uint16_t state, std::uint32_t) override {
        if (state == 0) logged_in++;
    }
    void on_relay(std::uint32_t, const std::string&) override {}
    void on_query_answer(const P2P_QUERY_ANSWER&) override {}
    void on_send_failed(std::uint16_t, std::uint16_t) override { failed++; }
    void on_login_lapsed() override {}
};

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int resources = argc > 2 ? std::atoi(argv[2]) : 10;

    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    const std::string ip = "127." + std::to_string(octet(rng)) + "." + std::to_string(octet(rng)) +
                           "." + std::to_string(octet(rng));
    const int port = 20000 + octet(rng) * 100;
    tarvo_test::TempDir dir;
    platform::ChildOptions o;
    o.stdout_path = dir.file("sessionsvr.out");
    platform::ChildProcess svr;
    if (svr.start({std::string(TARVO_PROGRAM_DIR) + "/tarvo_sessionsvr", "-a", ip, "-p",
                   std::to_string(port)},
                  o) != 0) {
        std::fprintf(stderr, "session_bench: cannot start tarvo_sessionsvr\n");
        return 1;
    }
    if (!tarvo_test::wait_until([&] {
            return tarvo_test::read_file(o.stdout_path).find("listening") != std::string::npos ||
                   !svr.running();
        }) ||
        !svr.running()) {
        std::fprintf(stderr, "session_bench: tarvo_sessionsvr did not start on %s:%d\n", ip.c_str(),
                     port);
        return 1;
    }

    Counter events;
    std::vector<std::unique_ptr<p2p::ServerChannel>> channels;
    const long cpu_svr0 = platform::process_cpu_ms(svr.pid());
    const long cpu_self0 = platform::process_cpu_ms(platform::process_id());
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < clients; i++) {
        channels.push_back(p2p::ServerChannel::open(ip, port, &events));
        if (channels.back() == nullptr) {
            std::fprintf(stderr, "session_bench: no socket for client %d\n", i);
            return 1;
        }
        channels.back()->login(0);
    }
    bool all_in = tarvo_test::wait_until([&] { return events.logged_in.load() >= clients; },
                                         std::chrono::minutes(5));
    const double login_s = seconds_since(t0);

    const Clock::time_point t1 = Clock::now();
    for (int r = 0; r < resources; r++) {
        for (auto& ch : channels) {
            std::uint64_t rid = (static_cast<std::uint64_t>(ch->client_id()) << 32) | r;
            ch->send_message(P2P_MSG_RC_ADD, [rid](P2pWriter& w) { w.raw64(rid); });
        }
    }
    bool all_acked = tarvo_test::wait_until(
        [&] {
            for (auto& ch : channels)
                if (ch->unanswered() != 0) return false;
            return true;
        },
        std::chrono::minutes(5));
    const double announce_s = seconds_since(t1);

    std::uint64_t resent = 0;
    for (auto& ch : channels) resent += ch->resends();
    const long cpu_svr = platform::process_cpu_ms(svr.pid()) - cpu_svr0;
    const long cpu_self = platform::process_cpu_ms(platform::process_id()) - cpu_self0;

    std::printf("clients                 %d (%s)\n", clients, all_in ? "all logged in" : "NOT ALL");
    std::printf("logins per second       %.0f (%.2f s for all)\n", clients / login_s, login_s);
    std::printf("announcements           %d in %.2f s (%s)\n", clients * resources, announce_s,
                all_acked ? "all acknowledged" : "NOT ALL");
    std::printf("datagrams resent        %llu, sends given up %d\n",
                static_cast<unsigned long long>(resent), events.failed.load());
    std::printf("stand-in CPU            %ld ms (%.3f ms per client)\n", cpu_svr,
                static_cast<double>(cpu_svr) / clients);
    std::printf("clients' CPU            %ld ms (%.3f ms per client)\n", cpu_self,
                static_cast<double>(cpu_self) / clients);
    channels.clear();  // logs every client out
    svr.stop();
    return all_in && all_acked ? 0 : 1;
}
