// lib_platform: the operating-system layer of Tarvo.
//
// The programs were designed against the Windows interfaces (registry, profile
// files, named pipes, process snapshots, the browser's proxy options). This
// library is the only code that talks to the operating system; everything else
// calls it. It keeps the Windows meaning of each service and maps it to its
// natural Linux twin:
//
//   - a path is a POSIX path: "\" separators become "/", a folder name always
//     ends with "/", and a path "with a drive" (one that holds a ':') becomes an
//     absolute path starting with "/";
//   - Winsock start-up is a no-op that reports success; the Winsock error codes
//     the system tests for have errno twins (see net_errors.h);
//   - the registry (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) lives in one text file
//     in the ".reg" format (see registry.h);
//   - profile files (".ini") follow the Windows reading rules (see profile.h).
//
// One header per service:
//   self.h           the running program: its folder, process and thread ids
//   limits.h         process limits raised at start-up (open files)
//   profile.h        profile files (".ini")
//   registry.h       the registry file
//   file.h           files opened with the rights the programs expect
//   fd_file.h        files by descriptor, for buffered file streams
//   file_sizing.h    sizing a file without writing it (the file mapping's twin)
//   file_lock.h      an exclusive lock taken without waiting
//   net_errors.h     socket start-up and error codes
//   socket.h         IPv4 TCP sockets for the stream engine
//   poller.h         readiness of many descriptors (one backend file: epoll)
//   resolver.h       host-name resolution
//   udp.h            IPv4 datagram sockets
//   random.h         the cryptographic random source
//   clock.h          the monotonic millisecond clock
//   named_pipe.h     named pipes between the proxy and the desktop program
//   disk.h           free space of a volume, folder listings
//   blocking_tcp.h   blocking sockets for small servers and clients
//   process.h        started programs, supervised children, processes by name
//   child_process.h  children owned by their parent (test servers, helpers)
//   signals.h        the signals a console daemon handles
//   browser_proxy.h  the browser's proxy setting

#pragma once

#include "platform/blocking_tcp.h"
#include "platform/browser_proxy.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/fd_file.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_sizing.h"
#include "platform/limits.h"
#include "platform/named_pipe.h"
#include "platform/net_errors.h"
#include "platform/poller.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/random.h"
#include "platform/registry.h"
#include "platform/resolver.h"
#include "platform/self.h"
#include "platform/signals.h"
#include "platform/socket.h"
#include "platform/udp.h"
