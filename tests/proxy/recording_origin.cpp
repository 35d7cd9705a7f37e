#include "recording_origin.h"

#include <chrono>

namespace proxy_inproc {

namespace {

// Takes one CRLF- or LF-ended line from `buf` at `pos`, reading more as needed.
bool take_line(platform::TcpSocket& s, std::string& buf, size_t& pos, std::string& line) {
    for (;;) {
        size_t nl = buf.find('\n', pos);
        if (nl != std::string::npos) {
            line = buf.substr(pos, nl + 1 - pos);
            pos = nl + 1;
            return true;
        }
        if (s.recv_some(buf, 5000) <= 0) return false;
    }
}

bool take_bytes(platform::TcpSocket& s, std::string& buf, size_t& pos, size_t n, std::string& out) {
    while (buf.size() - pos < n) {
        if (s.recv_some(buf, 5000) <= 0) return false;
    }
    out = buf.substr(pos, n);
    pos += n;
    return true;
}

bool read_chunked(platform::TcpSocket& s, std::string& buf, size_t& pos, std::string& body) {
    for (;;) {
        std::string line;
        if (!take_line(s, buf, pos, line)) return false;
        body += line;
        size_t size = std::stoul(line, nullptr, 16);
        if (size == 0) break;
        std::string data;
        if (!take_bytes(s, buf, pos, size + 2, data)) return false;
        body += data;
    }
    for (;;) {  // trailer up to the empty line
        std::string line;
        if (!take_line(s, buf, pos, line)) return false;
        body += line;
        if (line == "\r\n" || line == "\n") return true;
    }
}

}  // namespace

RecordingOrigin::RecordingOrigin(std::string reply, int after_ms)
    : reply_(std::move(reply)), after_ms_(after_ms) {
    server_ = std::make_unique<proxy_test::ScriptedServer>([this](platform::TcpSocket& s) {
        std::string buf;
        if (s.recv_until(buf, "\r\n\r\n", 10000) != 1) return;
        ReceivedRequest r;
        size_t end = buf.find("\r\n\r\n") + 4;
        r.head = buf.substr(0, end);
        size_t pos = end;
        bool framed = true;
        try {
            std::string te = proxy_test::header_value(r.head, "Transfer-Encoding");
            std::string cl = proxy_test::header_value(r.head, "Content-Length");
            if (te.find("chunked") != std::string::npos)
                framed = read_chunked(s, buf, pos, r.body);
            else if (!cl.empty())
                framed = take_bytes(s, buf, pos, std::stoul(cl), r.body);
        } catch (...) {
            framed = false;
        }
        if (framed) {
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(after_ms_);
            while (std::chrono::steady_clock::now() < until && s.recv_some(buf, after_ms_) > 0) {
            }
        }
        // A body cut short by a close is no request of its own: its bytes
        // stay with the body.
        std::string rest = buf.substr(pos < buf.size() ? pos : buf.size());
        if (framed)
            r.after = rest;
        else
            r.body += rest;
        {
            std::lock_guard<std::mutex> lock(mu_);
            got_.push_back(r);
        }
        if (framed) s.send_all(reply_);
    });
}

std::vector<ReceivedRequest> RecordingOrigin::requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return got_;
}

}  // namespace proxy_inproc
