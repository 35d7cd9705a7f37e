// Test seam: a crash on demand, so that tests can see the crash report
// writer at work in the real program. Nothing in production sets it.
//
// The environment variable TARVO_TEST_CRASH names the crash, started once
// start-up is complete:
//   null_write      a write through a null pointer on the main thread
//   divide_by_zero  an integer division by zero on the main thread
//   stack_overflow  endless recursion on the main thread
//   worker_abort    abort() in a job of the service worker queue
//   damaged_stack   a fault with the stack and frame pointers pointing at
//                   nothing, so the crash handler's own stack walk faults too
#pragma once

#include "service_conf.h"

constexpr const char* CRASH_SEAM_ENV = "TARVO_TEST_CRASH";

// Test seam: TARVO_TEST_DEFAULT_LOGSVR_HOST replaces the host of the built-in
// logging endpoint (which always has port 8887), so that a test can serve it
// on an address of its own.
constexpr const char* CRASH_SEAM_LOGSVR_ENV = "TARVO_TEST_DEFAULT_LOGSVR_HOST";

// The host of the built-in logging endpoint.
const char* crash_seam_default_logsvr_host();

// Starts the crash named by TARVO_TEST_CRASH; returns at once when it is not
// set (or names no crash, which is logged).
void crash_seam_run(SERVICE_CONF& conf);
