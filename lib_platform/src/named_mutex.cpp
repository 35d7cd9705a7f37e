#include "platform/named_mutex.h"

#include <cerrno>
#include <string>

#include "platform/runtime_folder.h"

namespace platform {

int NamedMutex::create(std::string_view name) {
    lock_.unlock();
    std::string path;
    if (runtime_file(name, ".mutex", path) != 0) return -1;
    if (lock_.lock(path.c_str()) == 0) return 0;
    return errno == EWOULDBLOCK ? 1 : -1;
}

}  // namespace platform
