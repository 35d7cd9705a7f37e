// Named pipes: the Linux twin of the Windows byte-mode pipes that tarvoproxy
// and the desktop program talk through.
//
// A pipe path "\\HOST\PIPE\NAME" ("PIPE" in any letter case) names a FIFO
// called NAME in the user's private pipe folder: $XDG_RUNTIME_DIR/tarvo/,
// else a folder under the temporary folder named after the user id
// (/tmp/tarvo-UID/). The folder is created with mode 0700 and must belong to
// the user with no rights for anyone else; otherwise every call fails with
// EACCES. Only the host "." (this machine) exists: any other host fails with
// EHOSTUNREACH.
//
// A pipe carries bytes one way. The server side creates it (replacing a stale
// FIFO of a server that has gone) and opens the end of its direction; the
// client side opens the other end of an existing pipe. One instance each: a
// second server or a second client of the same pipe is refused (EBUSY). A
// client that opens the writing end while no server reads fails (ENXIO), as
// does one that finds no pipe at all (ENOENT).
//
// Messages: a write of at most PIPE_MESSAGE_MAX bytes is one atomic write (no
// other writer's bytes come between); a read returns what has arrived, at
// most the size asked for, so two messages may come in one read and a longer
// one in several. A read blocks until bytes arrive. When no writer holds the
// other end any more (the peer has gone, or has not come yet) the read fails
// with EPIPE instead of returning an empty read, so a reader never spins.
// The server keeps its writing pipe open for reading as well, so its client
// never sees an empty pipe as a gone server while the server lives.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

constexpr std::size_t PIPE_MESSAGE_MAX = 1024;

enum class PipeAccess { read, write };

// The FIFO path for a pipe path, creating the private folder. 0, or -1.
int pipe_fifo_path(const std::string& pipe_path, std::string& out);

class NamedPipe {
  public:
    NamedPipe() = default;
    ~NamedPipe() { close(); }
    NamedPipe(NamedPipe&& o) noexcept;
    NamedPipe& operator=(NamedPipe&& o) noexcept;
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    // Server: creates the pipe and opens its end: `read` for an inbound pipe,
    // `write` for an outbound one. 0, or -1 with errno.
    int create(const std::string& pipe_path, PipeAccess access);
    // Client: opens the other end of an existing pipe. 0, or -1 with errno.
    int open(const std::string& pipe_path, PipeAccess access);

    bool valid() const { return fd_ >= 0; }

    // See the header comment. The byte count (> 0), or -1 with errno.
    long read(void* buf, std::size_t len);
    // Writes all of `len` bytes in one write. `len` itself, or -1 (EPIPE when
    // nobody reads, EMSGSIZE above PIPE_MESSAGE_MAX).
    long write(const void* buf, std::size_t len);

    // 1 when a read would not block (bytes, or a gone writer), 0 after
    // `timeout_ms`, -1 on a failed wait.
    int wait_readable(int timeout_ms) const;

    void close();

  private:
    int fd_ = -1;
    int lock_fd_ = -1;  // the role's instance lock
    std::string fifo_;
    bool server_ = false;
};

}  // namespace platform
