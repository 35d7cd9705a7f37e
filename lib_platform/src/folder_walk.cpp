#include "platform/folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>
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

}  // namespace platform
