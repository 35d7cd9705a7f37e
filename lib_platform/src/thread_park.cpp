#include "platform/thread_park.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>

#include "platform/sigsafe.h"

#if !defined(__x86_64__)
#error "thread registers are written for x86-64 only"
#endif

namespace platform {

namespace {

struct Slot {
    std::atomic<int> tid{0};
    std::atomic<int> parked{0};
    ThreadRegisters regs;
};

Slot g_slots[THREAD_PARK_MAX];
ThreadRegisters g_parked[THREAD_PARK_MAX];
std::atomic<int> g_slot_count{0};
int g_park_signal = 0;

void on_park(int, siginfo_t*, void* context) {
    int tid = safe_tid();
    int n = g_slot_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; i++) {
        if (g_slots[i].tid.load(std::memory_order_relaxed) != tid) continue;
        thread_registers_from_context(context, tid, g_slots[i].regs);
        g_slots[i].parked.store(1, std::memory_order_release);
        break;
    }
    for (;;) ::pause();
}

}  // namespace

void thread_registers_from_context(const void* context, int tid, ThreadRegisters& regs) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    regs.tid = tid;
    static_assert(NGREG == 23, "mcontext layout");
    for (int i = 0; i < NGREG; i++)
        regs.gregs[i] = static_cast<std::uint64_t>(uc->uc_mcontext.gregs[i]);
    regs.has_fpstate = uc->uc_mcontext.fpregs != nullptr;
    if (regs.has_fpstate) {
        const auto* fp = reinterpret_cast<const unsigned char*>(uc->uc_mcontext.fpregs);
        for (int i = 0; i < 512; i++) regs.fpstate[i] = fp[i];
    }
}

int thread_park_prepare() {
    g_park_signal = SIGRTMIN + 3;
    struct sigaction sa = {};
    sa.sa_sigaction = on_park;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&sa.sa_mask);
    return ::sigaction(g_park_signal, &sa, nullptr) == 0 ? 0 : -1;
}

int thread_park_others(int timeout_ms, const ThreadRegisters** out) {
    *out = g_parked;
    if (g_park_signal == 0) return 0;
    int tids[THREAD_PARK_MAX];
    int n = safe_list_threads(tids, THREAD_PARK_MAX);
    if (n <= 0) return 0;
    int self = safe_tid();
    int count = 0;
    for (int i = 0; i < n; i++) {
        if (tids[i] == self) continue;
        g_slots[count].parked.store(0, std::memory_order_relaxed);
        g_slots[count].tid.store(tids[i], std::memory_order_relaxed);
        count++;
    }
    g_slot_count.store(count, std::memory_order_release);
    for (int i = 0; i < count; i++) {
        if (safe_signal_thread(g_slots[i].tid.load(), g_park_signal) != 0)
            g_slots[i].tid.store(0);  // ended meanwhile
    }

    std::int64_t deadline = safe_now_ms() + timeout_ms;
    for (;;) {
        bool all = true;
        for (int i = 0; i < count && all; i++)
            all = g_slots[i].tid.load() == 0 || g_slots[i].parked.load(std::memory_order_acquire);
        if (all || safe_now_ms() >= deadline) break;
        safe_sleep_ms(2);
    }

    int parked = 0;
    for (int i = 0; i < count; i++) {
        if (g_slots[i].tid.load() != 0 && g_slots[i].parked.load(std::memory_order_acquire))
            g_parked[parked++] = g_slots[i].regs;
    }
    return parked;
}

}  // namespace platform
