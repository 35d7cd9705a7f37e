#include "platform/limits.h"

#include <sys/resource.h>

namespace platform {

long raise_open_file_limit() {
    rlimit rl;
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
    if (rl.rlim_cur < rl.rlim_max) {
        rlimit want = rl;
        want.rlim_cur = rl.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &want) == 0) rl = want;
    }
    return rl.rlim_cur == RLIM_INFINITY ? 1L << 30 : static_cast<long>(rl.rlim_cur);
}

}  // namespace platform
