// Files by descriptor, for buffered file streams.
//
// Results: a descriptor or a count, or -1 with the reason in errno.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// How a file is opened; combine with '|'.
constexpr int FD_READ = 0x01;      // reading
constexpr int FD_WRITE = 0x02;     // writing
constexpr int FD_CREATE = 0x04;    // create when missing
constexpr int FD_TRUNCATE = 0x08;  // cut to zero length
constexpr int FD_APPEND = 0x10;    // every write goes to the end

// Opens `path` (closed on exec); a created file gets the rights `mode`
// (e.g. 0600) less the process's mask.
int fd_open(const char* path, int how, int mode);
int fd_close(int fd);
// One read or write call; an interrupted call is repeated.
long fd_read(int fd, void* buf, std::size_t len);
long fd_write(int fd, const void* buf, std::size_t len);
// One write at `offset` without moving the file position.
long fd_pwrite(int fd, const void* buf, std::size_t len, std::int64_t offset);
// Moves to `offset` from the start; the new offset or -1.
std::int64_t fd_seek(int fd, std::int64_t offset);
// Sets the end of the file at `length` (shorter or longer). 0 or -1.
int fd_truncate(int fd, std::int64_t length);
// Size of the open file, or -1.
std::int64_t fd_size(int fd);

}  // namespace platform
