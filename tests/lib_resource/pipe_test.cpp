// The pipe channel between the proxy (client) and the desktop program
// (server), both roles of this build, on FIFOs in a private folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "acl_msg.h"
#include "named_pipe.h"
#include "platform/named_pipe.h"
#include "test_support.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kName = "TEST_PIPE";

// Everything the client's reader hands on.
struct Received {
    std::mutex mu;
    std::vector<std::string> messages;
    static int on_data(NAMED_PIPE*, const char* data, int len, void* arg) {
        auto* self = static_cast<Received*>(arg);
        std::lock_guard<std::mutex> l(self->mu);
        self->messages.emplace_back(data, static_cast<std::size_t>(len));
        return 0;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> l(mu);
        return messages.size();
    }
    std::string all() {
        std::lock_guard<std::mutex> l(mu);
        std::string s;
        for (auto& m : messages) s += m;
        return s;
    }
};

class Pipe : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
        acl_msg_open(dir_.file("log.txt").c_str(), "log");
    }
    void TearDown() override {
        if (reader_.joinable()) {
            named_pipe_stop(&client_);
            std::string stop("STOP", 5);
            tarvo_test::wait_until([&] {
                if (done_) return true;
                named_pipe_send(&server_, stop.data(), static_cast<int>(stop.size()));
                return done_.load();
            });
            reader_.join();
        }
        acl_msg_close();
    }
    bool make_server() { return _pipe_initial(&server_, true, ".", kName, "STOP") == 0; }
    void start_client() {
        reader_ = std::thread([this] {
            result_ = named_pipe_listener_start(&client_, false, ".", kName, "STOP",
                                                Received::on_data, &got_);
            done_ = true;
        });
    }
    bool client_open() {
        return tarvo_test::wait_until([&] {
            std::lock_guard<std::mutex> l(client_.handles_mu);
            return client_.pipe_out.valid();
        });
    }
    std::string log() { return tarvo_test::read_file(dir_.file("log.txt")); }

    tarvo_test::TempDir dir_;
    NAMED_PIPE server_, client_;
    Received got_;
    std::thread reader_;
    std::atomic<bool> done_{false};
    int result_ = 0;
};

TEST_F(Pipe, ClientBeforeServerFailsAtOnceAndIsLogged) {
    start_client();
    ASSERT_TRUE(tarvo_test::wait_until([&] { return done_.load(); }));
    reader_.join();
    EXPECT_EQ(result_, -1);
    EXPECT_NE(log().find("CreateFile pipe_in("), std::string::npos) << log();
    EXPECT_NE(log().find("_pipe_initial failed."), std::string::npos);
}

TEST_F(Pipe, MessagesBothWaysTwoInOneReadAndLongOnesSplit) {
    ASSERT_TRUE(make_server());
    start_client();
    ASSERT_TRUE(client_open());
    // The folder is private.
    struct stat st;
    ASSERT_EQ(::stat((dir_.str() + "/tarvo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Proxy to desktop.
    std::string hello("RDYPATH=x\r\n", 12);
    ASSERT_EQ(named_pipe_send(&client_, hello.data(), static_cast<int>(hello.size())), 0);
    char buf[2048];
    ASSERT_EQ(server_.pipe_in.wait_readable(10000), 1);
    EXPECT_EQ(std::string(buf, server_.pipe_in.read(buf, 1024)), hello);

    // Desktop to proxy: both messages may arrive as one read; together they
    // are delivered byte for byte.
    std::string one("AAA\0", 4), two("BBB\0", 4);
    ASSERT_EQ(named_pipe_send(&server_, (one + two).data(), 8), 0);
    ASSERT_TRUE(tarvo_test::wait_until([&] { return got_.all().size() >= 8; }));
    EXPECT_EQ(got_.count(), 1u);  // one write, one read
    EXPECT_EQ(got_.all(), one + two);

    // More than 1,024 bytes: several reads of at most 1,024.
    std::string big(1024, 'x');
    std::string rest(500, 'y');
    ASSERT_EQ(named_pipe_send(&server_, big.data(), 1024), 0);
    ASSERT_EQ(named_pipe_send(&server_, rest.data(), 500), 0);
    ASSERT_TRUE(tarvo_test::wait_until([&] { return got_.all().size() >= 8 + 1524; }));
    std::lock_guard<std::mutex> l(got_.mu);
    for (auto& m : got_.messages) EXPECT_LE(m.size(), 1024u);
    EXPECT_GE(got_.messages.size(), 3u);
}

TEST_F(Pipe, DesktopRestartingIsReopenedAndMessagesFlowAgain) {
    ASSERT_TRUE(make_server());
    start_client();
    ASSERT_TRUE(client_open());
    server_.pipe_in.close();
    server_.pipe_out.close();
    // The client's reads fail (never an endless run of empty reads) and it
    // retries once a second until the desktop side is back.
    ASSERT_TRUE(tarvo_test::wait_until(
        [&] { return log().find("CreateFile pipe_") != std::string::npos; }));
    ASSERT_TRUE(make_server());
    std::string msg("AGAIN\0", 6);
    ASSERT_TRUE(tarvo_test::wait_until([&] {
        named_pipe_send(&server_, msg.data(), 6);
        return got_.all().find("AGAIN") != std::string::npos;
    }));
    EXPECT_FALSE(done_.load());
}

TEST_F(Pipe, StopMessageEndsTheReaderAfterTheCallbackSawIt) {
    ASSERT_TRUE(make_server());
    start_client();
    ASSERT_TRUE(client_open());
    std::string lower("stop", 5);
    named_pipe_send(&server_, lower.data(), 5);
    ASSERT_TRUE(tarvo_test::wait_until([&] { return got_.count() == 1; }));
    EXPECT_FALSE(done_.load());
    std::string stop("STOP", 5);
    named_pipe_send(&server_, stop.data(), 5);
    ASSERT_TRUE(tarvo_test::wait_until([&] { return done_.load(); }));
    reader_.join();
    EXPECT_EQ(result_, 0);
    EXPECT_EQ(got_.count(), 2u);
}

TEST(PipeRoles, OneInstanceEachAndOnlyThisMachine) {
    tarvo_test::TempDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.str().c_str(), 1);
    platform::NamedPipe server, server2, client, client2, remote;
    ASSERT_EQ(server.create("\\\\.\\PIPE\\ROLES_in", platform::PipeAccess::read), 0);
    EXPECT_EQ(server2.create("\\\\.\\pipe\\ROLES_in", platform::PipeAccess::read), -1);
    EXPECT_EQ(errno, EBUSY);
    ASSERT_EQ(client.open("\\\\.\\PIPE\\ROLES_in", platform::PipeAccess::write), 0);
    EXPECT_EQ(client2.open("\\\\.\\PIPE\\ROLES_in", platform::PipeAccess::write), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(remote.open("\\\\otherhost\\PIPE\\ROLES_in", platform::PipeAccess::write), -1);
    EXPECT_EQ(errno, EHOSTUNREACH);
    EXPECT_EQ(remote.open("\\\\.\\PIPE\\MISSING_in", platform::PipeAccess::write), -1);

    // The writer gone: the server's read fails rather than returning nothing.
    ASSERT_EQ(client.write("ab", 2), 2);
    char buf[8];
    EXPECT_EQ(server.read(buf, sizeof(buf)), 2);
    client.close();
    EXPECT_EQ(server.read(buf, sizeof(buf)), -1);
    EXPECT_EQ(errno, EPIPE);
}

}  // namespace
