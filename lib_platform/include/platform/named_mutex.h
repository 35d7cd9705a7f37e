// A named mutex: the "only one instance" guard of a desktop program.
//
// The twin of a Windows named mutex is a lock file "<name>.mutex" in the
// user's runtime folder (runtime_folder.h), so the name is shared by every
// program of this user and by nobody else. The lock goes with its holder:
// released when the object is destroyed, and by the system when the holder
// dies, so a crashed instance never blocks the next one.
#pragma once

#include <string_view>

#include "platform/file_lock.h"

namespace platform {

class NamedMutex {
  public:
    // 0 when this object now holds `name`; 1 when another holder already had
    // it (the "already exists" answer; nothing is held then); -1 with errno
    // when it could not be made (no runtime folder, a name holding '/').
    int create(std::string_view name);
    void close() { lock_.unlock(); }
    bool held() const { return lock_.held(); }

  private:
    FileLock lock_;
};

}  // namespace platform
