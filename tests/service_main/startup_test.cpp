// tarvoproxy's start-up, run as a real program from a folder of its own.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "platform/blocking_tcp.h"
#include "platform/child_process.h"
#include "test_support.h"

using namespace std::chrono_literals;
using tarvo_test::TempDir;

namespace {

class Startup : public ::testing::Test {
  protected:
    void SetUp() override { program_ = tarvo_test::copy_program("tarvoproxy", dir_.str()); }

    void write_ini(int port) {
        tarvo_test::write_file(
            dir_.file("tarvoproxy.ini"),
            "[debug]\ndebug_level=50:2\n[proxy]\nlisten_ip=127.0.0.1\nlisten_port=" +
                std::to_string(port) +
                "\n[server]\nsession_ip=127.0.0.1\n"
                "logsvr_ip=127.0.0.1\n");
    }
    // Starts the program and waits until start-up has logged the cache folder.
    void start() {
        platform::ChildOptions o;
        o.cwd = dir_.str();
        o.env = {{"TARVO_REGISTRY", dir_.file("registry.reg")}};
        o.stdout_path = o.stderr_path = dir_.file("console.txt");
        ASSERT_EQ(proxy_.start({program_}, o), 0);
        ASSERT_TRUE(tarvo_test::wait_until(
            [&] { return log().find("cache_path=") != std::string::npos; }, 20s))
            << "log:\n"
            << log() << "console:\n"
            << tarvo_test::read_file(dir_.file("console.txt"));
    }
    std::string log() { return tarvo_test::read_file(dir_.file("tarvoproxy.log")); }

    TempDir dir_;
    std::string program_;
    platform::ChildProcess proxy_;
};

TEST_F(Startup, WithoutIniReportsTheFourStringKeysAndStaysUp) {
    start();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(proxy_.running());

    std::string text = log();
    std::istringstream lines(text);
    std::string line;
    int read_errors = 0;
    int filter_errors = 0;  // the eligibility filter's own `exclude` key, empty by default
    const std::regex format(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d log\(pid=)" +
                            std::to_string(proxy_.pid()) +
                            R"(, tid=\d+\)\((0, info|1, warn|1, error)\): .*\r)");
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, format)) << line;
        if (line.find("read ini file (" + dir_.file("tarvoproxy.ini") + ") error(") !=
            std::string::npos)
            (line.find("p2p_filter_load(") != std::string::npos ? filter_errors : read_errors)++;
    }
    EXPECT_EQ(read_errors, 4);
    EXPECT_EQ(filter_errors, 1);
    EXPECT_NE(text.find("cache_path=" + dir_.file("cache") + "\r\n"), std::string::npos) << text;
}

TEST_F(Startup, LogOfExactlyFiveMebibytesIsKeptAndOneByteMoreIsEmptied) {
    write_ini(platform::free_loopback_port());
    for (std::size_t size : {std::size_t{5242880}, std::size_t{5242881}}) {
        std::string old(size, 'x');
        tarvo_test::write_file(dir_.file("tarvoproxy.log"), old);
        start();
        std::string text = log();
        if (size == 5242880) {
            EXPECT_GT(text.size(), size);
            EXPECT_EQ(text.compare(0, size, old), 0);
        } else {
            EXPECT_LT(text.size(), 100000u);
            EXPECT_EQ(text.find('x' + std::string(100, 'x')), std::string::npos);
        }
        proxy_.stop(0);
    }
}

}  // namespace
