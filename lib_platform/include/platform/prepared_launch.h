// Starting a program from a signal handler: the hidden, detached launch that
// a crashing process uses to start its uploader.
//
// Everything that allocates (the spawn attributes and the "/dev/null" file
// actions) is made by prepare(); launch() only calls posix_spawn. The started
// program runs in a session of its own with no console (its standard streams
// are "/dev/null"), every signal at its default and none blocked (the crash
// handler's blocked signals are not inherited), so it outlives the crashing
// starter.
//
// Lifecycle: prepare once at start-up; launch from anywhere afterwards. The
// object is kept for the process's life.
#pragma once

#include <spawn.h>

namespace platform {

class PreparedLaunch {
  public:
    // 0, or -1 when the attributes cannot be made.
    int prepare();
    // Starts `path` with `argv` (null-terminated) and this environment. Its
    // process id, or -1.
    int launch(const char* path, char* const argv[]);

  private:
    bool ready_ = false;
    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
};

}  // namespace platform
