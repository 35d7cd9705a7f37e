// An exclusive lock on a file, taken without waiting: the "only one of me"
// guard of daemons.
//
// The lock belongs to the open file, not to the process: two FileLock objects
// on one path conflict even inside one process, and the lock is never handed
// to started programs (the descriptor is closed on exec). It is released when
// the object is destroyed or unlock() is called, and by the system when the
// holder dies.
#pragma once

#include <string_view>

namespace platform {

class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& o) noexcept;
    FileLock& operator=(FileLock&& o) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens or creates `path` and tries to lock it exclusively. 0 when held;
    // -1 with errno EWOULDBLOCK when another holder has it, any other errno
    // when the file cannot be opened or locked.
    int lock(const char* path);

    // Replaces the locked file's content by `text`. 0, or -1.
    int write_text(std::string_view text);

    void unlock();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace platform
