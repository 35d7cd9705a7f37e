// tarvomonitor as a program: start, the supervising daemon, stop, and the
// checks of its command line and configuration.

#include "monitor_fixture.h"

#include "lc_config.h"
#include "platform/child_process.h"
#include "platform/profile.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace monitor_test;

namespace {

const std::string kMonitor = tarvo_test::program_file("tarvomonitor");

class DaemonTest : public ::testing::Test {
  protected:
    MonitorDir dir;

    void write_config(const std::string& extra = "", const std::string& eol = "\n") {
        std::string text = "exec_name=" + dir.child_path() + eol +
                           "proxy_process=" + dir.child_name() + eol +
                           "p2p_proxy_server=127.0.0.1" + eol + "p2p_proxy_port=28081" + eol +
                           "log_level=LOG_DEBUG" + eol + extra;
        write_file(dir.file("monitor.conf"), text);
    }

    // Runs the monitor to its end; its exit code, with its output in `out`.
    int run(const std::vector<std::string>& args, std::string& out) {
        std::vector<std::string> argv{kMonitor};
        argv.insert(argv.end(), args.begin(), args.end());
        return platform::run_program(argv, out, 30000, dir.options());
    }

    std::string daemon_log() {
        std::string text;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
            if (e.path().filename().string().find("tarvomonitor_log.d.") == 0)
                text += read_file(e.path().string());
        }
        return text;
    }

    // Start times (ms since the epoch) of the child, in order.
    std::vector<long long> child_starts() {
        std::istringstream in(read_file(dir.file("child_starts")));
        std::vector<long long> out;
        long long pid, ms;
        std::string mode;
        while (in >> pid >> ms >> mode) out.push_back(ms);
        return out;
    }
};

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TEST_F(DaemonTest, StartLeavesDaemonThatRestartsItsChildAndStopEndsBoth) {
    write_config();
    std::string out;
    ASSERT_EQ(run({"start", "monitor.conf"}, out), 0) << out;

    // The daemon runs on its own and has started the child once, with "start".
    ASSERT_TRUE(wait_until([&] { return child_starts().size() == 1; })) << daemon_log();
    int daemon_pid = read_pid(dir.file("tarvomonitor_pid"));
    ASSERT_TRUE(pid_alive(daemon_pid));
    EXPECT_EQ(read_pid(dir.file("tarvomonitor_lock")), daemon_pid);
    EXPECT_NE(read_file(dir.file("child_starts")).find(" start\n"), std::string::npos);

    // A child that dies is started again after the restart delay.
    int child_pid = read_pid(dir.file(dir.child_name() + "_pid"));
    ASSERT_TRUE(pid_alive(child_pid));
    long long killed_at = now_ms();
    ASSERT_EQ(::kill(child_pid, SIGKILL), 0);
    ASSERT_TRUE(wait_until([&] { return child_starts().size() == 2; })) << daemon_log();
    EXPECT_GE(child_starts()[1] - killed_at, 900);
    EXPECT_TRUE(pid_alive(daemon_pid));

    std::string log = daemon_log();
    EXPECT_NE(log.find("level=info, efile=tarvomonitor, sfile="), std::string::npos) << log;
    EXPECT_NE(log.find("Server Start!\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("LC_ProcessCreate start, Buffer=" + dir.child_path()), std::string::npos);

    // A second daemon on the same configuration finds the lock taken. Its
    // watch thread, started by the initialisation before the lock is tried,
    // waits for the lock and so never touches the browser's setting.
    out.clear();
    EXPECT_EQ(run({"real_start", "monitor.conf"}, out), 0);
    auto locked =
        out.find("Unable to lock ./tarvomonitor_lock, is tarvomonitor already running?\n");
    ASSERT_NE(locked, std::string::npos) << out;
    EXPECT_NE(out.find("__SafeDaemonExclusiveLockStart error\n", locked), std::string::npos) << out;
    EXPECT_EQ(out.find("Set Proxy Server"), std::string::npos) << out;

    // Stop ends the daemon first and then its child, for good.
    int new_child = read_pid(dir.file(dir.child_name() + "_pid"));
    out.clear();
    EXPECT_EQ(run({"stop", "monitor.conf"}, out), 0);
    EXPECT_NE(out.find("LC_BTcpConnect error"), std::string::npos) << out;
    EXPECT_NE(out.find("OK, has stopped the process now"), std::string::npos) << out;
    EXPECT_TRUE(wait_until([&] { return !pid_alive(daemon_pid) && !pid_alive(new_child); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(child_starts().size(), 2u);

    out.clear();
    run({"stop", "monitor.conf"}, out);
    EXPECT_NE(out.find("The daemon is not running!"), std::string::npos) << out;
}

TEST_F(DaemonTest, StopEndsDaemonEvenWhenChildWroteNoPidFile) {
    write_config();
    platform::ChildProcess daemon;
    ASSERT_EQ(daemon.start({kMonitor, "real_start", "monitor.conf"}, dir.options()), 0);
    ASSERT_TRUE(wait_until([&] { return child_starts().size() == 1; }));
    int child_pid = read_pid(dir.file(dir.child_name() + "_pid"));
    std::filesystem::remove(dir.file(dir.child_name() + "_pid"));

    std::string out;
    EXPECT_EQ(run({"stop", "monitor.conf"}, out), 0);
    EXPECT_NE(out.find("LC_ReadPidFile error"), std::string::npos) << out;
    EXPECT_GE(daemon.wait(10000), 0);  // ended: the child no longer runs under it
    EXPECT_TRUE(wait_until([&] { return !pid_alive(child_pid); }));  // orphaned, it leaves
}

TEST_F(DaemonTest, ChildExitingWith100EndsDaemonWith100) {
    write_config();
    write_file(dir.file("child_exit_code"), "100");
    platform::ChildProcess daemon;
    ASSERT_EQ(daemon.start({kMonitor, "real_start", "monitor.conf"}, dir.options()), 0);
    EXPECT_EQ(daemon.wait(20000), 100);
    EXPECT_EQ(child_starts().size(), 1u);
    EXPECT_NE(daemon_log().find("The child wants to exit now!"), std::string::npos);
}

TEST_F(DaemonTest, ChildExitingWithOtherCodesIsRestarted) {
    write_config();
    write_file(dir.file("child_exit_code"), "3");
    platform::ChildProcess daemon;
    ASSERT_EQ(daemon.start({kMonitor, "real_start", "monitor.conf"}, dir.options()), 0);
    ASSERT_TRUE(wait_until([&] { return child_starts().size() >= 3; }));
    auto starts = child_starts();
    EXPECT_GE(starts[2] - starts[1], 900);
    // The termination signal ends the daemon with 0.
    EXPECT_EQ(daemon.stop(5000), 0);
}

TEST_F(DaemonTest, RestartReplacesTheRunningDaemon) {
    write_config();
    platform::ChildProcess first;
    ASSERT_EQ(first.start({kMonitor, "real_start", "monitor.conf"}, dir.options()), 0);
    ASSERT_TRUE(wait_until([&] { return child_starts().size() == 1; }));

    platform::ChildOptions o = dir.options();
    o.stdout_path = dir.file("restart.out");
    platform::ChildProcess second;
    ASSERT_EQ(second.start({kMonitor, "restart", "monitor.conf"}, o), 0);
    EXPECT_GE(first.wait(10000), 0);  // stopped by the restart
    ASSERT_TRUE(wait_until([&] { return child_starts().size() == 2; }));
    EXPECT_TRUE(wait_until([&] { return read_pid(dir.file("tarvomonitor_pid")) == second.pid(); }));
    EXPECT_TRUE(second.running());

    // The new daemon's watch points the browser at the local proxy. Its
    // thread reports that on its own time, after the child has started.
    const std::string set_line = "Set Proxy Server: 127.0.0.1     Port: 28081\n";
    EXPECT_TRUE(wait_until([&] {
        return read_file(dir.file("restart.out")).find(set_line) != std::string::npos;
    })) << read_file(dir.file("restart.out"));
    std::string msg = read_file(dir.file("prxy_wrp.log"));
    EXPECT_NE(msg.find("msg(pid=" + std::to_string(second.pid())), std::string::npos) << msg;
    EXPECT_NE(msg.find("Start Initialize\r\n"), std::string::npos) << msg;
    EXPECT_NE(msg.find("End Initialize\r\n"), std::string::npos) << msg;
    EXPECT_NE(msg.find("start monitor thread.\r\n"), std::string::npos) << msg;
    EXPECT_EQ(second.stop(5000), 0);
}

TEST(MonitorSample, ConfigurationPointsAtTheProxyBesideIt) {
    const std::string path = tarvo_test::program_file("tarvomonitor.conf");
    LC_CONFIG cfg;
    ASSERT_EQ(LC_ConfigLoad(&cfg, path.c_str()), 0);
    std::string exec, process, server, server_port;
    int port = 0;
    ASSERT_EQ(LC_ConfigGetString(&cfg, "exec_name", exec), 0);
    ASSERT_EQ(LC_ConfigGetString(&cfg, "proxy_process", process), 0);
    ASSERT_EQ(LC_ConfigGetString(&cfg, "p2p_proxy_server", server), 0);
    ASSERT_EQ(LC_ConfigGetString(&cfg, "p2p_proxy_server_port", server_port), 0);
    ASSERT_EQ(LC_ConfigGetInt(&cfg, "p2p_proxy_port", &port), 0);  // LF line ends
    EXPECT_EQ(exec, "tarvoproxy");
    EXPECT_EQ(process, "tarvoproxy");
    EXPECT_EQ(server, "127.0.0.1");
    EXPECT_EQ(port, 28081);
    EXPECT_EQ(server_port, "127.0.0.1:28081");

    // The proxy's own default listen address, when its file is there too.
    const std::string ini = tarvo_test::program_file("tarvoproxy.ini");
    if (std::filesystem::exists(ini)) {
        char ip[64];
        platform::profile_read_string("proxy", "listen_ip", "", ip, sizeof(ip), ini.c_str());
        EXPECT_EQ(server, ip);
        EXPECT_EQ(port, platform::profile_read_int("proxy", "listen_port", 0, ini.c_str()));
    }
}

TEST_F(DaemonTest, CommandLineChecks) {
    write_config();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "Argc error"},
        {{"start"}, "Argc error"},
        {{"", "monitor.conf"}, "Argv[1] error"},
        {{"bogus", "monitor.conf"}, "Argv[1] error"},
        {{"sto", "monitor.conf"}, "Argv[1] error"},
        {{"stop", ""}, "Argv[2] error"},
        {{"stop", std::string(261, 'c')}, "Argv[2] error"},
        // Mode words are case-insensitive prefixes.
        {{"STOP-now", "monitor.conf"}, "The daemon is not running!"},
    };
    for (auto& c : cases) {
        std::string out;
        EXPECT_EQ(run(c.args, out), 0);
        EXPECT_NE(out.find(c.message), std::string::npos) << c.message << " / " << out;
        if (c.message.find("error") != std::string::npos) {
            EXPECT_NE(out.find("__SafeDaemonInitialization error"), std::string::npos) << out;
        }
    }
}

TEST_F(DaemonTest, MissingExecNameEndsInitialisationWithItsOneLine) {
    write_file(dir.file("monitor.conf"), "proxy_process=x\nexec_nam=y\nEXEC_NAME=z\n");
    std::string out;
    EXPECT_EQ(run({"real_start", "monitor.conf"}, out), 0);
    EXPECT_NE(out.find("__SafeDaemonInitialization error"), std::string::npos) << out;
    // The initialisation's failure line is the whole report: no line of its own
    // names the missing key.
    EXPECT_EQ(out.find("exec_name"), std::string::npos) << out;
    EXPECT_EQ(daemon_log().find("exec_name"), std::string::npos) << daemon_log();
    EXPECT_FALSE(std::filesystem::exists(dir.file("tarvomonitor_lock")));

    out.clear();
    EXPECT_EQ(run({"real_start", "no-such.conf"}, out), 0);
    EXPECT_NE(out.find("__SafeDaemonInitialization error"), std::string::npos) << out;
}

TEST_F(DaemonTest, CrLfConfigurationKeepsTheCrInThePath) {
    // The CR stays in exec_name, so no such program exists and the daemon ends.
    write_config("", "\r\n");
    std::string out;
    EXPECT_EQ(run({"real_start", "monitor.conf"}, out), 0);
    std::string log = daemon_log();
    EXPECT_NE(log.find("LC_ProcessCreate start, Buffer=" + dir.child_path() + "\r"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("LC_ProcessCreate error"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dir.file("child_starts")));
}

}  // namespace
