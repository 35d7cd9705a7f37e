// tarvomonitor/proxy_no_defaut_thread: the watch thread.
//
// It points the browser at the local proxy, then every check period looks
// for the proxy process by the exact file name of its executable: when the
// process appears the browser goes to the local proxy, when it disappears the
// saved setting comes back. Every test period it tries `test_times` TCP
// connections to the test site; when none succeeds the saved setting comes
// back (the state stays "opened", so only a disappearing and reappearing
// proxy points the browser at it again).
//
// Lifecycle: proxy_watch_start copies what it needs (configuration, saved
// setting, periods) and starts the thread, which touches nothing else. In the
// daemon it runs until the process ends; proxy_watch_stop ends it (the current
// pause is cut short), joins it and frees the watch.
#pragma once

#include "global.h"

struct PROXY_WATCH;

// Watch states.
#define WATCH_PROXY_CLOSED 0
#define WATCH_PROXY_OPENED 1

// Says whether the watch may touch the browser's setting yet.
typedef int (*PROXY_WATCH_READY_FN)(void);

// Starts the watch. With `ready` set, the thread waits until it returns
// non-zero before it first touches the browser's setting: a daemon that is
// refused its lock ends before that, so it never points the browser at a
// proxy nobody watches. Null when the thread cannot be started.
PROXY_WATCH* proxy_watch_start(const MONITOR_CONF& conf, const PROXY_INFO& saved,
                               const WATCH_TIMES& times, PROXY_WATCH_READY_FN ready = nullptr);

void proxy_watch_stop(PROXY_WATCH* watch);

// Looks for a process whose executable's file name is `name` (letter case
// counts), pausing `pause_ms` per listed process. 1 found, 0 not found, -1
// the list could not be read (the reason is printed).
int proxy_process_find(const std::string& name, int pause_ms);

// Makes `times` connection attempts to `site`, all of them. The number that
// connected.
int proxy_test_site(const std::string& site, int times);

// The thread body.
void thread_proc(PROXY_WATCH* watch);
