// The stand-in logging server: what it stores and reports for raw clients.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "logger_fixture.h"
#include "platform/blocking_tcp.h"
#include "platform/child_process.h"

using namespace logger_test;

namespace {

void send_raw(const StandIn& svr, const std::string& data) {
    platform::TcpSocket s;
    ASSERT_EQ(s.connect("127.0.0.1", svr.port(), 5000), 0);
    ASSERT_EQ(s.send_all(data), 0);
}

}  // namespace

TEST(LogsvrStandIn, StoresUploadsUnderSafeNamesInsideItsFolder) {
    struct Case {
        std::string file;    // path in the header
        std::string stored;  // name it gets in the store
    } cases[] = {
        {"../../evil", "evil"},
        {"C:\\Program Files\\Tarvo\\tarvoproxy.dmp", "tarvoproxy.dmp"},
        {"/abs/tarvoproxy.dmp", "tarvoproxy.dmp.1"},  // the name is taken: a suffix
        {"..", "dump"},
        {"dir/", "dump.1"},
        {"a b|c*?.dmp", "a_b_c__.dmp"},
    };
    TempDir dir;
    std::string store = dir.folder() + "store/";
    StandIn svr(store);
    for (const Case& c : cases) {
        send_raw(svr, "client_dump_file:uid=1|file=" + c.file + "|ver=v|size=3\r\nabc");
        auto reports = svr.reports_so_far();
        ASSERT_EQ(reports.size(), 1u) << c.file;
        EXPECT_EQ(reports[0], "upload uid=1 file=" + c.file +
                                  " ver=v size=3 received=3 stored=" + store + c.stored + " ok");
        EXPECT_EQ(read_file(store + c.stored), "abc") << c.file;
    }
    // Nothing was written beside the store.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), "store");
}

TEST(LogsvrStandIn, ReportsLinesMismatchesAndBadHeaders) {
    struct Case {
        std::string sent;
        std::string report;
    } cases[] = {
        {"client_download_stat:uid=3|rc=99|total_len=10|http(len=10,speed=5)|p2p(len=0,speed=0)"
         "\r\n",
         "stat "
         "client_download_stat:uid=3|rc=99|total_len=10|http(len=10,speed=5)|p2p(len=0,speed=0)"},
        {"client_dump_file:nonsense\r\nabc", "error bad dump header: client_dump_file:nonsense"},
        {"no line end", "error no line end: no line end"},
        {"", "error empty connection"},
        // '|' inside the path and the version: the last "|ver=" and "|size=" count.
        {"client_dump_file:uid=2|file=a|b|ver=1|2|size=2\r\nxy", ""},
    };
    TempDir dir;
    std::string store = dir.folder() + "store/";
    StandIn svr(store);
    for (const Case& c : cases) {
        send_raw(svr, c.sent);
        auto reports = svr.reports_so_far();
        ASSERT_EQ(reports.size(), 1u) << c.sent;
        if (!c.report.empty())
            EXPECT_EQ(reports[0], c.report);
        else
            EXPECT_EQ(reports[0],
                      "upload uid=2 file=a|b ver=1|2 size=2 received=2 stored=" + store + "a_b ok");
    }

    // A body shorter or longer than announced is stored as received and flagged.
    send_raw(svr, "client_dump_file:uid=1|file=short|ver=v|size=5\r\nabc");
    send_raw(svr, "client_dump_file:uid=1|file=long|ver=v|size=1\r\nabc");
    auto reports = svr.reports_so_far();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "upload uid=1 file=short ver=v size=5 received=3 stored=" + store +
                              "short size-mismatch");
    EXPECT_EQ(reports[1], "upload uid=1 file=long ver=v size=1 received=3 stored=" + store +
                              "long size-mismatch");
}

// The program itself, as later tests and local runs start it.
TEST(LogsvrStandIn, ProgramPrintsItsPortAndOneLinePerConnection) {
    TempDir dir;
    std::string out = dir.folder() + "svr.out";
    platform::ChildOptions opts;
    opts.stdout_path = out;
    platform::ChildProcess svr;
    ASSERT_EQ(svr.start({tarvo_test::program_file("tarvo_logsvr"), "-p", "0", "-d",
                         dir.folder() + "store", "-n", "2"},
                        opts),
              0);

    int port = 0;
    tarvo_test::wait_until(
        [&] {
            std::string text = read_file(out);
            if (text.rfind("listening port=", 0) != 0 || text.find('\n') == std::string::npos)
                return false;
            port = std::stoi(text.substr(15));
            return true;
        },
        std::chrono::seconds(5));
    ASSERT_GT(port, 0) << read_file(out);

    std::string dump = dir.file("x.dmp");
    write_file(dump, "12345");
    RunResult r = run_logger(
        dir, {"-f", dump, "-v", "9", "-u", "4", "-s", "127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(r.status, 0);
    platform::TcpSocket s;
    ASSERT_EQ(s.connect("127.0.0.1", port, 5000), 0);
    ASSERT_EQ(s.send_all("client_download_stat:uid=4|rc=1\r\n"), 0);
    s.close();

    EXPECT_EQ(svr.wait(20000), 0) << "the stand-in ends after -n connections";
    EXPECT_EQ(read_file(out), "listening port=" + std::to_string(port) + "\nupload uid=4 file=" +
                                  dump + " ver=9 size=5 received=5 stored=" + dir.folder() +
                                  "store/x.dmp ok\nstat client_download_stat:uid=4|rc=1\n");
}
