#include "named_pipe.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "acl_msg.h"
#include "platform/self.h"

#define pipe_debug acl_debug(NAMED_PIPE_DEBUG_SECTION, 2)

namespace {

constexpr int kRetryMs = 1000;

void _reset_pipe(NAMED_PIPE* pipe) {
    std::lock_guard<std::mutex> lock(pipe->handles_mu);
    pipe->pipe_in.close();
    pipe->pipe_out.close();
    pipe->pipe_name.clear();
    pipe->host.clear();
    pipe->pipe_path.clear();
}

int _set_pipe_name(NAMED_PIPE* pipe, const char* host, const char* pipe_name) {
    if (pipe_name == nullptr) acl_msg_fatal("%s(%d): pipe name is null!", __func__, __LINE__);
    pipe->host = host != nullptr ? host : ".";
    pipe->pipe_name = pipe_name;
    pipe->pipe_path = "\\\\" + pipe->host + "\\PIPE\\" + pipe->pipe_name;
    return 0;
}

std::string full_name(const NAMED_PIPE* pipe, const char* suffix) {
    std::string name = pipe->pipe_path + suffix;
    if (name.size() >= NAMED_PIPE_NAME_MAX)
        acl_msg_fatal("%s(%d): pipe name size is not enough!", __func__, __LINE__);
    return name;
}

}  // namespace

NAMED_PIPE* named_pipe_create(void) {
    auto* pipe = new (std::nothrow) NAMED_PIPE;
    if (pipe == nullptr) acl_msg_error("%s(%d): acl_mycalloc failed!", __func__, __LINE__);
    return pipe;
}

void named_pipe_free(NAMED_PIPE* pipe) { delete pipe; }

int _pipe_initial(NAMED_PIPE* pipe, bool is_server, const char* host, const char* pipe_name,
                  const char* cmd_stop) {
    _reset_pipe(pipe);
    if (_set_pipe_name(pipe, host, pipe_name) != 0) {
        acl_msg_error("%s(%d): set pipe name error!", __func__, __LINE__);
        return -1;
    }
    pipe->is_server = is_server;
    pipe->cmd_stop = cmd_stop != nullptr ? cmd_stop : "";
    const std::string in_name = full_name(pipe, "_in");
    const std::string out_name = full_name(pipe, "_out");

    platform::NamedPipe reads, writes;
    if (is_server) {
        if (reads.create(in_name, platform::PipeAccess::read) != 0) {
            acl_msg_error("%s(%d): CreateNamedPipe pipe_in(%s) error(%s)!", __func__, __LINE__,
                          in_name.c_str(), platform::last_error_text().c_str());
            return -1;
        }
        if (writes.create(out_name, platform::PipeAccess::write) != 0) {
            acl_msg_error("%s(%d): CreateNamedPipe pipe_out(%s) error(%s)!", __func__, __LINE__,
                          out_name.c_str(), platform::last_error_text().c_str());
            return -1;
        }
    } else {
        if (reads.open(out_name, platform::PipeAccess::read) != 0) {
            acl_msg_error("%s(%d): CreateFile pipe_in(%s) error(%s)!", __func__, __LINE__,
                          out_name.c_str(), platform::last_error_text().c_str());
            return -1;
        }
        acl_msg_info("%s(%d): connect to pipe_in(%s) success!", __func__, __LINE__,
                     out_name.c_str());
        if (writes.open(in_name, platform::PipeAccess::write) != 0) {
            acl_msg_error("%s(%d): CreateFile pipe_out(%s) error(%s)!", __func__, __LINE__,
                          in_name.c_str(), platform::last_error_text().c_str());
            return -1;
        }
        acl_msg_info("%s(%d): connect to pipe_out(%s) success!", __func__, __LINE__,
                     in_name.c_str());
    }
    std::lock_guard<std::mutex> lock(pipe->handles_mu);
    pipe->pipe_in = std::move(reads);
    pipe->pipe_out = std::move(writes);
    return 0;
}

int named_pipe_listener_start(NAMED_PIPE* pipe, bool is_server, const char* host,
                              const char* pipe_name, const char* cmd_stop,
                              NAMED_PIPE_ON_DATA on_data, void* arg) {
    if (pipe == nullptr) acl_msg_fatal("%s(%d): pipe is null!", __func__, __LINE__);
    if (_pipe_initial(pipe, is_server, host, pipe_name, cmd_stop) != 0) {
        acl_msg_error("%s(%d): _pipe_initial failed.(%s)", __func__, __LINE__,
                      platform::last_error_text().c_str());
        return -1;
    }
    pipe->on_data_received = on_data;
    pipe->arg = arg;
    pipe->running = true;
    const std::string name = pipe->pipe_name, host_copy = pipe->host, stop = pipe->cmd_stop;
    char buf[NAMED_PIPE_BUF_SIZE + 1];
    while (pipe->running) {
        // Only this thread replaces pipe_in, so it reads without the lock.
        long n = pipe->pipe_in.read(buf, NAMED_PIPE_BUF_SIZE);
        if (n < 0) {
            pipe_debug("%s(%d): ReadFile error(%s)!", __func__, __LINE__,
                       platform::last_error_text().c_str());
            if (!pipe->is_server)
                _pipe_initial(pipe, false, host_copy.c_str(), name.c_str(), stop.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
            continue;
        }
        buf[n] = '\0';  // a message of exactly 1,024 bytes without its NUL is cut here
        if (std::strcmp(buf, pipe->cmd_stop.c_str()) == 0) pipe->running = false;
        if (pipe->on_data_received == nullptr)
            acl_msg_fatal("%s(%d): on_data_received is null!", __func__, __LINE__);
        if (pipe->on_data_received(pipe, buf, static_cast<int>(n), pipe->arg) < 0) {
            acl_msg_error("%s(%d): pipe data received callback error error(%s)", __func__, __LINE__,
                          platform::last_error_text().c_str());
            return -1;
        }
        std::this_thread::yield();
    }
    return 0;
}

int named_pipe_send(NAMED_PIPE* pipe, const char* data, int len) {
    if (pipe == nullptr) acl_msg_fatal("%s(%d): pipe is null!", __func__, __LINE__);
    std::lock_guard<std::mutex> lock(pipe->handles_mu);
    if (len < 0 || pipe->pipe_out.write(data, static_cast<std::size_t>(len)) != len) {
        pipe_debug("%s(%d): WriteFile to named pipe error(%s)", __func__, __LINE__,
                   platform::last_error_text().c_str());
        return -1;
    }
    return 0;
}

void named_pipe_stop(NAMED_PIPE* pipe) { pipe->running = false; }
