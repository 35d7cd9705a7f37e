// The volume a path lies on, and walking folders: the cache-space bookkeeping
// of the resource list.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// Free bytes of the whole volume holding `path` (all free blocks, not only
// those an unprivileged user may take). 0, or -1 with errno.
int disk_free_bytes(const char* path, std::uint64_t* out);

struct DirEntry {
    std::string name;        // no folder part; "." and ".." are never listed
    bool is_dir = false;     // a folder (symbolic links are not followed)
    std::uint64_t size = 0;  // a file's size in bytes; 0 for folders
};

// The entries of `folder`. 0, or -1 with errno.
int dir_list(const char* folder, std::vector<DirEntry>& out);

// Writes what the stream buffered and asks the system to put the file on the
// disk, so that a rename over an older file that follows never leaves an
// empty one after a crash. 0, or -1 with errno.
int file_sync(std::FILE* fp);

}  // namespace platform
