#include "crash_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"

namespace crash_test {

namespace {

// Whether the proxy on `port` answers a request for a server that refuses
// every connection (with its error reply).
bool serves(int port) {
    return tarvo_test::wait_until(
        [&] {
            platform::TcpSocket s;
            std::string reply;
            if (s.connect("127.0.0.1", port, 2000) != 0 ||
                s.send_all("GET http://127.0.0.1:1/ HTTP/1.0\r\n\r\n") != 0)
                return false;
            s.recv_until_close(reply, 10000);
            return !reply.empty();
        },
        std::chrono::seconds(60));
}

}  // namespace

CrashRun run_crash(const tarvo_test::TempDir& dir, const std::string& kind,
                   const CrashOptions& opts) {
    CrashRun r;
    r.program = tarvo_test::copy_program("tarvoproxy", dir.path());
    const int port = platform::free_loopback_port();
    tarvo_test::write_file(
        dir.file("tarvoproxy.ini"),
        "[proxy]\nlisten_ip=127.0.0.1\nlisten_port=" + std::to_string(port) + "\n" + opts.ini);
    const std::string go = dir.file("crash.go");

    platform::ChildOptions o;
    o.cwd = dir.str();
    o.stdout_path = o.stderr_path = dir.file("console.txt");
    o.env = {{"TARVO_REGISTRY", dir.file("registry.reg")},
             {"TARVO_TEST_CRASH", kind},
             {"TARVO_TEST_CRASH_GO", go},
             {"ASAN_OPTIONS", kCrashAsanOptions},
             {"XDG_RUNTIME_DIR", dir.str()}};  // the desktop pipe's folder
    for (const auto& kv : opts.env) o.env.emplace_back(kv.first, kv.second);

    platform::ChildProcess proxy;
    if (proxy.start({r.program}, o) != 0) {
        ADD_FAILURE() << "tarvoproxy does not start";
        return r;
    }
    // The crash waits until the proxy has answered a request: its thread runs
    // its loop, so every thread sits where it stays.
    if (!serves(port)) ADD_FAILURE() << "tarvoproxy does not serve";
    if (opts.before_crash) opts.before_crash();
    tarvo_test::write_file(go, "");
    // A generous deadline: the point is only that the crash never hangs.
    r.status = proxy.wait(180000);
    if (r.status < 0) {
        ADD_FAILURE() << "tarvoproxy still runs after its crash";
        proxy.stop(1000);
    }
    r.report = tarvo_test::read_file(dir.file("tarvoproxy.rpt"));
    r.dump = tarvo_test::read_file(dir.file("tarvoproxy.dmp"));
    r.log = tarvo_test::read_file(dir.file("tarvoproxy.log"));
    r.console = tarvo_test::read_file(dir.file("console.txt"));
    return r;
}

std::vector<std::string> report_lines(const std::string& report) {
    std::vector<std::string> lines;
    std::istringstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace crash_test
