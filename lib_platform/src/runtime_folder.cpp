#include "platform/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

bool is_folder(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes `path` a private folder of this user, or says why it cannot be one.
int ensure_private(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

}  // namespace

std::string runtime_folder() {
    std::string path;
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/' && is_folder(xdg)) {
        path = std::string(xdg) + "/tarvo";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = (tmp != nullptr && tmp[0] == '/' && is_folder(tmp)) ? tmp : "/tmp";
        path = base + "/tarvo-" + std::to_string(::getuid());
    }
    if (ensure_private(path) != 0) return "";
    return path + "/";
}

int runtime_file(std::string_view name, std::string_view suffix, std::string& path) {
    if (name.empty() || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        errno = EINVAL;
        return -1;
    }
    std::string folder = runtime_folder();
    if (folder.empty()) return -1;
    path = folder + std::string(name) + std::string(suffix);
    return 0;
}

}  // namespace platform
