#include "platform/pipe_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/runtime_folder.h"
#include "test_support.h"

using platform::PIPE_MESSAGE_MAX;
using platform::PipeChannel;
using platform::PipeRole;
using platform::PipeSide;
using tarvo_test::TempDir;

namespace {

constexpr const char* kName = "\\\\.\\PIPE\\TEST_PIPE";
constexpr int kWaitMs = 10000;  // a guard against hanging, never a timing check

// Every case gets a runtime folder of its own.
class PipeChannelTest : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    // Reads until `want` bytes came or the channel fails.
    static std::string read_bytes(PipeChannel& ch, std::size_t want) {
        std::string got;
        char buf[4096];
        while (got.size() < want) {
            long n = ch.read(buf, sizeof buf, kWaitMs);
            if (n <= 0) break;
            EXPECT_LE(static_cast<std::size_t>(n), PIPE_MESSAGE_MAX);
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    // The server's reads fail until a client has opened the pair.
    static std::string server_read(PipeChannel& server, std::size_t want) {
        std::string got;
        EXPECT_TRUE(tarvo_test::wait_until([&] {
            char buf[PIPE_MESSAGE_MAX];
            long n = server.read(buf, sizeof buf, 0);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            return got.size() >= want;
        }));
        return got;
    }

    TempDir dir_;
};

TEST_F(PipeChannelTest, MessagesTravelBothWaysWithTheirNul) {
    PipeChannel server, client;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    std::string in, out;
    ASSERT_EQ(platform::pipe_channel_paths(kName, in, out), 0);
    EXPECT_EQ(in, dir_.str() + "/tarvo/TEST_PIPE_in");
    EXPECT_EQ(out, dir_.str() + "/tarvo/TEST_PIPE_out");
    struct stat st {};
    ASSERT_EQ(::stat((dir_.str() + "/tarvo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    char buf[PIPE_MESSAGE_MAX];
    EXPECT_EQ(server.read(buf, sizeof buf, 0), -1);
    EXPECT_EQ(errno, ENOTCONN);

    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    const std::string rdy("RDYPATH=/c/a b.flv\r\nCAPTION=\xb2\xe2\r\n");
    ASSERT_EQ(client.send(rdy.c_str(), rdy.size() + 1), 0);
    EXPECT_EQ(server_read(server, rdy.size() + 1), rdy + std::string(1, '\0'));

    const std::string del = std::string("DELRES_PATH=/c/a.flv") + '\0';
    ASSERT_EQ(server.send(del.data(), del.size()), 0);
    EXPECT_EQ(read_bytes(client, del.size()), del);
}

TEST_F(PipeChannelTest, TwoMessagesBeforeOneReadComeAsOneBuffer) {
    PipeChannel server, client;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    ASSERT_EQ(server.send("DELa\0", 5), 0);
    ASSERT_EQ(server.send("DELb\0", 5), 0);
    char buf[PIPE_MESSAGE_MAX];
    long n = client.read(buf, sizeof buf, kWaitMs);
    ASSERT_EQ(n, 10);
    EXPECT_EQ(std::string(buf, 10), std::string("DELa\0DELb\0", 10));
}

TEST_F(PipeChannelTest, ALongSendArrivesInPiecesOfAtMostTheLimit) {
    PipeChannel server, client;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    std::string big = tarvo_test::pattern_bytes(3000, 7);
    ASSERT_EQ(server.send(big.data(), big.size()), 0);
    EXPECT_EQ(read_bytes(client, big.size()), big);  // each piece checked against the limit
}

TEST_F(PipeChannelTest, OneInstanceOfEachRole) {
    PipeChannel server, second_server, client, second_client;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    EXPECT_EQ(second_server.open(PipeRole::server, kName), -1);
    EXPECT_EQ(errno, EADDRINUSE);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    EXPECT_EQ(second_client.open(PipeRole::client, kName), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(second_client.failed_side(), PipeSide::read_pipe);
    // The first server still serves its client.
    ASSERT_EQ(client.send("PRC\0", 4), 0);
    EXPECT_EQ(server_read(server, 4), std::string("PRC\0", 4));
}

struct BadName {
    const char* what;
    const char* name;
    int err;
};

class PipeChannelNameTest : public PipeChannelTest,
                            public ::testing::WithParamInterface<BadName> {};

TEST_P(PipeChannelNameTest, IsRefusedAtOpen) {
    for (PipeRole role : {PipeRole::server, PipeRole::client}) {
        PipeChannel ch;
        EXPECT_EQ(ch.open(role, GetParam().name), -1);
        EXPECT_EQ(errno, GetParam().err);
        EXPECT_EQ(ch.failed_side(), PipeSide::read_pipe);
        EXPECT_FALSE(ch.is_open());
    }
}

const BadName bad_names[] = {
    {"other host", "\\\\server\\PIPE\\P2P_CLIENT_PIPE", EHOSTUNREACH},
    {"no leading backslashes", "PIPE\\P2P_CLIENT_PIPE", EINVAL},
    {"not a pipe", "\\\\.\\MAILSLOT\\X", EINVAL},
    {"empty name", "\\\\.\\PIPE\\", EINVAL},
    {"slash in name", "\\\\.\\PIPE\\a/b", EINVAL},
    {"too long for a socket",
     "\\\\."
     "\\PIPE\\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaa",
     ENAMETOOLONG},
};

INSTANTIATE_TEST_SUITE_P(Names, PipeChannelNameTest, ::testing::ValuesIn(bad_names),
                         [](const auto& info) {
                             std::string s;
                             for (const char* p = info.param.what; *p; ++p)
                                 s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return s;
                         });

TEST_F(PipeChannelTest, PipeWordIgnoresCase) {
    PipeChannel server, client;
    ASSERT_EQ(server.open(PipeRole::server, "\\\\.\\pipe\\TEST_PIPE"), 0);
    EXPECT_EQ(client.open(PipeRole::client, kName), 0);
}

TEST_F(PipeChannelTest, ClientWithoutServerFailsOnItsReadPipe) {
    PipeChannel client;
    EXPECT_EQ(client.open(PipeRole::client, kName), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(client.failed_side(), PipeSide::read_pipe);
    // A refused client holds nothing: a later open works once a server exists.
    PipeChannel server;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    EXPECT_EQ(client.open(PipeRole::client, kName), 0);
}

TEST_F(PipeChannelTest, GoneClientIsAFailedReadAndTheNextClientIsServed) {
    PipeChannel server;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    {
        PipeChannel client;
        ASSERT_EQ(client.open(PipeRole::client, kName), 0);
        ASSERT_EQ(client.send("RDY1\0", 5), 0);
        EXPECT_EQ(server_read(server, 5), std::string("RDY1\0", 5));
    }
    char buf[PIPE_MESSAGE_MAX];
    EXPECT_EQ(server.read(buf, sizeof buf, kWaitMs), -1);
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(server.send("DELx\0", 5), -1);  // nobody to write to

    PipeChannel next;
    ASSERT_EQ(next.open(PipeRole::client, kName), 0);
    ASSERT_EQ(next.send("RDY2\0", 5), 0);
    EXPECT_EQ(server_read(server, 5), std::string("RDY2\0", 5));
    ASSERT_EQ(server.send("DELy\0", 5), 0);
    EXPECT_EQ(read_bytes(next, 5), std::string("DELy\0", 5));
}

TEST_F(PipeChannelTest, GoneServerIsAFailedReadEveryTimeUntilReopened) {
    PipeChannel client;
    {
        PipeChannel server;
        ASSERT_EQ(server.open(PipeRole::server, kName), 0);
        ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    }
    char buf[PIPE_MESSAGE_MAX];
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(client.read(buf, sizeof buf, kWaitMs), -1);
        EXPECT_EQ(errno, EPIPE);
    }
    EXPECT_EQ(client.send("RDY\0", 4), -1);
    EXPECT_EQ(client.open(PipeRole::client, kName), -1);  // the server removed its pipes

    PipeChannel restarted;
    ASSERT_EQ(restarted.open(PipeRole::server, kName), 0);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    ASSERT_EQ(client.send("RDY\0", 4), 0);
    EXPECT_EQ(server_read(restarted, 4), std::string("RDY\0", 4));
}

TEST_F(PipeChannelTest, DeadServersSocketsAreRefusedThenReplaced) {
    std::string in, out;
    ASSERT_EQ(platform::pipe_channel_paths(kName, in, out), 0);
    // What a killed server leaves: socket files nobody listens on.
    for (const std::string& path : {in, out}) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    PipeChannel client;
    EXPECT_EQ(client.open(PipeRole::client, kName), -1);
    EXPECT_EQ(errno, ECONNREFUSED);

    PipeChannel server;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    ASSERT_EQ(server.send("CXT\0", 4), 0);
    EXPECT_EQ(read_bytes(client, 4), std::string("CXT\0", 4));
}

TEST_F(PipeChannelTest, ReopenWhileAnotherThreadSendsIsSafe) {
    PipeChannel server, client;
    ASSERT_EQ(server.open(PipeRole::server, kName), 0);
    ASSERT_EQ(client.open(PipeRole::client, kName), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        while (!stop) {
            if (client.send("RDY\0", 4) == 0) ++sent;
        }
    });
    ASSERT_TRUE(tarvo_test::wait_until([&] { return sent > 0; }));
    char buf[PIPE_MESSAGE_MAX];
    for (int i = 0; i < 50; ++i) {
        // The client's reader replaces both ends, as after a failed read; the
        // server may not have taken the last client yet (the open then fails).
        client.open(PipeRole::client, kName);
        while (server.read(buf, sizeof buf, 0) > 0) {
        }
    }
    stop = true;
    sender.join();
    // Once the server has drained the old ends the channel works again.
    ASSERT_TRUE(tarvo_test::wait_until([&] {
        while (server.read(buf, sizeof buf, 0) > 0) {
        }
        return client.open(PipeRole::client, kName) == 0;
    }));
    ASSERT_EQ(client.send("RDY\0", 4), 0);
    std::string got;
    EXPECT_TRUE(tarvo_test::wait_until([&] {
        long n = server.read(buf, sizeof buf, 0);
        if (n > 0) got.assign(buf, static_cast<std::size_t>(n));
        return got == std::string("RDY\0", 4);
    }));
}

TEST_F(PipeChannelTest, RuntimeFolderFallsBackToAPrivateTemporaryFolder) {
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir_.str().c_str(), 1);
    std::string folder = platform::runtime_folder();
    ::unsetenv("TMPDIR");
    EXPECT_EQ(folder, dir_.str() + "/tarvo-" + std::to_string(::getuid()) + "/");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A folder others may enter is not ours to use.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ::setenv("TMPDIR", dir_.str().c_str(), 1);
    EXPECT_EQ(platform::runtime_folder(), "");
    EXPECT_EQ(errno, EACCES);
    ::unsetenv("TMPDIR");
}

}  // namespace
