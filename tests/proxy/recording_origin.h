// An origin server on a raw loopback socket that records the exact bytes it
// receives, request by request, as it frames them itself: the head, the body
// by Content-Length or chunked (kept raw), and whatever follows the body on
// the same connection within a short wait. Bytes after a request are what a
// proxy smuggled past its own reading.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../e2e/proxy/harness.h"

namespace proxy_inproc {

struct ReceivedRequest {
    std::string head;   // up to and including the blank line
    std::string body;   // as framed by the head, chunk framing included
    std::string after;  // bytes that followed the body on the connection
};

class RecordingOrigin {
  public:
    // Answers every request with `reply`; holds each connection for
    // `after_ms` after the body to see what follows it.
    explicit RecordingOrigin(std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                             int after_ms = 150);
    int port() const { return server_->port(); }
    int accepted() const { return server_->accepted(); }
    std::vector<ReceivedRequest> requests();

  private:
    std::mutex mu_;
    std::vector<ReceivedRequest> got_;
    std::string reply_;
    int after_ms_;
    std::unique_ptr<proxy_test::ScriptedServer> server_;
};

}  // namespace proxy_inproc
