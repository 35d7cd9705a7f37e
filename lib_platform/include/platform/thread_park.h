// Stopping every other thread of the process before a crash dump: the twin of
// suspending them through a thread snapshot.
//
// Mechanism: the crashing thread lists the threads in /proc/self/task and
// sends each a signal of its own (a real-time signal chosen at prepare time).
// That signal's handler records the thread's registers from its signal
// context and then parks the thread for good: the process ends after the
// dump, and nothing ever releases it. A thread that blocks the signal, or does
// not answer before the deadline, is left running and left out.
//
// Lifecycle: thread_park_prepare() once at start-up (it installs the parking
// handler); thread_park_others() at most once, in the crash handler. All
// state is static; both calls after preparing are async-signal-safe.
#pragma once

#include <cstdint>

namespace platform {

constexpr int THREAD_PARK_MAX = 512;  // threads recorded; more are left running

// One thread's registers, as the kernel saved them when the signal arrived.
struct ThreadRegisters {
    int tid = 0;
    std::uint64_t gregs[23] = {};     // the general registers, in mcontext order
    unsigned char fpstate[512] = {};  // the FXSAVE image
    bool has_fpstate = false;
};

// Installs the parking handler. 0, or -1.
int thread_park_prepare();

// Parks every thread but the caller, waiting up to `timeout_ms` for them to
// answer. Returns the number parked; their registers are at *out.
int thread_park_others(int timeout_ms, const ThreadRegisters** out);

// Fills `regs` from a signal's ucontext_t.
void thread_registers_from_context(const void* context, int tid, ThreadRegisters& regs);

// Register indexes in ThreadRegisters::gregs (x86-64 mcontext order).
enum ThreadReg {
    TREG_R8 = 0,
    TREG_R9,
    TREG_R10,
    TREG_R11,
    TREG_R12,
    TREG_R13,
    TREG_R14,
    TREG_R15,
    TREG_RDI,
    TREG_RSI,
    TREG_RBP,
    TREG_RBX,
    TREG_RDX,
    TREG_RAX,
    TREG_RCX,
    TREG_RSP,
    TREG_RIP,
    TREG_EFL,
    TREG_CSGSFS,
    TREG_ERR,
    TREG_TRAPNO,
    TREG_OLDMASK,
    TREG_CR2
};

}  // namespace platform
