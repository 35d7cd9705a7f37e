#include "sessionsvr_process.h"

#include <random>
#include <sstream>

#include "test_support.h"

namespace p2p_test {

LoopbackEndpoint random_loopback_endpoint() {
    static std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    std::uniform_int_distribution<int> port(20000, 60000);
    LoopbackEndpoint ep;
    ep.ip = "127." + std::to_string(octet(rng)) + "." + std::to_string(octet(rng)) + "." +
            std::to_string(octet(rng));
    ep.port = port(rng);
    return ep;
}

SessionServerProcess::SessionServerProcess(const std::filesystem::path& dir)
    : out_(dir / "sessionsvr.out") {
    for (int attempt = 0; attempt < 10 && !ok_; attempt++) {
        ep_ = random_loopback_endpoint();
        ok_ = start();
    }
}

bool SessionServerProcess::start() {
    child_.stop();
    // A fresh output file per start keeps the earlier lines in a file of their own.
    if (starts_++ > 0)
        std::filesystem::rename(out_, out_.string() + "." + std::to_string(starts_ - 1));
    platform::ChildOptions o;
    o.stdout_path = out_.string();
    o.stderr_path = out_.string() + ".err";
    if (child_.start({tarvo_test::program_file("tarvo_sessionsvr"), "-a", ep_.ip, "-p",
                      std::to_string(ep_.port)},
                     o) != 0)
        return false;
    bool up = tarvo_test::wait_until(
        [&] { return output().find("listening") != std::string::npos || !child_.running(); },
        std::chrono::seconds(20));
    return up && child_.running();
}

std::string SessionServerProcess::output() const { return tarvo_test::read_file(out_); }

int SessionServerProcess::count(const std::string& word, const std::string& part) const {
    std::istringstream in(output());
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (line.compare(0, word.size() + 1, word + " ") == 0 &&
            line.find(part) != std::string::npos)
            n++;
    }
    return n;
}

bool SessionServerProcess::wait_for(const std::string& word, const std::string& part, int n,
                                    std::chrono::milliseconds timeout) const {
    return tarvo_test::wait_until([&] { return count(word, part) >= n; }, timeout);
}

}  // namespace p2p_test
