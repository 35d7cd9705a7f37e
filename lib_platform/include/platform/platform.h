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
//   self.h        the running program: its folder, process and thread ids
//   profile.h     reading profile files
//   registry.h    the registry file
//   file.h        files opened with the rights the programs expect
//   net_errors.h  socket start-up and error codes
#pragma once

#include "platform/file.h"
#include "platform/net_errors.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/self.h"
