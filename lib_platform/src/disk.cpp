#include "platform/disk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

int disk_free_bytes(const char* path, std::uint64_t* out) {
    struct statvfs vfs;
    if (::statvfs(path, &vfs) != 0) return -1;
    *out = static_cast<std::uint64_t>(vfs.f_bfree) * static_cast<std::uint64_t>(vfs.f_frsize);
    return 0;
}

int dir_list(const char* folder, std::vector<DirEntry>& out) {
    out.clear();
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return -1;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        DirEntry entry;
        entry.name = e->d_name;
        struct stat st;
        if (::lstat((base + entry.name).c_str(), &st) == 0) {
            entry.is_dir = S_ISDIR(st.st_mode);
            if (S_ISREG(st.st_mode)) entry.size = static_cast<std::uint64_t>(st.st_size);
        }
        out.push_back(std::move(entry));
    }
    ::closedir(dir);
    return 0;
}

int file_sync(std::FILE* fp) {
    if (std::fflush(fp) != 0) return -1;
    return ::fsync(::fileno(fp));
}

}  // namespace platform
