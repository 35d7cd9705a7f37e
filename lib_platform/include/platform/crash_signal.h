// The unhandled-exception filter's twin: one handler for the signals a fault
// raises, run on an alternate signal stack so that a stack overflow reaches it
// too.
//
// Signals: SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT and SIGTRAP. While the
// handler runs all six are blocked, so a fault inside the handler itself is
// not caught again: the system then ends the process with that signal at
// once (a partial report, never a hang).
//
// The alternate stack is set for the thread that installs (the main thread at
// start-up); crash_signal_attach_thread() gives another thread one (a thread
// start hook such as acl_workq_atinit), crash_signal_detach_thread() frees it
// again before the thread ends (acl_workq_atfree). A stack overflow on a
// thread without one ends the process by the default action, without a
// report.
//
// Lifecycle: install once; the previous dispositions are remembered and
// crash_signal_pass_on() hands a signal to them afterwards.
#pragma once

namespace platform {

// The handler: `info` is the siginfo_t, `context` the ucontext_t of the
// interrupted thread.
using CrashHandler = void (*)(int sig, void* info, void* context);

// Installs `handler` for the six signals. 0, or -1 when the alternate stack or
// a disposition cannot be set (nothing is then installed).
int crash_signal_install(CrashHandler handler);

// Gives the calling thread its own alternate stack. 0, or -1.
int crash_signal_attach_thread();

// Takes the calling thread's alternate stack away and frees it. 0, or -1 when
// it had none.
int crash_signal_detach_thread();

// Whether the calling thread has an alternate signal stack.
bool crash_signal_thread_attached();

// Hands `sig` to the disposition that was installed before ours: a handler is
// called; the default one (or "ignore", which a fault cannot honour) ends the
// process with `sig`. When a previous handler returns, the default follows.
// Never returns.
[[noreturn]] void crash_signal_pass_on(int sig, void* info, void* context);

// Arms a watchdog for a handler that might block (a lock held by a thread it
// stopped): after `seconds` the process ends with `sig`, as if the handler
// had never run. For the crash handler only; safe in it.
void crash_signal_watchdog(int sig, unsigned seconds);

// Whether `sig` is one of the six.
bool crash_signal_is_crash(int sig);

}  // namespace platform
