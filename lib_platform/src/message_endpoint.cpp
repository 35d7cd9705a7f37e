#include "platform/message_endpoint.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/runtime_folder.h"
#include "unix_address.h"

namespace platform {

namespace {

int endpoint_address(std::string_view name, sockaddr_un& addr, std::string& path) {
    if (runtime_file(name, ".msg", path) != 0) return -1;
    return detail::unix_address(path, addr);
}

// Whether a live endpoint answers at `addr` (an empty datagram is dropped by
// the receiver, so probing changes nothing).
bool endpoint_alive(const sockaddr_un& addr) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool alive = ::sendto(fd, "", 0, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 ||
                 errno == EAGAIN;
    ::close(fd);
    return alive;
}

}  // namespace

MessageEndpoint::~MessageEndpoint() { close(); }

int MessageEndpoint::open(std::string_view name) {
    close();
    sockaddr_un addr;
    std::string path;
    if (endpoint_address(name, addr, path) != 0) return -1;
    if (endpoint_alive(addr)) {
        errno = EADDRINUSE;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::unlink(path.c_str());  // what a dead program left
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    fd_ = fd;
    path_ = path;
    return 0;
}

void MessageEndpoint::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
        fd_ = -1;
        path_.clear();
    }
}

int MessageEndpoint::receive(int* message, int wait_ms) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, wait_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r;
        char buf[32];
        ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return -1;
        int number = 0;
        auto res = std::from_chars(buf, buf + n, number);
        if (n > 0 && res.ec == std::errc() && res.ptr == buf + n) {
            *message = number;
            return 1;
        }
        wait_ms = 0;  // dropped a stray datagram; only look for one already there
    }
}

int message_post(std::string_view name, int message) {
    sockaddr_un addr;
    std::string path;
    if (endpoint_address(name, addr, path) != 0) return -1;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    std::string text = std::to_string(message);
    ssize_t n = ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    int e = errno;
    ::close(fd);
    errno = e;
    return n == static_cast<ssize_t>(text.size()) ? 0 : -1;
}

}  // namespace platform
