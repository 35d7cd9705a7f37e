#include "desktop_side.h"

#include "localres_protocal.h"
#include "p2p_resource.h"
#include "test_support.h"

namespace resource_test {

DesktopSide::DesktopSide() {
    ok_ = _pipe_initial(&pipe_, true, ".", LOCAL_RES_PIPE_NAME, LOCAL_RES_CMD_STOP) == 0;
}

std::string DesktopSide::read(int timeout_ms) {
    if (pipe_.pipe_in.wait_readable(timeout_ms) <= 0) return "";
    char buf[2048];
    long n = pipe_.pipe_in.read(buf, NAMED_PIPE_BUF_SIZE);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

std::string DesktopSide::read_bytes(std::size_t n, int timeout_ms) {
    std::string out;
    tarvo_test::wait_until(
        [&] {
            out += read(50);
            return out.size() >= n;
        },
        std::chrono::milliseconds(timeout_ms));
    return out;
}

int DesktopSide::send(const std::string& bytes) {
    return named_pipe_send(&pipe_, bytes.data(), static_cast<int>(bytes.size()));
}

void DesktopSide::close() {
    pipe_.pipe_in.close();
    pipe_.pipe_out.close();
    ok_ = false;
}

ProxyReader::ProxyReader(DesktopSide* desktop) : desktop_(desktop) {
    g_client.pipe_ready = true;
    thread_ = std::thread([this] {
        result_ = local_res_server_start(g_client.pipe);
        if (result_ != 0) g_client.pipe_ready = false;
        done_ = true;
    });
}

ProxyReader::~ProxyReader() { join(); }

void ProxyReader::join() {
    if (!thread_.joinable()) return;
    // The stop message ends the reader (the parser does not know it).
    tarvo_test::wait_until([&] {
        if (done_) return true;
        if (desktop_ != nullptr && desktop_->ok()) desktop_->send(std::string("STP", 4));
        return done_.load();
    });
    thread_.join();
    g_client.pipe_ready = false;
}

bool proxy_pipe_open() {
    return tarvo_test::wait_until([] {
        std::lock_guard<std::mutex> lock(g_client.pipe->handles_mu);
        return g_client.pipe->pipe_out.valid();
    });
}

}  // namespace resource_test
