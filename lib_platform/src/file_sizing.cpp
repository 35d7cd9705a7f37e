#include "platform/file_sizing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/socket.h"

namespace platform {

namespace {

void set_stage(int* stage, int value) {
    if (stage != nullptr) *stage = value;
}

}  // namespace

int file_size_at_least(const char* path, std::int64_t length, bool* reserved, int* stage) {
    if (reserved != nullptr) *reserved = false;
    set_stage(stage, 0);
    int fd;
    do {
        fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        set_stage(stage, FILE_SIZING_OPEN);
        return -1;
    }
    FdHandle file(fd);
    if (length <= 0) return 0;

    struct stat st;
    if (::fstat(fd, &st) != 0) {
        set_stage(stage, FILE_SIZING_SIZE);
        return -1;
    }
    // posix_fallocate never shrinks and keeps existing bytes; it reports its
    // failure as its result, not in errno.
    int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(length));
    if (rc == 0) {
        if (reserved != nullptr) *reserved = true;
        return 0;
    }
    if (static_cast<std::int64_t>(st.st_size) >= length) return 0;
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0) {
        set_stage(stage, FILE_SIZING_SIZE);
        return -1;
    }
    return 0;
}

std::int64_t file_allocated_bytes(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_blocks) * 512;
}

}  // namespace platform
