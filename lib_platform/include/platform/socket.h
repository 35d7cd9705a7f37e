// Sockets: IPv4 TCP, the calls the stream engine and its users need.
//
// Every call returns 0 (or a count / a descriptor) on success and -1 on failure
// with the reason in errno; the Winsock codes the callers compare against are
// the errno twins of net_errors.h. Sends never raise SIGPIPE: a peer that went
// away shows as -1 with EPIPE.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

constexpr int INVALID_SOCKET_FD = -1;

// Owns one descriptor (socket or file) and closes it when destroyed, unless
// released first. Move-only.
class FdHandle {
  public:
    FdHandle() = default;
    explicit FdHandle(int fd) : fd_(fd) {}
    FdHandle(FdHandle&& other) noexcept : fd_(other.release()) {}
    FdHandle& operator=(FdHandle&& other) noexcept;
    FdHandle(const FdHandle&) = delete;
    FdHandle& operator=(const FdHandle&) = delete;
    ~FdHandle() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor to the caller, who now closes it.
    int release();
    // Closes the descriptor held (if any) and takes `fd`.
    void reset(int fd = INVALID_SOCKET_FD);

  private:
    int fd_ = INVALID_SOCKET_FD;
};

// A new IPv4 TCP socket, blocking, closed on exec.
int sock_tcp();
int sock_close(int fd);

int sock_set_nonblocking(int fd, bool on);
// 1 when the descriptor is in non-blocking mode, 0 when not, -1 on failure.
int sock_is_nonblocking(int fd);
// Sets SO_RCVBUF and SO_SNDBUF (a size <= 0 leaves that side alone).
int sock_set_buffers(int fd, int rcvbuf, int sndbuf);
int sock_set_reuseaddr(int fd);
int sock_set_nodelay(int fd, bool on);

// Connects to ip:port (dotted IPv4). On a non-blocking socket a connect under
// way is -1 with EINPROGRESS.
int sock_connect(int fd, const char* ip, int port);
// Binds to ip:port ("" or null means every address) and listens.
int sock_bind_listen(int fd, const char* ip, int port, int backlog);
// Accepts one connection: its descriptor (blocking, closed on exec) and, when
// `peer` is given, its address as "ip:port". -1 with EAGAIN when none waits.
int sock_accept(int listen_fd, std::string* peer);
// The socket's pending error (SO_ERROR), cleared by reading it; -1 when the
// option cannot be read.
int sock_pending_error(int fd);
int sock_local_addr(int fd, std::string& out);  // "ip:port"
int sock_peer_addr(int fd, std::string& out);   // "ip:port"

long sock_recv(int fd, void* buf, std::size_t len);
long sock_send(int fd, const void* buf, std::size_t len);
// A send that never blocks, whatever the socket's mode: -1 with EAGAIN when
// there is no room (a blocking socket would wait for all of `len`).
long sock_send_nowait(int fd, const void* buf, std::size_t len);

// A connected pair of stream sockets (both blocking, closed on exec).
int sock_pair(int fds[2]);

// What fd_wait waits for.
constexpr int WAIT_READ = 1;
constexpr int WAIT_WRITE = 2;

// Waits until `fd` is readable or writable as asked, at most `timeout_ms`
// milliseconds (below 0: no limit). 1 ready (errors and hang-ups count as
// ready: the next call on the descriptor tells which), 0 timed out, -1 failed
// (EINTR included; callers decide whether to retry).
int fd_wait(int fd, int what, int timeout_ms);

// 1 when `text` is a dotted IPv4 address ("a.b.c.d"), 0 when not.
int is_ipv4_text(const char* text);

}  // namespace platform
