#include "platform/folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

int folder_entries(const std::string& folder, std::vector<FolderEntry>& out) {
    out.clear();
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return -1;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        FolderEntry entry;
        entry.name = e->d_name;
        struct stat st {};
        if (::stat((base + entry.name).c_str(), &st) == 0) {
            entry.is_folder = S_ISDIR(st.st_mode);
            entry.size = st.st_size;
            entry.time = st.st_mtime;
        }
        out.push_back(std::move(entry));
    }
    ::closedir(d);
    return 0;
}

int file_time(const std::string& path, std::time_t* t) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    *t = st.st_mtime;
    return 0;
}

int file_remove(const std::string& path) { return ::unlink(path.c_str()); }

FolderState folder_state(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();  // "a-file/" is the file
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return FolderState::missing;
    if (!S_ISDIR(st.st_mode) || ::access(p.c_str(), W_OK) != 0) return FolderState::read_only;
    return FolderState::writable;
}

std::int64_t disk_free_bytes(const std::string& path) {
    std::string p = path;
    struct statvfs vfs {};
    while (::statvfs(p.empty() ? "/" : p.c_str(), &vfs) != 0) {
        if (p.empty() || p == "/") return -1;
        while (!p.empty() && p.back() == '/') p.pop_back();
        std::size_t slash = p.rfind('/');
        p = slash == std::string::npos ? "" : p.substr(0, slash + 1);
    }
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

}  // namespace platform
