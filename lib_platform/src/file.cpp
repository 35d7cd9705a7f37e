#include "platform/file.h"

#include "whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace platform {

std::FILE* file_open_append_private(const char* path) {
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    std::FILE* fp = ::fdopen(fd, "ab");
    if (fp == nullptr) {
        int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return fp;
}

std::int64_t file_size(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

int file_access_rw(const char* path) { return ::access(path, R_OK | W_OK) == 0 ? 0 : -1; }

int file_rename(const char* from, const char* to) { return std::rename(from, to) == 0 ? 0 : -1; }

int file_unlink(const char* path) { return ::unlink(path) == 0 ? 0 : -1; }

int file_truncate(const char* path) { return ::truncate(path, 0) == 0 ? 0 : -1; }

int make_folders(const char* path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (std::filesystem::is_directory(path, ec)) return 0;
    errno = ec ? ec.value() : ENOTDIR;
    return -1;
}

int file_read_all(const char* path, std::string& out) {
    return detail::read_whole_file(path, out) ? 0 : -1;
}

int file_replace(const char* path, const std::string& data) {
    return detail::replace_whole_file(path, data, 0600);
}

}  // namespace platform
