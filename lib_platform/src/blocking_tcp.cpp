#include "platform/blocking_tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

bool make_addr(const std::string& ip, int port, sockaddr_in& sa) {
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) == 1;
}

int wait_fd(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeout_ms);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

}  // namespace

TcpSocket::~TcpSocket() { close(); }

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int TcpSocket::connect(const std::string& ip, int port, int timeout_ms) {
    close();
    sockaddr_in sa;
    if (!make_addr(ip, port, sa)) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    if (r < 0 && errno == EINPROGRESS) {
        if (wait_fd(fd, POLLOUT, timeout_ms) <= 0) {
            ::close(fd);
            errno = ETIMEDOUT;
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof(err);
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            ::close(fd);
            errno = err;
            return -1;
        }
    } else if (r < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    return 0;
}

int TcpSocket::send_all(const void* data, std::size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = ::send(fd_, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return 0;
}

long TcpSocket::recv_some(std::string& out, int timeout_ms) {
    if (fd_ < 0) return -1;
    if (wait_fd(fd_, POLLIN, timeout_ms) <= 0) return -1;
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
        return n < 0 ? -1 : static_cast<long>(n);
    }
}

int TcpSocket::recv_until_close(std::string& out, int idle_timeout_ms) {
    for (;;) {
        if (wait_fd(fd_, POLLIN, idle_timeout_ms) <= 0) return 0;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 1;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

int TcpSocket::recv_until(std::string& out, const std::string& marker, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.find(marker) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return -1;
        if (wait_fd(fd_, POLLIN, static_cast<int>(left)) <= 0) return -1;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return 1;
}

void TcpSocket::shutdown_write() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TcpListener::~TcpListener() { close(); }

int TcpListener::listen(const std::string& ip, int port, int backlog) {
    close();
    sockaddr_in sa;
    if (!make_addr(ip, port, sa)) return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) < 0 || ::listen(fd, backlog) < 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    fd_ = fd;
    port_ = ntohs(sa.sin_port);
    return 0;
}

TcpSocket TcpListener::accept(int timeout_ms) {
    if (fd_ < 0) return TcpSocket();
    if (wait_fd(fd_, POLLIN, timeout_ms) <= 0) return TcpSocket();
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return TcpSocket(fd);
}

void TcpListener::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int free_loopback_port() {
    TcpListener l;
    if (l.listen("127.0.0.1", 0) != 0) return -1;
    return l.port();
}

}  // namespace platform
