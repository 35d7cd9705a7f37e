// acl_ioctl: the dispatch layer between the event engine and the async
// streams. With max_threads 0 (the only mode this system uses) it owns a
// single-threaded engine and calls each event's handler directly on the loop
// thread; the functions below then pass straight through to acl_events.h and
// its rules on registration and lifecycle hold unchanged.
#pragma once

#include "acl_events.h"

#define ACL_IOCTL_IDLE_TIMEOUT 60  // idle seconds of workers when a bad value is given

// Handlers have the engine's shape; the engine is reachable from the layer.
typedef ACL_EVENT_NOTIFY_RDWR ACL_IOCTL_NOTIFY_FN;
typedef ACL_EVENT_NOTIFY_TIME ACL_IOCTL_TIMER_FN;

// The thread settings are checked, not kept: without worker threads nothing
// would read them.
struct ACL_IOCTL {
    int delay_sec = 0;  // wait granularity of the engine
    int delay_usec = 0;
    ACL_EVENT* event = nullptr;  // made by acl_ioctl_start
};

// A layer with these settings; nothing runs before acl_ioctl_start. A
// positive max_threads with idle_timeout below 1 is an error of the caller
// ("%s, %s(%d): idle_timeout(%d) invalid"; workers would take 60 seconds).
// Worker threads are not used: every handler runs on the thread that calls
// acl_ioctl_loop.
ACL_IOCTL* acl_ioctl_create_ex(int max_threads, int idle_timeout, int delay_sec, int delay_usec);
ACL_IOCTL* acl_ioctl_create(int max_threads, int idle_timeout);

// Creates the event engine. 0, or -1.
int acl_ioctl_start(ACL_IOCTL* ioc);

// One pass of the engine's loop.
void acl_ioctl_loop(ACL_IOCTL* ioc);

// Frees the layer and its engine (streams are left alone).
void acl_ioctl_free(ACL_IOCTL* ioc);

ACL_EVENT* acl_ioctl_event(ACL_IOCTL* ioc);

void acl_ioctl_enable_read(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                           ACL_IOCTL_NOTIFY_FN callback, void* context);
void acl_ioctl_enable_write(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                            ACL_IOCTL_NOTIFY_FN callback, void* context);
// A non-blocking connect is complete when the socket becomes writable.
void acl_ioctl_enable_connect(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                              ACL_IOCTL_NOTIFY_FN callback, void* context);
// A listening socket is readable when a connection waits.
void acl_ioctl_enable_listen(ACL_IOCTL* ioc, ACL_VSTREAM* stream, int timeout,
                             ACL_IOCTL_NOTIFY_FN callback, void* context);
void acl_ioctl_disable_read(ACL_IOCTL* ioc, ACL_VSTREAM* stream);
void acl_ioctl_disable_write(ACL_IOCTL* ioc, ACL_VSTREAM* stream);
void acl_ioctl_disable_readwrite(ACL_IOCTL* ioc, ACL_VSTREAM* stream);
void acl_ioctl_recheck(ACL_IOCTL* ioc, ACL_VSTREAM* stream);
int acl_ioctl_isrset(ACL_IOCTL* ioc, ACL_VSTREAM* stream);
int acl_ioctl_iswset(ACL_IOCTL* ioc, ACL_VSTREAM* stream);

std::int64_t acl_ioctl_request_timer(ACL_IOCTL* ioc, ACL_IOCTL_TIMER_FN callback, void* context,
                                     int delay);
std::int64_t acl_ioctl_cancel_timer(ACL_IOCTL* ioc, ACL_IOCTL_TIMER_FN callback, void* context);
