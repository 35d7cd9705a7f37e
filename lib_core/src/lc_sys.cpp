#include "lc_sys.h"

#include "platform/net_errors.h"
#include "platform/self.h"
#include "platform/signals.h"
#include "platform/socket.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

int LC_ExtractFileName(const std::string& path, std::string& name) {
    auto sep = path.find_last_of("/\\");
    name = sep == std::string::npos ? path : path.substr(sep + 1);
    if (name.empty()) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

std::string LC_NativePath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::string LC_BuildCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (auto& a : args) {
        if (!a.empty() && a[0] == '"')
            line += a;
        else
            line += "\"" + a + "\"";
        line += ' ';
    }
    return line;
}

int LC_ProcessCreate(const std::string& cmdline, LC_PROCESS& proc) {
    return proc.start_hidden(cmdline);
}

int LC_DetachProcessCreate(const std::string& cmdline) {
    return platform::process_create_detached(cmdline, nullptr);
}

int LC_ProcessWait(LC_PROCESS& proc, int* code) { return proc.wait(code); }

int LC_ProcessTerminate(LC_PROCESS& proc) { return proc.terminate(); }

int LC_ProcessOpen(int pid) { return platform::process_can_open(pid) ? 0 : -1; }

int LC_ProcessKill(int pid) { return platform::process_terminate(pid); }

int LC_FileLockStart(const char* path, LC_FILELOCK& lock) {
    if (lock.lock(path) != 0) return -1;
    if (lock.write_text(std::to_string(platform::process_id())) != 0) {
        int e = errno;
        lock.unlock();
        errno = e;
        return -1;
    }
    return 0;
}

int LC_OverWritePidFile(const char* path, int pid) {
    std::FILE* fp = std::fopen(path, "wb");
    if (fp == nullptr) return -1;
    int ok = std::fprintf(fp, "%d", pid) > 0;
    if (std::fclose(fp) != 0) ok = 0;
    return ok ? 0 : -1;
}

int LC_ReadPidFile(const char* path, int* pid) {
    std::FILE* fp = std::fopen(path, "rb");
    if (fp == nullptr) return -1;
    char buf[64];
    std::size_t n = std::fread(buf, 1, sizeof(buf) - 1, fp);
    std::fclose(fp);
    buf[n] = '\0';

    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0;
    while (b < n && blank(buf[b])) b++;
    std::size_t e = n;
    while (e > b && blank(buf[e - 1])) e--;
    if (b == e || e - b > 9) {
        errno = EINVAL;
        return -1;
    }
    int value = 0;
    for (std::size_t i = b; i < e; i++) {
        if (buf[i] < '0' || buf[i] > '9') {
            errno = EINVAL;
            return -1;
        }
        value = value * 10 + (buf[i] - '0');
    }
    if (value <= 0) {
        errno = EINVAL;
        return -1;
    }
    *pid = value;
    return 0;
}

int LC_DaemonInit2(const char* path) {
    platform::signal_ignore_interrupt();
    std::error_code ec;
    std::filesystem::current_path(path, ec);
    if (ec) {
        errno = ec.value();
        return -1;
    }
    return 0;
}

void LC_Sleep(int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

int LC_GetPid() { return platform::process_id(); }

int LC_SocketStartup() {
    int major = 0, minor = 0;
    return platform::socket_startup(2, 2, &major, &minor);
}

int LC_SocketCreate() { return platform::sock_tcp(); }

int LC_BTcpConnect(int fd, const char* ip, int port) {
    int r;
    do {
        r = platform::sock_connect(fd, ip, port);
    } while (r != 0 && errno == EINTR);
    return r;
}

int LC_BTcpReadWait(int fd, int timeout) {
    for (;;) {
        int r = platform::fd_wait(fd, platform::WAIT_READ, timeout * 1000);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

int LC_BTcpLoopWrite(int fd, const void* data, int len) {
    const char* p = static_cast<const char*>(data);
    int left = len;
    while (left > 0) {
        long n = platform::sock_send(fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        left -= static_cast<int>(n);
    }
    return 0;
}

int LC_SocketClose(int fd) { return platform::sock_close(fd); }

int LC_SocketDestroy() { return 0; }

void LC_SignalIgnoreTerm() { platform::signal_ignore_terminate(); }

void LC_SignalOnTerm(void (*handler)(int)) { platform::signal_on_terminate(handler); }

void LC_SignalIgnoreSegv() { platform::signal_ignore_fault(); }

void LC_ExitNow(int code) { platform::process_exit_now(code); }
