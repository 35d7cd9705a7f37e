// The named-pipe channel: a pair of one-way byte pipes between two programs of
// this user, one end the server (creates the pair), the other the client
// (opens the existing pair).
//
// Names. A channel is named the Windows way, "\\.\PIPE\NAME" ("PIPE" in any
// letter case). It stands for the two pipes "NAME_in" (client to server) and
// "NAME_out" (server to client). Each pipe is a Unix-domain stream socket of
// that name in the runtime folder (runtime_folder.h). Only the local machine
// serves: any host other than "." is refused as an open error (EHOSTUNREACH),
// and so is a name that is not of that form or too long for a socket
// (EINVAL, ENAMETOOLONG).
//
// Roles. The server creates both sockets; a second server of the same name is
// refused (EADDRINUSE) while the first lives, and the sockets of one that died
// are replaced. The client opens both; a name nobody serves fails (ENOENT, or
// ECONNREFUSED for the remains of a dead server). There is one instance of
// each pipe: while a client holds the pair a second client is refused
// (EBUSY), in this process or any other. When the client has gone the server
// takes the next client that opens the pair, on the same sockets: a client
// restarting reaches the running server again without the server reopening.
//
// Messages. The pipes carry bytes, like a byte-mode pipe. A message is one
// send of at most PIPE_MESSAGE_MAX bytes, its NUL counted; a longer send is
// written whole, and the reader gets it in pieces. A read returns what has
// arrived, at most PIPE_MESSAGE_MAX bytes, so two messages sent before one
// read may come back as one buffer.
//
// Failures. A read or send fails (-1) with ENOTCONN on a server that has no
// client yet, and with EPIPE once the peer has gone: a gone peer is never an
// endless run of empty reads. After EPIPE the server waits for the next
// client; the client must open the pair again.
//
// Threads. One thread reads; any threads may send (sends are serialised, so
// messages never interleave). open() and close() may run on the reader's
// thread while another thread sends: that send then fails like a send to a
// gone peer, and never uses a closed descriptor. The object owns its
// descriptors and closes them when destroyed.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/file_lock.h"

namespace platform {

constexpr std::size_t PIPE_MESSAGE_MAX = 1024;

enum class PipeRole { server, client };

// Which pipe of this end an open() failed on.
enum class PipeSide { none, read_pipe, write_pipe };

class PipeChannel {
  public:
    PipeChannel() = default;
    ~PipeChannel();
    PipeChannel(const PipeChannel&) = delete;
    PipeChannel& operator=(const PipeChannel&) = delete;

    // Closes what is open, then creates (server) or opens (client) the pair of
    // `name`: first the pipe this end reads (server: NAME_in, client:
    // NAME_out), then the one it writes. 0, or -1 with errno set and
    // failed_side() telling which pipe failed; nothing stays open then.
    int open(PipeRole role, std::string_view name);
    void close();
    bool is_open() const;
    PipeSide failed_side() const { return failed_; }

    // Reads what has arrived, at most min(cap, PIPE_MESSAGE_MAX) bytes,
    // waiting up to `wait_ms` (-1: without limit). The byte count; 0 when the
    // wait ended with nothing (the peer is still there); -1 on failure (see
    // above). Only one thread reads.
    long read(void* buf, std::size_t cap, int wait_ms = -1);

    // Writes all `len` bytes to the pipe this end writes. 0, or -1.
    int send(const void* data, std::size_t len);

  private:
    void drop_peer();
    int accept_pending(int listener, int& conn);

    PipeRole role_ = PipeRole::client;
    PipeSide failed_ = PipeSide::none;
    std::string in_path_, out_path_;                // server: socket files it created
    FileLock owner_;                                // server: the name; client: the one instance
    int read_listener_ = -1, write_listener_ = -1;  // server only
    int read_fd_ = -1;
    mutable std::mutex write_mu_;  // guards write_fd_ and write_listener_'s accept
    int write_fd_ = -1;
    std::atomic<bool> closing_{false};
};

// The socket files of channel `name` ("" each when the name is not valid):
// for tests and diagnostics.
int pipe_channel_paths(std::string_view name, std::string& in_path, std::string& out_path);

}  // namespace platform
