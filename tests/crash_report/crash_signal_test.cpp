// The fault handler's frame: alternate signal stacks for threads other than
// the installing one, and the watchdog that ends a blocked handler.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <thread>

#include "platform/crash_signal.h"

namespace {

TEST(CrashSignalStack, ThreadGetsAndGivesBackItsOwn) {
    bool before = true, attached = false, after = true;
    int detach = 0, detach_again = 0;
    std::thread t([&] {
        // The sanitizers give their threads a stack of their own: drop it.
        platform::crash_signal_detach_thread();
        before = platform::crash_signal_thread_attached();
        attached =
            platform::crash_signal_attach_thread() == 0 && platform::crash_signal_thread_attached();
        detach = platform::crash_signal_detach_thread();
        after = platform::crash_signal_thread_attached();
        detach_again = platform::crash_signal_detach_thread();
    });
    t.join();
    EXPECT_FALSE(before);
    EXPECT_TRUE(attached);
    EXPECT_EQ(detach, 0);
    EXPECT_FALSE(after);
    EXPECT_EQ(detach_again, -1);
}

TEST(CrashSignalWatchdog, BlockedHandlerStillEndsWithTheSignal) {
    EXPECT_EXIT(
        {
            platform::crash_signal_install([](int sig, void*, void*) {
                platform::crash_signal_watchdog(sig, 1);
                for (;;) ::pause();  // as if waiting for a lock forever
            });
            std::raise(SIGSEGV);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
