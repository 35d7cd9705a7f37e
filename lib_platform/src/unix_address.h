// The address of a Unix-domain socket file. Internal to lib_platform.
#pragma once

#include <sys/un.h>

#include <string>

namespace platform::detail {

// Fills `addr` for `path`. 0, or -1 (ENAMETOOLONG) when the path does not fit.
int unix_address(const std::string& path, sockaddr_un& addr);

}  // namespace platform::detail
