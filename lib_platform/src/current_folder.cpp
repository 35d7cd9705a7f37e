#include "platform/current_folder.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::string current_folder() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) return "";
    std::string s(buf);
    if (s.back() != '/') s += '/';
    return s;
}

int set_current_folder(const std::string& folder) { return ::chdir(folder.c_str()); }

}  // namespace platform
