// Blocking TCP sockets for small servers and clients (tests, tools). Each
// object owns its descriptor and closes it when destroyed.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class TcpSocket {
  public:
    TcpSocket() = default;
    explicit TcpSocket(int fd) : fd_(fd) {}
    ~TcpSocket();
    TcpSocket(TcpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    TcpSocket& operator=(TcpSocket&& o) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to ip:port within `timeout_ms`. 0, or -1 (errno tells why:
    // ECONNREFUSED, ETIMEDOUT ...).
    int connect(const std::string& ip, int port, int timeout_ms = 5000);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Sends every byte. 0, or -1.
    int send_all(const void* data, std::size_t len);
    int send_all(const std::string& s) { return send_all(s.data(), s.size()); }

    // Receives what is there within `timeout_ms`, appended to `out`: the byte
    // count, 0 at end of stream, -1 on error or time-out.
    long recv_some(std::string& out, int timeout_ms);

    // Receives until the peer closes, an error, or no byte came for
    // `idle_timeout_ms`. Returns 1 when the peer closed (or reset) the stream,
    // 0 on a time-out.
    int recv_until_close(std::string& out, int idle_timeout_ms);

    // Receives until `out` holds `marker` (returns 1), the peer closes (0) or a
    // time-out (-1).
    int recv_until(std::string& out, const std::string& marker, int timeout_ms);

    void shutdown_write();
    void close();

  private:
    int fd_ = -1;
};

class TcpListener {
  public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on ip:port (port 0 picks a free one). 0, or -1.
    int listen(const std::string& ip, int port = 0, int backlog = 64);
    int port() const { return port_; }

    // Accepts one connection within `timeout_ms` (negative waits for ever).
    TcpSocket accept(int timeout_ms);

    void close();

  private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port that nothing listens on at the moment of the call.
int free_loopback_port();

}  // namespace platform
