#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/debug_help.h"
#include "platform/sigsafe.h"

namespace platform {

int debug_stack_walk_prepare();  // debug_stack_walk.cpp

namespace {

struct Request {
    std::uint32_t count;
    std::uint64_t pc[DEBUG_FRAMES_MAX];
};

int g_socket = -1;  // the crash handler's end
Request g_request;

bool recv_all(int fd, void* buf, std::size_t len, std::int64_t deadline) {
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        if (deadline >= 0) {
            std::int64_t left = deadline - safe_now_ms();
            if (left <= 0) return false;
            struct pollfd pfd = {fd, POLLIN, 0};
            int r = ::poll(&pfd, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
        }
        ssize_t got = ::recv(fd, p, len, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        len -= static_cast<std::size_t>(got);
    }
    return true;
}

bool send_all(int fd, const void* buf, std::size_t len) {
    const char* p = static_cast<const char*>(buf);
    while (len > 0) {
        ssize_t w = ::send(fd, p, len, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return true;
}

void copy_cut(char* dst, std::size_t cap, const char* src) {
    std::size_t n = std::strlen(src);
    if (n >= cap) n = cap - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// In the helper: one frame's symbol and line. Return addresses are looked up
// one byte earlier, inside the call that they follow.
void lookup(Dwfl* dwfl, std::uint64_t pc, bool is_return, FrameSymbol& out) {
    out = FrameSymbol{};
    Dwarf_Addr at = is_return ? pc - 1 : pc;
    Dwfl_Module* mod = dwfl_addrmodule(dwfl, at);
    if (mod == nullptr) return;
    GElf_Off offset = 0;
    GElf_Sym sym;
    if (const char* name =
            dwfl_module_addrinfo(mod, at, &offset, &sym, nullptr, nullptr, nullptr)) {
        int status = -1;
        char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        copy_cut(out.name, sizeof(out.name), status == 0 && plain != nullptr ? plain : name);
        std::free(plain);
        out.has_name = true;
        out.displacement = offset + (pc - at);
    }
    if (Dwfl_Line* line = dwfl_module_getsrc(mod, at)) {
        int lineno = 0;
        if (const char* file = dwfl_lineinfo(line, nullptr, &lineno, nullptr, nullptr, nullptr)) {
            copy_cut(out.file, sizeof(out.file), file);
            out.line = lineno;
            out.has_line = true;
        }
    }
}

[[noreturn]] void helper_main(int fd, pid_t program) {
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo,
                                             nullptr, nullptr};
    for (;;) {
        Request req;
        if (!recv_all(fd, &req, sizeof(req), -1)) ::_exit(0);
        if (req.count > DEBUG_FRAMES_MAX) req.count = DEBUG_FRAMES_MAX;
        Dwfl* dwfl = dwfl_begin(&callbacks);
        if (dwfl != nullptr) {
            dwfl_report_begin(dwfl);
            dwfl_linux_proc_report(dwfl, program);
            dwfl_report_end(dwfl, nullptr, nullptr);
        }
        for (std::uint32_t i = 0; i < req.count; i++) {
            FrameSymbol sym;
            if (dwfl != nullptr) lookup(dwfl, req.pc[i], i > 0, sym);
            if (!send_all(fd, &sym, sizeof(sym))) ::_exit(0);
        }
        if (dwfl != nullptr) dwfl_end(dwfl);
    }
}

int start_helper() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
    pid_t program = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        ::close(fds[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != program) ::_exit(0);
        ::prctl(PR_SET_NAME, "crash-symbols");
        helper_main(fds[1], program);
    }
    ::close(fds[1]);
    g_socket = fds[0];
    return 0;
}

}  // namespace

int debug_help_prepare() {
    int walk = debug_stack_walk_prepare();
    int help = g_socket >= 0 ? 0 : start_helper();
    return walk == 0 || help == 0 ? 0 : -1;
}

int debug_symbolize(const StackFrame* frames, int count, FrameSymbol* out, int timeout_ms) {
    if (g_socket < 0 || count <= 0) return -1;
    if (count > DEBUG_FRAMES_MAX) count = DEBUG_FRAMES_MAX;
    g_request.count = static_cast<std::uint32_t>(count);
    for (int i = 0; i < count; i++) g_request.pc[i] = frames[i].pc;
    if (!send_all(g_socket, &g_request, sizeof(g_request))) return -1;
    std::int64_t deadline = safe_now_ms() + timeout_ms;
    for (int i = 0; i < count; i++) {
        if (!recv_all(g_socket, &out[i], sizeof(out[i]), deadline)) {
            for (int k = 0; k < count; k++) out[k] = FrameSymbol{};
            return -1;
        }
    }
    return 0;
}

}  // namespace platform
