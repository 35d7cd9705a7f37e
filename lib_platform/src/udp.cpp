#include "platform/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace platform {

namespace {

sockaddr_in to_sockaddr(const UdpAddr& addr) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(addr.ip);
    sa.sin_port = htons(addr.port);
    return sa;
}

UdpAddr from_sockaddr(const sockaddr_in& sa) {
    UdpAddr addr;
    addr.ip = ntohl(sa.sin_addr.s_addr);
    addr.port = ntohs(sa.sin_port);
    return addr;
}

}  // namespace

int ipv4_parse(const char* text, std::uint32_t* ip) {
    in_addr a;
    if (text == nullptr || ::inet_pton(AF_INET, text, &a) != 1) {
        errno = EINVAL;
        return -1;
    }
    *ip = ntohl(a.s_addr);
    return 0;
}

std::string ipv4_text(std::uint32_t ip) {
    in_addr a;
    a.s_addr = htonl(ip);
    char buf[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a, buf, sizeof(buf));
    return buf;
}

std::string udp_addr_text(const UdpAddr& addr) {
    return ipv4_text(addr.ip) + ":" + std::to_string(addr.port);
}

UdpSocket::~UdpSocket() { close(); }

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int UdpSocket::open() {
    close();
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0 ? 0 : -1;
}

int UdpSocket::bind(const UdpAddr& addr) {
    sockaddr_in sa = to_sockaddr(addr);
    return ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 ? 0 : -1;
}

int UdpSocket::connect(const UdpAddr& addr) {
    sockaddr_in sa = to_sockaddr(addr);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 ? 0 : -1;
}

int UdpSocket::local_addr(UdpAddr* out) const {
    sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    *out = from_sockaddr(sa);
    return 0;
}

long UdpSocket::send(const void* buf, std::size_t len) {
    return ::send(fd_, buf, len, MSG_NOSIGNAL);
}

long UdpSocket::send_to(const void* buf, std::size_t len, const UdpAddr& to) {
    sockaddr_in sa = to_sockaddr(to);
    return ::sendto(fd_, buf, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
}

long UdpSocket::recv(void* buf, std::size_t len, UdpAddr* from) {
    sockaddr_in sa;
    socklen_t salen = sizeof(sa);
    long n = ::recvfrom(fd_, buf, len, 0, reinterpret_cast<sockaddr*>(&sa), &salen);
    if (n >= 0 && from != nullptr) *from = from_sockaddr(sa);
    return n;
}

int UdpSocket::wait_readable(int timeout_ms) const { return fd_wait(fd_, WAIT_READ, timeout_ms); }

void UdpSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
