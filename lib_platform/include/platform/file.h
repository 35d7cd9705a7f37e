// Files opened with the rights the programs expect.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Opens `path` for appending in binary mode, creating it readable and writable
// by its owner only. Returns null on failure (the reason is in errno).
std::FILE* file_open_append_private(const char* path);

// Size of the file at `path`, or -1 when it does not exist or cannot be read.
std::int64_t file_size(const char* path);

// Cuts the file at `path` to zero length. 0, or -1 on failure.
int file_truncate(const char* path);

// Whether `path` exists and may be read and written by this process. 0, or
// -1 with errno (ENOENT when it does not exist, EACCES when access is refused).
int file_access_rw(const char* path);

// Renames `from` to `to`, replacing a file of that name. 0, or -1 with errno.
int file_rename(const char* from, const char* to);

// Deletes the file. 0, or -1 with errno.
int file_unlink(const char* path);

// Creates `path` and every missing parent folder. 0 when the folder exists
// afterwards, -1 otherwise.
int make_folders(const char* path);

// The whole file into `out`. 0, or -1 with errno (ENOENT when missing).
int file_read_all(const char* path, std::string& out);

// Replaces the file `path` by `data` through a flushed temporary file in the
// same folder renamed over it: a reader, or a crash, sees the old file or the
// new one whole. A new file is readable and writable by its owner. 0, or -1.
int file_replace(const char* path, const std::string& data);

}  // namespace platform
