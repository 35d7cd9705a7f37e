// Socket start-up and the socket error codes the system tests for.
//
// Windows needs its socket library started before the first socket call; here
// there is nothing to start. The Winsock codes that code compares against map
// to their errno twins.
#pragma once

#include <cerrno>

namespace platform {

// Asks for socket library version major.minor. Always succeeds here and reports
// the version asked for.
int socket_startup(int major, int minor, int* got_major, int* got_minor);

// Winsock name        errno twin
constexpr int SOCK_EWOULDBLOCK = EWOULDBLOCK;  // WSAEWOULDBLOCK: try again later
constexpr int SOCK_EINTR = EINTR;              // WSAEINTR: interrupted by a signal
constexpr int SOCK_ETIMEDOUT = ETIMEDOUT;      // WSAETIMEDOUT: timed out
constexpr int SOCK_EINPROGRESS = EINPROGRESS;  // WSAEINPROGRESS: connect under way
constexpr int SOCK_EINVAL = EINVAL;            // WSAEINVAL (10022): invalid argument
constexpr int SOCK_ENOBUFS = ENOBUFS;          // WSAENOBUFS (10055): no buffer space

}  // namespace platform
