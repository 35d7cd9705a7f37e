#include "platform/named_pipe.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/socket.h"

namespace platform {

namespace {

// The user's private folder, created 0700 and checked to be ours alone.
int pipe_folder(std::string& out) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/') {
        out = std::string(runtime) + "/tarvo";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        out = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/tarvo-" +
              std::to_string(::getuid());
    }
    if (::mkdir(out.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    struct stat st;
    if (::lstat(out.c_str(), &st) != 0) return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        errno = EACCES;
        return -1;
    }
    out += '/';
    return 0;
}

bool iequals(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; i++) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Takes the instance lock of one role of one pipe.
int lock_role(const std::string& fifo, const char* role, int& lock_fd) {
    std::string path = fifo + "." + role + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    lock_fd = fd;
    return 0;
}

int blocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

}  // namespace

int pipe_fifo_path(const std::string& pipe_path, std::string& out) {
    // "\\" host "\" "PIPE" "\" name
    if (pipe_path.size() < 3 || pipe_path.compare(0, 2, "\\\\") != 0) {
        errno = EINVAL;
        return -1;
    }
    std::size_t host_end = pipe_path.find('\\', 2);
    if (host_end == std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    std::size_t word_end = pipe_path.find('\\', host_end + 1);
    if (word_end == std::string::npos ||
        !iequals(pipe_path.substr(host_end + 1, word_end - host_end - 1), "pipe")) {
        errno = EINVAL;
        return -1;
    }
    std::string name = pipe_path.substr(word_end + 1);
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name == "." || name == "..") {
        errno = EINVAL;
        return -1;
    }
    if (pipe_path.substr(2, host_end - 2) != ".") {
        errno = EHOSTUNREACH;
        return -1;
    }
    std::string folder;
    if (pipe_folder(folder) != 0) return -1;
    out = folder + name;
    return 0;
}

NamedPipe::NamedPipe(NamedPipe&& o) noexcept
    : fd_(o.fd_), lock_fd_(o.lock_fd_), fifo_(std::move(o.fifo_)), server_(o.server_) {
    o.fd_ = o.lock_fd_ = -1;
}

NamedPipe& NamedPipe::operator=(NamedPipe&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        lock_fd_ = o.lock_fd_;
        fifo_ = std::move(o.fifo_);
        server_ = o.server_;
        o.fd_ = o.lock_fd_ = -1;
    }
    return *this;
}

int NamedPipe::create(const std::string& pipe_path, PipeAccess access) {
    close();
    std::string fifo;
    if (pipe_fifo_path(pipe_path, fifo) != 0) return -1;
    int lock_fd = -1;
    if (lock_role(fifo, "server", lock_fd) != 0) return -1;
    // A FIFO left by a server that has gone is replaced: its client must not
    // keep talking into the old one.
    if (::unlink(fifo.c_str()) != 0 && errno != ENOENT) {
        ::close(lock_fd);
        return -1;
    }
    if (::mkfifo(fifo.c_str(), 0600) != 0) {
        ::close(lock_fd);
        return -1;
    }
    // The reading end opens without a writer; the writing end is opened for
    // reading too, so it never waits for a client and the client's reads see
    // a writer for as long as this server lives.
    int flags = access == PipeAccess::read ? O_RDONLY | O_NONBLOCK : O_RDWR;
    int fd = ::open(fifo.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || blocking(fd) != 0) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        ::close(lock_fd);
        errno = err;
        return -1;
    }
    fd_ = fd;
    lock_fd_ = lock_fd;
    fifo_ = fifo;
    server_ = true;
    return 0;
}

int NamedPipe::open(const std::string& pipe_path, PipeAccess access) {
    close();
    std::string fifo;
    if (pipe_fifo_path(pipe_path, fifo) != 0) return -1;
    struct stat st;
    if (::stat(fifo.c_str(), &st) != 0) return -1;
    if (!S_ISFIFO(st.st_mode)) {
        errno = ENOENT;
        return -1;
    }
    int lock_fd = -1;
    if (lock_role(fifo, "client", lock_fd) != 0) return -1;
    // Non-blocking opens: a writer finds out at once (ENXIO) that no server
    // reads; a reader opens whether or not the server still lives.
    int flags = access == PipeAccess::read ? O_RDONLY : O_WRONLY;
    int fd = ::open(fifo.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || blocking(fd) != 0) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        ::close(lock_fd);
        errno = err;
        return -1;
    }
    fd_ = fd;
    lock_fd_ = lock_fd;
    fifo_ = fifo;
    server_ = false;
    return 0;
}

long NamedPipe::read(void* buf, std::size_t len) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        long n = ::read(fd_, buf, len);
        if (n > 0) return n;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EPIPE;  // no writer: the peer has gone or not come
        return -1;
    }
}

long NamedPipe::write(const void* buf, std::size_t len) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    if (len > PIPE_MESSAGE_MAX) {
        errno = EMSGSIZE;
        return -1;
    }
    // PIPE_BUF (4096 on Linux) or less is written whole and atomically. A
    // pipe without a reader gives EPIPE, as the process ignores SIGPIPE
    // only where it asked to: block the signal for this one call instead.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    long n;
    do {
        n = ::write(fd_, buf, len);
    } while (n < 0 && errno == EINTR);
    int err = errno;
    if (n < 0 && err == EPIPE) {
        // Consume the SIGPIPE this write raised while it is still blocked.
        timespec zero{0, 0};
        sigtimedwait(&block, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    if (n >= 0 && static_cast<std::size_t>(n) != len) {
        errno = EIO;
        return -1;
    }
    return n;
}

int NamedPipe::wait_readable(int timeout_ms) const { return fd_wait(fd_, WAIT_READ, timeout_ms); }

void NamedPipe::close() {
    if (fd_ >= 0) ::close(fd_);
    if (lock_fd_ >= 0) ::close(lock_fd_);
    fd_ = lock_fd_ = -1;
    fifo_.clear();
}

}  // namespace platform
