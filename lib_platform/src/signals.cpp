#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

namespace platform {

static void set_handler(int sig, void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
}

void signal_ignore_interrupt() { set_handler(SIGINT, SIG_IGN); }

void signal_ignore_terminate() { set_handler(SIGTERM, SIG_IGN); }

void signal_on_terminate(SignalHandler handler) { set_handler(SIGTERM, handler); }

void signal_ignore_fault() { set_handler(SIGSEGV, SIG_IGN); }

void process_exit_now(int code) { ::_exit(code); }

}  // namespace platform
