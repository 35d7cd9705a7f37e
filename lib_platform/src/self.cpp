#include "platform/self.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

std::string program_path() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string program_folder() {
    std::string path = program_path();
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

std::string program_base_name() {
    std::string path = program_path();
    std::string name = path.substr(path.rfind('/') + 1);
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

int process_id() { return static_cast<int>(::getpid()); }

long thread_id() { return static_cast<long>(::syscall(SYS_gettid)); }

std::string last_error_text() { return std::strerror(errno); }

}  // namespace platform
