#include "platform/named_mutex.h"

#include <cerrno>
#include <string>

#include "platform/runtime_folder.h"

namespace platform {

int NamedMutex::create(std::string_view name) {
    lock_.unlock();
    if (name.empty() || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        errno = EINVAL;
        return -1;
    }
    std::string folder = runtime_folder();
    if (folder.empty()) return -1;
    std::string path = folder + std::string(name) + ".mutex";
    if (lock_.lock(path.c_str()) == 0) return 0;
    return errno == EWOULDBLOCK ? 1 : -1;
}

}  // namespace platform
