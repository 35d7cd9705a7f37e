#include "unix_address.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform::detail {

int unix_address(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return 0;
}

}  // namespace platform::detail
