// tarvoproxy against what one website or one local process could do to it:
// a response header of 500 lines of nearly 1 MiB, thousands of idle and
// dribbling connections, and connects to every port it listens on.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace proxy_test;

namespace {

// The kernel's record of a process's peak resident memory, in KiB.
long peak_rss_kb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// TCP ports a process listens on (IPv4 and IPv6), from its descriptors and
// the kernel's socket tables.
std::set<int> listening_ports(int pid) {
    std::set<std::string> inodes;
    std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* d = opendir(fd_dir.c_str())) {
        while (dirent* e = readdir(d)) {
            char target[256] = {};
            std::string link = fd_dir + "/" + e->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
            std::string t(target, n > 0 ? static_cast<size_t>(n) : 0);
            if (t.rfind("socket:[", 0) == 0) inodes.insert(t.substr(8, t.size() - 9));
        }
        closedir(d);
    }
    std::set<int> ports;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(pid) + table);
        std::string line;
        std::getline(in, line);  // titles
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, st, queues, timer, retr, uid, timeout, inode;
            f >> sl >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode;
            if (st != "0A" || inodes.count(inode) == 0) continue;  // 0A: listening
            ports.insert(std::stoi(local.substr(local.rfind(':') + 1), nullptr, 16));
        }
    }
    return ports;
}

class AbuseE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        nginx_ = std::make_unique<Nginx>(dir_.path());
        proxy_ = std::make_unique<TarvoProxy>(dir_.path());
        ASSERT_TRUE(nginx_->ok());
        ASSERT_TRUE(proxy_->ok()) << proxy_->log();
        write_file(nginx_->root() / "small.html", "small");
    }
    TempDir dir_;
    std::unique_ptr<Nginx> nginx_;
    std::unique_ptr<TarvoProxy> proxy_;
};

TEST_F(AbuseE2E, HugeResponseHeaderLeavesPeakMemoryUnder64MiB) {
    // 500 lines of just under 1 MiB each: each line fits the line reader, so
    // only a bound on the whole header keeps the proxy from holding them.
    std::string line = "X-Big: " + std::string((1 << 20) - 100, 'm') + "\r\n";
    ScriptedServer huge([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        if (s.send_all("HTTP/1.1 200 OK\r\n") != 0) return;
        for (int i = 0; i < 500; ++i)
            if (s.send_all(line) != 0) return;
        s.send_all("\r\n");
    });
    std::string t = "127.0.0.1:" + std::to_string(huge.port());
    bool closed = false;
    auto r =
        raw_exchange(proxy_->port(), "GET http://" + t + "/ HTTP/1.1\r\nHost: " + t + "\r\n\r\n",
                     &closed, 30000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(r, "");
    long peak = peak_rss_kb(proxy_->pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 64 * 1024) << "peak resident memory " << peak << " KiB";
    EXPECT_EQ(curl(proxy_->port(), {nginx_->url("/small.html")}).output, "small");
}

TEST_F(AbuseE2E, NewRequestIsAnsweredBesideThousandsOfIdleAndDribblingConnections) {
    std::vector<platform::TcpSocket> idle(5000), dribblers(1000);
    int connected = 0;
    for (auto& s : idle) connected += s.connect("127.0.0.1", proxy_->port(), 20000) == 0;
    for (auto& s : dribblers) {
        if (s.connect("127.0.0.1", proxy_->port(), 20000) != 0) continue;
        ++connected;
        s.send_all("GET http://127.0.0.1:" + std::to_string(nginx_->port()) + "/ HTTP/1.1\r\nHo");
    }
    EXPECT_EQ(connected, 6000) << "every connect was taken";
    for (auto& s : dribblers) s.send_all("s");
    // A generous limit: this checks that the request is served at all.
    auto r = curl(proxy_->port(), {"--max-time", "60", nginx_->url("/small.html")}, 90000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "small");
    EXPECT_TRUE(proxy_->running());
}

TEST_F(AbuseE2E, LocalProcessGetsNothingFromAnyListeningPortButTheProxyPort) {
    // A lookup request as the DNS channel frames it, for "localhost".
    std::string msg(8 + 604, '\0');
    msg[0] = static_cast<char>(1100 & 0xff);
    msg[1] = static_cast<char>(1100 >> 8);
    msg[4] = static_cast<char>(604 & 0xff);
    msg[5] = static_cast<char>(604 >> 8);
    msg.replace(8, 9, "localhost");
    std::set<int> ports = listening_ports(proxy_->pid());
    ASSERT_EQ(ports.count(proxy_->port()), 1u) << "the table lists the proxy port";
    for (int port : ports) {
        if (port == proxy_->port()) continue;
        SCOPED_TRACE(port);
        platform::TcpSocket s;
        if (s.connect("127.0.0.1", port, 2000) != 0) continue;
        s.send_all(msg);
        std::string got;
        s.recv_some(got, 2000);
        EXPECT_EQ(got.size(), 0u) << "port " << port << " answered a stranger";
    }
    EXPECT_EQ(ports.size(), 1u) << "the proxy port is its only TCP listener";
}

}  // namespace
