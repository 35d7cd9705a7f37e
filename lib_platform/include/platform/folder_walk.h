// The entries of one folder and the times of files, for programs that list
// what lies on disk (the desktop program's cache view).
//
// A file's time is its last change (mtime): Linux keeps no settable creation
// time, and a cache file is written once, so its last change is when it came.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

struct FolderEntry {
    std::string name;  // without the folder
    bool is_folder = false;
    std::int64_t size = 0;
    std::time_t time = 0;  // mtime, seconds since 1970 (UTC)
};

// The entries of `folder` but "." and "..", in the order the system gives.
// 0, or -1 with errno when the folder cannot be read (ENOENT when missing).
int folder_entries(const std::string& folder, std::vector<FolderEntry>& out);

// The time of `path` into `*t`. 0, or -1.
int file_time(const std::string& path, std::time_t* t);

// Removes the file `path`. 0, or -1.
int file_remove(const std::string& path);

enum class FolderState { missing, writable, read_only };

// Whether `path` is a folder this process may write into (a file, or a folder
// it may only read, counts as read-only: the twin of the read-only mark).
FolderState folder_state(const std::string& path);

// The free bytes of the volume holding `path` (the nearest existing folder
// above it when it does not exist yet), or -1 when unknown.
std::int64_t disk_free_bytes(const std::string& path);

}  // namespace platform
