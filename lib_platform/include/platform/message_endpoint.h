// Window messages from other programs: the twin of posting a message number
// to a program's window.
//
// A window that accepts messages from outside is an endpoint named after it
// (say "TQlProxyMain"): a Unix-domain datagram socket "<name>.msg" in the
// user's runtime folder (runtime_folder.h). A message is one datagram holding
// the message number as decimal ASCII text, such as "1025" for WM_USER+1;
// anything else received is dropped. Any program of the user may post, for
// instance `message_post("TQlProxyMain", 1025)`, or from a shell
// `socat - UNIX-SENDTO:$XDG_RUNTIME_DIR/tarvo/TQlProxyMain.msg <<<1025`.
//
// One endpoint per name: a second open() of a live name is refused
// (EADDRINUSE); the socket file of an endpoint whose program died is
// replaced. The endpoint removes its file when closed or destroyed.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr int WM_USER_BASE = 1024;  // WM_USER

class MessageEndpoint {
  public:
    MessageEndpoint() = default;
    ~MessageEndpoint();
    MessageEndpoint(const MessageEndpoint&) = delete;
    MessageEndpoint& operator=(const MessageEndpoint&) = delete;

    // 0, or -1 with errno.
    int open(std::string_view name);
    void close();
    bool is_open() const { return fd_ >= 0; }

    // Waits up to `wait_ms` (-1: without limit) for one message. 1 with its
    // number in `*message`, 0 when none came, -1 on failure.
    int receive(int* message, int wait_ms);

  private:
    int fd_ = -1;
    std::string path_;
};

// Posts `message` to the endpoint `name`. 0, or -1 (ENOENT or ECONNREFUSED
// when nobody listens there).
int message_post(std::string_view name, int message);

}  // namespace platform
