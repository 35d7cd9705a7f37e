#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

FdHandle& FdHandle::operator=(FdHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int FdHandle::release() {
    int fd = fd_;
    fd_ = INVALID_SOCKET_FD;
    return fd;
}

void FdHandle::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

namespace {

int fill_addr(sockaddr_in& sa, const char* ip, int port) {
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (ip == nullptr || *ip == '\0') {
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        return 0;
    }
    if (::inet_pton(AF_INET, ip, &sa.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

void addr_text(const sockaddr_in& sa, std::string& out) {
    char ip[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof(ip));
    out = ip;
    out += ':';
    out += std::to_string(ntohs(sa.sin_port));
}

}  // namespace

int sock_tcp() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int sock_close(int fd) { return ::close(fd); }

int sock_set_nonblocking(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return -1;
    int want = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (want != flags && ::fcntl(fd, F_SETFL, want) < 0) return -1;
    return 0;
}

int sock_is_nonblocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return -1;
    return (flags & O_NONBLOCK) ? 1 : 0;
}

int sock_set_buffers(int fd, int rcvbuf, int sndbuf) {
    if (rcvbuf > 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf)) < 0)
        return -1;
    if (sndbuf > 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf)) < 0)
        return -1;
    return 0;
}

int sock_set_reuseaddr(int fd) {
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

int sock_set_nodelay(int fd, bool on) {
    int v = on ? 1 : 0;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof(v));
}

int sock_connect(int fd, const char* ip, int port) {
    sockaddr_in sa;
    if (fill_addr(sa, ip, port) < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0) return 0;
    if (errno != EINTR) return -1;
    // An interrupted connect goes on in the background.
    errno = EINPROGRESS;
    if (sock_is_nonblocking(fd) == 1) return -1;
    while (fd_wait(fd, WAIT_WRITE, -1) < 0) {
        if (errno != EINTR) return -1;
    }
    int err = sock_pending_error(fd);
    if (err == 0) return 0;
    if (err > 0) errno = err;
    return -1;
}

int sock_bind_listen(int fd, const char* ip, int port, int backlog) {
    sockaddr_in sa;
    if (fill_addr(sa, ip, port) < 0) return -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) < 0) return -1;
    return ::listen(fd, backlog);
}

int sock_accept(int listen_fd, std::string* peer) {
    sockaddr_in sa;
    socklen_t len = sizeof(sa);
    int fd;
    do {
        fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && peer != nullptr) addr_text(sa, *peer);
    return fd;
}

int sock_pending_error(int fd) {
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return -1;
    return err;
}

int sock_local_addr(int fd, std::string& out) {
    sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0 || sa.sin_family != AF_INET)
        return -1;
    addr_text(sa, out);
    return 0;
}

int sock_peer_addr(int fd, std::string& out) {
    sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0 || sa.sin_family != AF_INET)
        return -1;
    addr_text(sa, out);
    return 0;
}

long sock_recv(int fd, void* buf, std::size_t len) {
    return static_cast<long>(::recv(fd, buf, len, 0));
}

long sock_send(int fd, const void* buf, std::size_t len) {
    return static_cast<long>(::send(fd, buf, len, MSG_NOSIGNAL));
}

long sock_send_nowait(int fd, const void* buf, std::size_t len) {
    return static_cast<long>(::send(fd, buf, len, MSG_NOSIGNAL | MSG_DONTWAIT));
}

int sock_pair(int fds[2]) { return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds); }

int fd_wait(int fd, int what, int timeout_ms) {
    pollfd p;
    p.fd = fd;
    p.events =
        static_cast<short>(((what & WAIT_READ) ? POLLIN : 0) | ((what & WAIT_WRITE) ? POLLOUT : 0));
    p.revents = 0;
    int n = ::poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) return -1;
    return n == 0 ? 0 : 1;
}

int is_ipv4_text(const char* text) {
    in_addr a;
    return text != nullptr && ::inet_pton(AF_INET, text, &a) == 1 ? 1 : 0;
}

}  // namespace platform
