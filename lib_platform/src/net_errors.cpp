#include "platform/net_errors.h"

namespace platform {

int socket_startup(int major, int minor, int* got_major, int* got_minor) {
    if (got_major != nullptr) *got_major = major;
    if (got_minor != nullptr) *got_minor = minor;
    return 0;
}

}  // namespace platform
