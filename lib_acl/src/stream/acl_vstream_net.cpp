// Socket streams: connect (direct and timed), listen, accept, blocking mode.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "platform/resolver.h"
#include "platform/socket.h"

namespace {

// Splits "host:port" at its last ':'. 0, or -1 when there is no ':'.
int split_addr(const char* addr, std::string& host, std::string& port) {
    const char* colon = std::strrchr(addr, ':');
    if (colon == nullptr) return -1;
    host.assign(addr, static_cast<std::size_t>(colon - addr));
    port.assign(colon + 1);
    return 0;
}

// The port as a number, or -1 when it is not one in 0..65535.
int parse_port(const std::string& text) {
    if (text.empty() || text.size() > 5) return -1;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : -1;
}

}  // namespace

int acl_non_blocking(int fd, int mode) {
    if (platform::sock_set_nonblocking(fd, mode == ACL_NON_BLOCKING) < 0) {
        acl_msg_error("ioctlsocket(fd,FIONBIO) failed");
        return -1;
    }
    return 0;
}

static int wait_for(int fd, int what, int timeout) {
    for (;;) {
        int w = platform::fd_wait(fd, what, timeout < 0 ? -1 : timeout * 1000);
        if (w > 0) return 0;
        if (w == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        if (errno != EINTR) return -1;
    }
}

int acl_write_wait(int fd, int timeout) { return wait_for(fd, platform::WAIT_WRITE, timeout); }

int acl_read_wait(int fd, int timeout) { return wait_for(fd, platform::WAIT_READ, timeout); }

int acl_timed_connect(int fd, const char* ip, int port, int timeout) {
    if (timeout < 0) acl_msg_panic("timed_connect: bad timeout: %d", timeout);
    if (platform::sock_set_nonblocking(fd, true) < 0) return -1;
    if (platform::sock_connect(fd, ip, port) == 0) return 0;
    if (errno != EINPROGRESS && errno != EWOULDBLOCK) return -1;
    if (acl_write_wait(fd, timeout) < 0) return -1;
    int err = platform::sock_pending_error(fd);
    if (err < 0) return -1;
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

// One attempt on one address: a connected socket, or -1.
static int connect_one(const std::string& ip, int port, int block_mode, int timeout) {
    platform::FdHandle sock(platform::sock_tcp());
    if (!sock.valid()) return -1;
    platform::sock_set_buffers(sock.get(), ACL_INET_SOCK_BUFSIZE, ACL_INET_SOCK_BUFSIZE);
    if (timeout > 0) {
        if (acl_timed_connect(sock.get(), ip.c_str(), port, timeout) < 0) return -1;
        if (acl_non_blocking(sock.get(), block_mode) < 0) return -1;
        return sock.release();
    }
    if (acl_non_blocking(sock.get(), block_mode) < 0) return -1;
    if (platform::sock_connect(sock.get(), ip.c_str(), port) == 0) return sock.release();
    // The async connect takes this road: the loop reports when it is done.
    if (block_mode == ACL_NON_BLOCKING && (errno == EINPROGRESS || errno == EWOULDBLOCK))
        return sock.release();
    return -1;
}

int acl_inet_connect_ex(const char* addr, int block_mode, int timeout) {
    std::string host, port_text;
    if (addr == nullptr || split_addr(addr, host, port_text) < 0 || host.empty()) {
        acl_msg_error("%s, %s(%d): invalid addr(%s)", __FILE__, __func__, __LINE__,
                      addr ? addr : "null");
        return -1;
    }
    int port = parse_port(port_text);
    if (port <= 0) {
        acl_msg_error("%s, %s(%d): invalid port(%d)", __FILE__, __func__, __LINE__,
                      std::atoi(port_text.c_str()));
        return -1;
    }
    std::vector<std::string> ips;
    std::string why;
    if (platform::resolve_ipv4(host.c_str(), ips, why) < 0) {
        acl_msg_error("%s, %s(%d): gethostbyname error(%s), addr=%s", __FILE__, __func__, __LINE__,
                      why.c_str(), addr);
        errno = EHOSTUNREACH;
        return -1;
    }
    int saved = 0;
    for (const auto& ip : ips) {
        int fd = connect_one(ip, port, block_mode, timeout);
        if (fd >= 0) return fd;
        saved = errno;
        acl_msg_error("%s(%d): connect ip(%s) port(%d) error", __func__, __LINE__, ip.c_str(),
                      port);
    }
    errno = saved;
    return -1;
}

ACL_VSTREAM* acl_vstream_connect_ex(const char* addr, int block_mode, int connect_timeout,
                                    int rw_timeout, int rw_bufsize) {
    if (addr == nullptr || std::strchr(addr, ':') == nullptr) {
        acl_msg_error("%s(%d): addr(%s) invalid, examples(192.168.0.1:80)", __func__, __LINE__,
                      addr ? addr : "null");
        errno = EINVAL;
        return nullptr;
    }
    int fd = acl_inet_connect_ex(addr, block_mode, connect_timeout);
    if (fd < 0) return nullptr;
    ACL_VSTREAM* s = acl_vstream_fdopen(fd, platform::FD_READ | platform::FD_WRITE,
                                        rw_bufsize > 0 ? static_cast<std::size_t>(rw_bufsize) : 0,
                                        rw_timeout, ACL_VSTREAM_TYPE_SOCK);
    s->addr_peer = addr;
    platform::sock_local_addr(fd, s->addr_local);
    return s;
}

int acl_inet_listen(const char* addr, int backlog, int block_mode) {
    std::string host, port_text;
    if (addr == nullptr || split_addr(addr, host, port_text) < 0) {
        acl_msg_error("%s, %s(%d): invalid addr(%s)", __FILE__, __func__, __LINE__,
                      addr ? addr : "null");
        errno = EINVAL;
        return -1;
    }
    int port = parse_port(port_text);
    if (port < 0) {
        acl_msg_error("%s, %s(%d): invalid port(%s)", __FILE__, __func__, __LINE__,
                      port_text.c_str());
        errno = EINVAL;
        return -1;
    }
    if (host.empty()) host = "0.0.0.0";
    platform::FdHandle sock(platform::sock_tcp());
    if (!sock.valid()) {
        acl_msg_error("%s(%d): socket error(%s)", __func__, __LINE__, std::strerror(errno));
        return -1;
    }
    platform::sock_set_reuseaddr(sock.get());
    if (platform::sock_bind_listen(sock.get(), host.c_str(), port, backlog) < 0) {
        int err = errno;
        acl_msg_error("%s(%d): bind/listen addr(%s) error(%s)", __func__, __LINE__, addr,
                      std::strerror(err));
        errno = err;
        return -1;
    }
    if (acl_non_blocking(sock.get(), block_mode) < 0) return -1;
    return sock.release();
}

ACL_VSTREAM* acl_vstream_listen_ex(const char* addr, int backlog, int block_mode, int bufsize,
                                   int rw_timeout) {
    int fd = acl_inet_listen(addr, backlog, block_mode);
    if (fd < 0) return nullptr;
    ACL_VSTREAM* s = acl_vstream_fdopen(fd, platform::FD_READ | platform::FD_WRITE,
                                        bufsize > 0 ? static_cast<std::size_t>(bufsize) : 0,
                                        rw_timeout, ACL_VSTREAM_TYPE_SOCK);
    platform::sock_local_addr(fd, s->addr_local);
    return s;
}

ACL_VSTREAM* acl_vstream_accept_ex(ACL_VSTREAM* listen_stream, char* ipbuf, int size) {
    std::string peer;
    int fd = platform::sock_accept(listen_stream->fd, &peer);
    if (fd < 0) return nullptr;
    ACL_VSTREAM* s =
        acl_vstream_fdopen(fd, listen_stream->priv.oflags, listen_stream->priv.read_buf.size(),
                           listen_stream->rw_timeout, ACL_VSTREAM_TYPE_SOCK);
    s->addr_peer = peer;
    platform::sock_local_addr(fd, s->addr_local);
    if (ipbuf != nullptr && size > 0) {
        std::string ip = peer.substr(0, peer.rfind(':'));
        std::size_t n = std::min(ip.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(ipbuf, ip.data(), n);
        ipbuf[n] = '\0';
    }
    return s;
}
