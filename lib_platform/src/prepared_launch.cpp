#include "platform/prepared_launch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

extern char** environ;

namespace platform {

int PreparedLaunch::prepare() {
    if (ready_) return 0;
    if (posix_spawnattr_init(&attr_) != 0) return -1;
    if (posix_spawn_file_actions_init(&actions_) != 0) {
        posix_spawnattr_destroy(&attr_);
        return -1;
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ok = posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF) == 0 &&
              posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
              posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
              posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
              posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0;
    if (!ok) {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
        return -1;
    }
    ready_ = true;
    return 0;
}

int PreparedLaunch::launch(const char* path, char* const argv[]) {
    if (!ready_) return -1;
    pid_t pid = -1;
    if (posix_spawn(&pid, path, &actions_, &attr_, argv, environ) != 0) return -1;
    return static_cast<int>(pid);
}

}  // namespace platform
