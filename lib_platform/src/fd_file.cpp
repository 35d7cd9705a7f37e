#include "platform/fd_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int fd_open(const char* path, int how, int mode) {
    int flags = O_CLOEXEC;
    if ((how & FD_READ) && (how & FD_WRITE))
        flags |= O_RDWR;
    else if (how & FD_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (how & FD_CREATE) flags |= O_CREAT;
    if (how & FD_TRUNCATE) flags |= O_TRUNC;
    if (how & FD_APPEND) flags |= O_APPEND;
    int fd;
    do {
        fd = ::open(path, flags, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int fd_close(int fd) { return ::close(fd); }

long fd_read(int fd, void* buf, std::size_t len) {
    ssize_t n;
    do {
        n = ::read(fd, buf, len);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long fd_write(int fd, const void* buf, std::size_t len) {
    ssize_t n;
    do {
        n = ::write(fd, buf, len);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long fd_pwrite(int fd, const void* buf, std::size_t len, std::int64_t offset) {
    ssize_t n;
    do {
        n = ::pwrite(fd, buf, len, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

std::int64_t fd_seek(int fd, std::int64_t offset) {
    return static_cast<std::int64_t>(::lseek(fd, static_cast<off_t>(offset), SEEK_SET));
}

int fd_truncate(int fd, std::int64_t length) {
    int rc;
    do {
        rc = ::ftruncate(fd, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

std::int64_t fd_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace platform
