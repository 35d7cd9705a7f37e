#include "platform/pipe_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime_folder.h"
#include "unix_address.h"

namespace platform {

namespace {

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "\\HOST\PIPE\NAME" -> NAME; -1 with errno for anything else.
int parse_name(std::string_view name, std::string& base) {
    if (name.size() < 2 || name[0] != '\\' || name[1] != '\\') {
        errno = EINVAL;
        return -1;
    }
    std::string_view rest = name.substr(2);
    std::size_t host_end = rest.find('\\');
    if (host_end == std::string_view::npos) {
        errno = EINVAL;
        return -1;
    }
    std::string_view host = rest.substr(0, host_end);
    rest = rest.substr(host_end + 1);
    std::size_t word_end = rest.find('\\');
    if (word_end == std::string_view::npos || !iequal(rest.substr(0, word_end), "PIPE")) {
        errno = EINVAL;
        return -1;
    }
    std::string_view pipe = rest.substr(word_end + 1);
    if (pipe.empty() || pipe.find_first_of("/\\") != std::string_view::npos ||
        pipe.find('\0') != std::string_view::npos) {
        errno = EINVAL;
        return -1;
    }
    if (host != ".") {
        errno = EHOSTUNREACH;  // only this machine serves pipes
        return -1;
    }
    base.assign(pipe);
    return 0;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A listening socket at `path`, replacing the file a dead server left.
int listen_at(const std::string& path) {
    sockaddr_un addr;
    if (detail::unix_address(path, addr) != 0) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int connect_to(const std::string& path) {
    sockaddr_un addr;
    if (detail::unix_address(path, addr) != 0) return -1;
    // Without waiting: a server that does not take its client (hung, or
    // still busy with the last one) must not hang the opener.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int e = (errno == EAGAIN) ? EBUSY : errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

}  // namespace

int pipe_channel_paths(std::string_view name, std::string& in_path, std::string& out_path) {
    in_path.clear();
    out_path.clear();
    std::string base;
    if (parse_name(name, base) != 0) return -1;
    std::string folder = runtime_folder();
    if (folder.empty()) return -1;
    in_path = folder + base + "_in";
    out_path = folder + base + "_out";
    return 0;
}

PipeChannel::~PipeChannel() { close(); }

int PipeChannel::open(PipeRole role, std::string_view name) {
    close();
    failed_ = PipeSide::read_pipe;
    std::string in_path, out_path;
    if (pipe_channel_paths(name, in_path, out_path) != 0) return -1;
    sockaddr_un probe;
    if (detail::unix_address(out_path, probe) != 0) return -1;  // the longer of the two names

    const bool server = role == PipeRole::server;
    // The server's lock is the name, held for as long as it lives; the
    // client's is the one instance.
    std::string base = in_path.substr(0, in_path.size() - 3);
    if (owner_.lock((base + (server ? ".server" : ".client")).c_str()) != 0) {
        if (errno == EWOULDBLOCK) errno = server ? EADDRINUSE : EBUSY;
        return -1;
    }
    auto fail = [this](PipeSide side) {
        int e = errno;
        close();
        failed_ = side;
        errno = e;
        return -1;
    };
    // Each end first makes the pipe it reads: the server NAME_in, the client
    // NAME_out.
    int r = server ? listen_at(in_path) : connect_to(out_path);
    if (r < 0) return fail(PipeSide::read_pipe);
    if (server) {
        read_listener_ = r;
        in_path_ = in_path;
    } else {
        read_fd_ = r;
    }
    int w = server ? listen_at(out_path) : connect_to(in_path);
    if (w < 0) return fail(PipeSide::write_pipe);
    if (server) out_path_ = out_path;
    {
        std::lock_guard<std::mutex> g(write_mu_);
        role_ = role;
        (server ? write_listener_ : write_fd_) = w;
    }
    failed_ = PipeSide::none;
    return 0;
}

void PipeChannel::close() {
    closing_ = true;  // a send waiting on a full pipe gives up
    {
        std::lock_guard<std::mutex> g(write_mu_);
        close_fd(write_fd_);
        close_fd(write_listener_);
        role_ = PipeRole::client;
    }
    closing_ = false;
    close_fd(read_fd_);
    close_fd(read_listener_);
    // Only the holder of the name removes its files, before letting the name go.
    if (!in_path_.empty()) ::unlink(in_path_.c_str());
    if (!out_path_.empty()) ::unlink(out_path_.c_str());
    in_path_.clear();
    out_path_.clear();
    owner_.unlock();
}

bool PipeChannel::is_open() const { return read_listener_ >= 0 || read_fd_ >= 0; }

// Takes the newest client waiting at `listener` into `conn`; older ones in
// the queue are clients that gave up, and are closed.
int PipeChannel::accept_pending(int listener, int& conn) {
    if (listener < 0) {
        errno = EBADF;
        return -1;
    }
    int newest = -1;
    for (;;) {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0 && errno == EINTR) continue;
        if (fd < 0) break;
        if (newest >= 0) ::close(newest);
        newest = fd;
    }
    if (newest < 0) {
        errno = ENOTCONN;
        return -1;
    }
    conn = newest;
    return 0;
}

void PipeChannel::drop_peer() {
    if (read_listener_ < 0) return;  // a client keeps its ends until reopened
    close_fd(read_fd_);
    std::lock_guard<std::mutex> g(write_mu_);
    close_fd(write_fd_);
}

long PipeChannel::read(void* buf, std::size_t cap, int wait_ms) {
    if (read_fd_ < 0) {
        if (read_listener_ < 0) {
            errno = EBADF;
            return -1;
        }
        {
            // A client opens our write pipe first: its end replaces whatever
            // the last client left there, and the queue never fills up.
            std::lock_guard<std::mutex> g(write_mu_);
            int fresh = -1;
            if (accept_pending(write_listener_, fresh) == 0) {
                close_fd(write_fd_);
                write_fd_ = fresh;
            }
        }
        if (accept_pending(read_listener_, read_fd_) != 0) return -1;
    }
    if (cap > PIPE_MESSAGE_MAX) cap = PIPE_MESSAGE_MAX;
    pollfd p{read_fd_, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, wait_ms);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (r == 0) return 0;
    ssize_t n;
    do {
        n = ::recv(read_fd_, buf, cap, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return n;
    drop_peer();
    errno = EPIPE;
    return -1;
}

int PipeChannel::send(const void* data, std::size_t len) {
    std::lock_guard<std::mutex> g(write_mu_);
    if (write_fd_ < 0) {
        if (write_listener_ < 0) {  // closed, or never opened
            errno = EBADF;
            return -1;
        }
        if (accept_pending(write_listener_, write_fd_) != 0) return -1;
    }
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < len) {
        if (closing_) {
            errno = EPIPE;
            return -1;
        }
        ssize_t w = ::send(write_fd_, p + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A full pipe: wait in slices, so that a reopen never waits on us.
            pollfd pw{write_fd_, POLLOUT, 0};
            ::poll(&pw, 1, 100);
            continue;
        }
        if (w <= 0) {
            if (role_ == PipeRole::server) close_fd(write_fd_);  // the next client brings its own
            errno = EPIPE;
            return -1;
        }
        done += static_cast<std::size_t>(w);
    }
    return 0;
}

}  // namespace platform
