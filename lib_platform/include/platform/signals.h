// The process signals a console daemon cares about.
//
// Windows meanings: the console interrupt is SIGINT, the termination request
// is SIGTERM (what a service manager or `kill` sends), the access violation is
// SIGSEGV. Handlers run in signal context: they may only call
// async-signal-safe code, such as the functions of this header.
#pragma once

namespace platform {

using SignalHandler = void (*)(int sig);

// The console interrupt (Ctrl-C) no longer ends the process.
void signal_ignore_interrupt();

// Termination requests are ignored from now on.
void signal_ignore_terminate();

// Runs `handler` on a termination request. Safe to call from a handler.
void signal_on_terminate(SignalHandler handler);

// Ignores the segmentation-fault signal when sent by another process. A real
// fault still ends the process: the system delivers those regardless.
void signal_ignore_fault();

// Ends the process at once with `code`, running no exit handlers. Safe in a
// signal handler.
[[noreturn]] void process_exit_now(int code);

}  // namespace platform
