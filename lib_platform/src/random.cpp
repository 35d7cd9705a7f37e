#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

int random_fill(void* buf, std::size_t len) {
    auto* p = static_cast<unsigned char*>(buf);
    while (len > 0) {
        ssize_t n = ::getrandom(p, len, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::uint32_t random_u32() {
    std::uint32_t v = 0;
    if (random_fill(&v, sizeof(v)) != 0) std::abort();
    return v;
}

}  // namespace platform
