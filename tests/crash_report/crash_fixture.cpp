#include "crash_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"

namespace crash_test {

CrashRun run_crash(const tarvo_test::TempDir& dir, const std::string& kind,
                   const std::map<std::string, std::string>& env) {
    CrashRun r;
    r.program = tarvo_test::copy_program("tarvoproxy", dir.path());
    tarvo_test::write_file(dir.file("tarvoproxy.ini"),
                           "[proxy]\nlisten_ip=127.0.0.1\nlisten_port=" +
                               std::to_string(platform::free_loopback_port()) + "\n");

    platform::ChildOptions o;
    o.cwd = dir.str();
    o.stdout_path = o.stderr_path = dir.file("console.txt");
    o.env = {{"TARVO_REGISTRY", dir.file("registry.reg")},
             {"TARVO_TEST_CRASH", kind},
             {"ASAN_OPTIONS", kCrashAsanOptions}};
    for (const auto& kv : env) o.env.emplace_back(kv.first, kv.second);

    platform::ChildProcess proxy;
    if (proxy.start({r.program}, o) != 0) {
        ADD_FAILURE() << "tarvoproxy does not start";
        return r;
    }
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
