// UDP sockets over IPv4: the P2P client's server channel and the stand-in
// session and STUN servers.
//
// Addresses are IPv4 numbers in host byte order with their port; the text
// forms are "a.b.c.d" and "a.b.c.d:port". Every call returns 0 (or a byte
// count) on success and -1 with the reason in errno. A connected socket that
// sent to a port where nothing listens may see its next receive fail with
// ECONNREFUSED; callers treat that like any failed read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct UdpAddr {
    std::uint32_t ip = 0;  // host byte order
    std::uint16_t port = 0;
};

// "a.b.c.d" into a host-order number. 0, or -1 (EINVAL) for other text.
int ipv4_parse(const char* text, std::uint32_t* ip);
std::string ipv4_text(std::uint32_t ip);
std::string udp_addr_text(const UdpAddr& addr);  // "a.b.c.d:port"

// Owns one datagram socket (closed on exec) and closes it when destroyed.
// Sends and receives may come from different threads at once.
class UdpSocket {
  public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    UdpSocket& operator=(UdpSocket&& o) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A new unbound socket.
    int open();
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Binds to ip:port (port 0 picks a free one).
    int bind(const UdpAddr& addr);
    // Fixes the peer: send() and recv() then talk to it alone.
    int connect(const UdpAddr& addr);
    int local_addr(UdpAddr* out) const;

    long send(const void* buf, std::size_t len);
    long send_to(const void* buf, std::size_t len, const UdpAddr& to);
    // One datagram (cut to `len`); `from` gets the sender when given.
    long recv(void* buf, std::size_t len, UdpAddr* from = nullptr);

    // 1 when a datagram (or an error) waits, 0 after `timeout_ms`, -1 on a
    // failed wait (EINTR included).
    int wait_readable(int timeout_ms) const;

    void close();

  private:
    int fd_ = -1;
};

}  // namespace platform
