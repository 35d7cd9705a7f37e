// tarvologger run as a program: what reaches the server, what the console and
// the log say, and that it always ends with status 0.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logger_fixture.h"
#include "platform/blocking_tcp.h"

using namespace logger_test;

namespace {

std::string usage_line(const std::string& prog) {
    return "usage: " + prog + " -h[help] -f filepath -v version -u uid -s server_addr\r\n";
}

// A file `name` holding `body` in the test's folder; its path.
std::string write_dump(const TempDir& dir, const std::string& name, const std::string& body) {
    std::string path = dir.file(name);
    write_file(path, body);
    return path;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// The exact bytes on the wire, read by a bare listener: the header line, then
// the file, then the close.
TEST(LoggerUpload, ThousandByteFileIsHeaderLineThenExactlyItsBytes) {
    TempDir dir;
    std::string body = pattern_bytes(1000, 7);
    std::string dump = write_dump(dir, "tarvoproxy.dmp", body);

    platform::TcpListener l;
    ASSERT_EQ(l.listen("127.0.0.1", 0, 4), 0);
    std::string received;
    std::thread server([&] {
        platform::TcpSocket c = l.accept(20000);
        if (c.valid()) c.recv_until_close(received, 20000);
    });
    RunResult r = run_logger(dir, {"-f", dump, "-v", "1.0.2.3", "-u", "77", "-s",
                                   "127.0.0.1:" + std::to_string(l.port())});
    server.join();

    EXPECT_EQ(r.status, 0);
    std::string header = "client_dump_file:uid=77|file=" + dump + "|ver=1.0.2.3|size=1000\r\n";
    EXPECT_EQ(received, header + body);
    EXPECT_TRUE(has(r.log, "(0, info): logger_dump_file(")) << r.log;
    EXPECT_TRUE(has(r.log, "dump size(1000) == file(" + dump + ")'s size(1000)")) << r.log;
}

// A dump of several read steps and an odd size, through the stand-in, which
// stores it under the base name and checks the length.
TEST(LoggerUpload, LargeDumpArrivesWholeAtStandIn) {
    TempDir dir;
    StandIn svr(dir.folder() + "store");
    std::string body = pattern_bytes(300001, 11);
    std::string dump = write_dump(dir, "tarvoproxy.dmp", body);

    RunResult r = run_logger(dir, {"-f", dump, "-v", "2.1.0.9", "-u", "5", "-s", svr.addr()});
    auto reports = svr.reports_so_far();

    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "upload uid=5 file=" + dump +
                              " ver=2.1.0.9 size=300001 received=300001 stored=" + dir.folder() +
                              "store/tarvoproxy.dmp ok");
    EXPECT_EQ(read_file(dir.folder() + "store/tarvoproxy.dmp"), body);
    EXPECT_EQ(read_file(dump), body) << "the dump is kept after the upload";
}

// -u follows the usual text-to-integer rule.
TEST(LoggerUpload, ClientIdTakesLeadingDigitsOnly) {
    struct Case {
        const char* text;
        const char* uid;
    } cases[] = {
        {"abc", "0"}, {"", "0"}, {"12ab", "12"}, {" 42", "42"}, {"4000000000", "4000000000"}};

    TempDir dir;
    StandIn svr(dir.folder() + "store");
    std::string dump = write_dump(dir, "d.dmp", "xyz");
    for (const Case& c : cases) {
        RunResult r = run_logger(dir, {"-f", dump, "-v", "1", "-u", c.text, "-s", svr.addr()});
        auto reports = svr.reports_so_far();
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(reports.size(), 1u) << c.text;
        EXPECT_TRUE(has(reports[0], std::string("upload uid=") + c.uid + " file=")) << reports[0];
    }
}

// Without a file or a version nothing is sent: the usage line goes to the
// console and to the log.
TEST(LoggerOptions, MissingFileOrVersionPrintsUsageAndSendsNothing) {
    TempDir dir;
    StandIn svr(dir.folder() + "store");
    std::string dump = write_dump(dir, "d.dmp", "dump");
    std::string prog = dir.folder() + "tarvologger";

    std::vector<std::vector<std::string>> cases = {
        {"-f", dump, "-s", svr.addr()},                      // no -v
        {"-f", dump, "-v", "", "-s", svr.addr()},            // empty -v
        {"-v", "1.0", "-s", svr.addr()},                     // no -f
        {"-s", svr.addr(), "-h", "-f", dump, "-v", "1"},     // -h ends at once
        {"-s", svr.addr(), "-f", dump, "-v", "1", "-h"},     // wherever it stands
        {"-s", svr.addr(), "stray", "-f", dump, "-v", "1"},  // options end at a non-option
    };
    for (const auto& args : cases) {
        RunResult r = run_logger(dir, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usage_line(prog)) << args[0] << " " << args[1];
        EXPECT_TRUE(svr.reports_so_far().empty());
    }
    // Every run wrote its usage line to the log as an info line.
    std::string log = read_file(dir.folder() + "tarvologger.log");
    std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d log\(pid=\d+, tid=\d+\)\(0, info\): )" +
                    std::string("usage: ") + prog +
                    R"( -h\[help\] -f filepath -v version -u uid -s server_addr\r\n)");
    auto n =
        std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator());
    EXPECT_EQ(n, static_cast<long>(cases.size())) << log;
}

TEST(LoggerOptions, OptionErrorsAreReportedWithTheLetter) {
    TempDir dir;
    StandIn svr(dir.folder() + "store");
    std::string dump = write_dump(dir, "d.dmp", "dump");
    std::string prog = dir.folder() + "tarvologger";

    // A missing value: the message, and the usage since -f never got a path.
    RunResult r = run_logger(dir, {"-v", "1", "-f"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, prog + ": option requires an argument -- f\n");
    EXPECT_EQ(r.out, usage_line(prog));

    // An unknown letter is reported and skipped; the rest still counts.
    r = run_logger(dir, {"-x", "-f", dump, "-v", "1", "-s", svr.addr()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, prog + ": illegal option -- x\n");
    auto reports = svr.reports_so_far();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(has(reports[0], "size=4 received=4")) << reports[0];

    // Grouped letters and a value glued to its letter.
    r = run_logger(dir, {"-f" + dump, "-v1.5", "-u9", "-s" + svr.addr()});
    reports = svr.reports_so_far();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(has(reports[0], "upload uid=9 file=" + dump + " ver=1.5 size=4")) << reports[0];
}

// The log is named after the program's own base name, beside it.
TEST(LoggerOptions, LogFileIsNamedAfterTheProgram) {
    TempDir dir;
    RunResult r = run_logger(dir, {"-h"}, {}, "dumpsend");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "usage: " + dir.folder() + "dumpsend -h[help]")) << r.log;
    EXPECT_FALSE(std::filesystem::exists(dir.folder() + "tarvologger.log"));
}

// A file with nothing to send is refused after the connect: the server sees a
// connection without a single byte.
TEST(LoggerUpload, EmptyMissingOrOversizedFileLogsSizeErrorAndSendsNothing) {
    TempDir dir;
    StandIn svr(dir.folder() + "store");
    std::string empty = write_dump(dir, "empty.dmp", "");
    std::string missing = dir.folder() + "missing.dmp";

    RunResult r = run_logger(dir, {"-f", empty, "-v", "1", "-s", svr.addr()});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "(1, error): logger_dump_file(")) << r.log;
    EXPECT_TRUE(has(r.log, "filepath(" + empty + ")'s size(0) invalid\r\n")) << r.log;
    EXPECT_EQ(svr.reports_so_far(), std::vector<std::string>{"error empty connection"});

    r = run_logger(dir, {"-f", missing, "-v", "1", "-s", svr.addr()});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "file_size(")) << r.log;
    EXPECT_TRUE(has(r.log, "stat filepath(" + missing + ") error(No such file or directory)"))
        << r.log;
    EXPECT_TRUE(has(r.log, "filepath(" + missing + ")'s size(-1) invalid")) << r.log;
    EXPECT_EQ(svr.reports_so_far(), std::vector<std::string>{"error empty connection"});

    // The header's size field is signed 32-bit: a larger file cannot be
    // announced truthfully, so it is refused like an empty one (sparse here).
    std::string huge = write_dump(dir, "huge.dmp", "");
    std::filesystem::resize_file(huge, 2147483648ULL);
    r = run_logger(dir, {"-f", huge, "-v", "1", "-s", svr.addr()});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "filepath(" + huge + ")'s size(2147483648) invalid")) << r.log;
    EXPECT_EQ(svr.reports_so_far(), std::vector<std::string>{"error empty connection"});
    EXPECT_TRUE(std::filesystem::is_empty(dir.folder() + "store"));
}

// A server whose accept queue is full never completes the handshake: the
// connect gives up after its time-out (lowered through the test seam) and
// nothing is uploaded.
TEST(LoggerConnect, ServerThatNeverAcceptsTimesOut) {
    TempDir dir;
    std::string dump = write_dump(dir, "d.dmp", "dump");

    platform::TcpListener l;
    ASSERT_EQ(l.listen("127.0.0.1", 0, 0), 0);
    // Fill the queue until a connect no longer completes.
    std::vector<platform::TcpSocket> fillers;
    bool full = false;
    for (int i = 0; i < 16 && !full; i++) {
        platform::TcpSocket s;
        if (s.connect("127.0.0.1", l.port(), 300) == 0)
            fillers.push_back(std::move(s));
        else
            full = errno == ETIMEDOUT;
    }
    ASSERT_TRUE(full) << "the accept queue never filled";

    std::string addr = "127.0.0.1:" + std::to_string(l.port());
    RunResult r = run_logger(dir, {"-f", dump, "-v", "1", "-s", addr},
                             {{"TARVO_LOGGER_CONNECT_TIMEOUT", "1"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "connect ip(127.0.0.1) port(" + std::to_string(l.port()) + ") error"))
        << r.log;
    EXPECT_TRUE(has(r.log, "(1, error): logger_dump_connect(")) << r.log;
    EXPECT_TRUE(has(r.log, "connect addr(" + addr + ") error(Connection timed out)")) << r.log;
    EXPECT_FALSE(has(r.log, "logger_dump_file(")) << r.log;

    // Only the fillers ever got in, and none of them carries a byte.
    fillers.clear();
    for (;;) {
        platform::TcpSocket c = l.accept(200);
        if (!c.valid()) break;
        std::string data;
        c.recv_until_close(data, 2000);
        EXPECT_EQ(data, "");
    }
}

TEST(LoggerConnect, RefusedConnectionIsLoggedAndNothingElseHappens) {
    TempDir dir;
    std::string dump = write_dump(dir, "d.dmp", "dump");
    int port = platform::free_loopback_port();
    std::string addr = "127.0.0.1:" + std::to_string(port);

    RunResult r = run_logger(dir, {"-f", dump, "-v", "1", "-s", addr});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "connect addr(" + addr + ") error(Connection refused)")) << r.log;
    EXPECT_EQ(read_file(dump), "dump");
}

// Without -s the dump goes to the deployment's logging server on this machine.
TEST(LoggerConnect, DefaultServerIsLocalPort8887) {
    TempDir dir;
    std::string dump = write_dump(dir, "d.dmp", "abc");
    platform::TcpListener l;
    if (l.listen("127.0.0.1", 8887, 4) != 0) GTEST_SKIP() << "port 8887 is in use on this machine";
    // Other programs on this machine may talk to the same default port: only
    // the connection that carries a dump counts.
    std::string received;
    std::thread server([&] {
        for (int i = 0; i < 20 && received.rfind("client_dump_file:", 0) != 0; i++) {
            received.clear();
            platform::TcpSocket c = l.accept(1000);
            if (c.valid()) c.recv_until_close(received, 20000);
        }
    });
    RunResult r = run_logger(dir, {"-f", dump, "-v", "3"});
    server.join();
    EXPECT_EQ(received, "client_dump_file:uid=0|file=" + dump + "|ver=3|size=3\r\nabc");
}

// A server that goes away part-way through the body: the write error is
// logged and the dump stays where it is, ready for a later run.
TEST(LoggerUpload, BrokenUploadLogsWriteErrorAndKeepsTheDump) {
    TempDir dir;
    std::string body = pattern_bytes(16 << 20, 3);  // far more than socket buffers hold
    std::string dump = write_dump(dir, "tarvoproxy.dmp", body);

    platform::TcpListener l;
    ASSERT_EQ(l.listen("127.0.0.1", 0, 4), 0);
    std::thread server([&] {
        platform::TcpSocket c = l.accept(20000);
        std::string got;
        if (c.valid()) c.recv_until(got, "\r\n", 20000);
        // Closing with unread bytes queued resets the connection.
    });
    std::string addr = "127.0.0.1:" + std::to_string(l.port());
    RunResult r = run_logger(dir, {"-f", dump, "-v", "1", "-s", addr});
    server.join();

    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.log, "(1, error): logger_dump_file(")) << r.log;
    EXPECT_TRUE(has(r.log, "write to addr(" + addr + ") error(")) << r.log;
    EXPECT_FALSE(has(r.log, "dump size(")) << r.log;
    EXPECT_EQ(read_file(dump), body);
}

// -f, -v and -s keep at most 259, 255 and 255 bytes of their values.
TEST(LoggerOptions, LongValuesAreCutToTheirLimits) {
    TempDir dir;
    StandIn svr(dir.folder() + "store");

    // A path of exactly 259 bytes is used whole; one byte more is cut back to
    // those 259 bytes, which name a file that does not exist.
    std::string name(259 - dir.folder().size(), 'p');
    std::string path259 = dir.folder() + name;
    ASSERT_EQ(path259.size(), 259u);
    write_file(path259, "259");
    write_file(path259 + "q", "260");
    std::string long_version(300, 'v');

    RunResult r = run_logger(dir, {"-f", path259, "-v", long_version, "-s", svr.addr()});
    auto reports = svr.reports_so_far();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(has(reports[0], "file=" + path259 + " ver=" + std::string(255, 'v') + " size=3 "))
        << reports[0];

    std::remove(path259.c_str());
    r = run_logger(dir, {"-f", path259 + "q", "-v", "1", "-s", svr.addr()});
    EXPECT_TRUE(has(r.log, "stat filepath(" + path259 + ") error(")) << r.log;
    EXPECT_EQ(svr.reports_so_far(), std::vector<std::string>{"error empty connection"});

    // The server address: 250 blanks and ":<port>" is cut before the port.
    r = run_logger(dir, {"-f", path259 + "q", "-v", "1", "-s", std::string(250, ' ') + svr.addr()});
    EXPECT_TRUE(svr.reports_so_far().empty());
    EXPECT_TRUE(has(r.log, "connect addr(" + std::string(250, ' ') + "127.0) error(")) << r.log;
}
