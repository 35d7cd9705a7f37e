#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::~FileLock() { unlock(); }

FileLock::FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& o) noexcept {
    if (this != &o) {
        unlock();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int FileLock::lock(const char* path) {
    unlock();
    int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int e = errno;
        ::close(fd);
        errno = (e == EAGAIN) ? EWOULDBLOCK : e;
        return -1;
    }
    fd_ = fd;
    return 0;
}

int FileLock::write_text(std::string_view text) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    if (::ftruncate(fd_, 0) != 0) return -1;
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        done += static_cast<std::size_t>(w);
    }
    return 0;
}

void FileLock::unlock() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the only descriptor drops the lock
        fd_ = -1;
    }
}

}  // namespace platform
