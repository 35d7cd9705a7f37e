#include "platform/crash_signal.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
// Room for the report, the stack walk and the sanitizers' own frames.
constexpr std::size_t kAltStackSize = 256 * 1024;

struct sigaction g_previous[kSignalCount];
CrashHandler g_handler = nullptr;

int slot_of(int sig) {
    for (int i = 0; i < kSignalCount; i++) {
        if (kSignals[i] == sig) return i;
    }
    return -1;
}

void on_signal(int sig, siginfo_t* info, void* context) { g_handler(sig, info, context); }

[[noreturn]] void end_with(int sig) {
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::syscall(SYS_tgkill, ::getpid(), ::syscall(SYS_gettid), sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    // Only a signal that cannot end the process gets here.
    ::_exit(128 + sig);
}

}  // namespace

int crash_signal_attach_thread() {
    void* stack =
        ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED) return -1;
    stack_t ss = {};
    ss.ss_sp = stack;
    ss.ss_size = kAltStackSize;
    if (::sigaltstack(&ss, nullptr) != 0) {
        ::munmap(stack, kAltStackSize);
        return -1;
    }
    return 0;
}

int crash_signal_install(CrashHandler handler) {
    if (handler == nullptr || crash_signal_attach_thread() != 0) return -1;
    g_handler = handler;
    struct sigaction sa = {};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
    for (int i = 0; i < kSignalCount; i++) {
        if (::sigaction(kSignals[i], &sa, &g_previous[i]) != 0) {
            for (int k = 0; k < i; k++) ::sigaction(kSignals[k], &g_previous[k], nullptr);
            return -1;
        }
    }
    return 0;
}

void crash_signal_pass_on(int sig, void* info, void* context) {
    int slot = slot_of(sig);
    if (slot >= 0) {
        const struct sigaction& prev = g_previous[slot];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction != nullptr)
                prev.sa_sigaction(sig, static_cast<siginfo_t*>(info), context);
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
        }
    }
    end_with(sig);
}

bool crash_signal_is_crash(int sig) { return slot_of(sig) >= 0; }

}  // namespace platform
