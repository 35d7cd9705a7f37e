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
// start-up); crash_signal_attach_thread() gives another thread one. A stack
// overflow on a thread without one ends the process by the default action,
// without a report.
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

// Gives the calling thread its own alternate stack (allocated here, kept for
// the process's life). 0, or -1.
int crash_signal_attach_thread();

// Hands `sig` to the disposition that was installed before ours: a handler is
// called; the default one (or "ignore", which a fault cannot honour) ends the
// process with `sig`. When a previous handler returns, the default follows.
// Never returns.
[[noreturn]] void crash_signal_pass_on(int sig, void* info, void* context);

// Whether `sig` is one of the six.
bool crash_signal_is_crash(int sig);

}  // namespace platform
