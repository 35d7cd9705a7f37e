#include "whole_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::detail {

namespace {

int close_keep_errno(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

}  // namespace

bool read_whole_file(const char* path, std::string& out) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char chunk[16384];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close_keep_errno(fd);
            return false;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

int replace_whole_file(const char* path, const std::string& data, mode_t mode) {
    struct stat st;
    if (::stat(path, &st) == 0) mode = st.st_mode & 07777;
    // A unique name: two threads of one process may replace the same file.
    std::string tmp = std::string(path) + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    bool ok = ::fchmod(fd, mode) == 0;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // The data must be on disk before the name points at it, or a crash could
    // leave an empty file where the old one was.
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        close_keep_errno(fd);
        int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return -1;
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path) != 0) {
        int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return -1;
    }
    return 0;
}

}  // namespace platform::detail
