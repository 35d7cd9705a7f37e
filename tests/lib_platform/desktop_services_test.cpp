// The named mutex and the message endpoint: the desktop program's "one of
// me" guard and its twin of window messages from other programs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/child_process.h"
#include "platform/message_endpoint.h"
#include "platform/named_mutex.h"
#include "platform/runtime_folder.h"
#include "test_support.h"

namespace {

class DesktopServices : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir.str().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }
    tarvo_test::TempDir dir;
};

TEST_F(DesktopServices, NamedMutexHasOneHolder) {
    platform::NamedMutex first, second;
    EXPECT_EQ(first.create("QlProxy"), 0);
    EXPECT_EQ(second.create("QlProxy"), 1) << "already exists";
    EXPECT_FALSE(second.held());
    first.close();
    EXPECT_EQ(second.create("QlProxy"), 0) << "a released name is free again";
    EXPECT_TRUE(std::filesystem::exists(dir.str() + "/tarvo/QlProxy.mutex"));
    platform::NamedMutex bad;
    EXPECT_EQ(bad.create("a/b"), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(DesktopServices, NamedMutexOfADeadHolderIsFree) {
    // Another process holds the lock file, then dies with it.
    platform::ChildProcess holder;
    std::string lock = platform::runtime_folder() + "QlProxy.mutex";
    ASSERT_EQ(holder.start({"/bin/sh", "-c", "exec 9>\"$0\"; flock 9; exec sleep 300", lock}), 0);
    platform::NamedMutex m;
    ASSERT_TRUE(tarvo_test::wait_until([&] { return m.create("QlProxy") == 1; }));
    holder.stop();
    EXPECT_EQ(m.create("QlProxy"), 0);
}

TEST_F(DesktopServices, EndpointReceivesPostedNumbers) {
    platform::MessageEndpoint ep;
    ASSERT_EQ(ep.open("TQlProxyMain"), 0);
    platform::MessageEndpoint again;
    EXPECT_EQ(again.open("TQlProxyMain"), -1);
    EXPECT_EQ(errno, EADDRINUSE);
    int msg = 0;
    EXPECT_EQ(ep.receive(&msg, 0), 0) << "nothing yet";
    ASSERT_EQ(platform::message_post("TQlProxyMain", platform::WM_USER_BASE + 1), 0);
    ASSERT_EQ(ep.receive(&msg, 10000), 1);
    EXPECT_EQ(msg, 1025);
    ep.close();
    EXPECT_EQ(platform::message_post("TQlProxyMain", 1025), -1) << "nobody listens";
    EXPECT_EQ(again.open("TQlProxyMain"), 0) << "the name is free after close";
}

}  // namespace
