#include "platform/process.h"

#include "platform/self.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace platform {

// ---------------------------------------------------------------------------
// Command lines

std::vector<std::string> command_line_split(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };

    while (i < n && blank(line[i])) i++;
    if (i >= n) return args;

    // The program: quotes only group, backslashes are plain characters.
    {
        std::string prog;
        bool quoted = false;
        for (; i < n; i++) {
            char c = line[i];
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && blank(c)) break;
            prog += c;
        }
        args.push_back(prog);
    }

    for (;;) {
        while (i < n && blank(line[i])) i++;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = line[i];
            if (c == '\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    slashes++;
                    i++;
                }
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg += '"';
                        i++;
                    }
                    // An even run leaves the quote to act below.
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                i++;
                continue;
            }
            if (!quoted && blank(c)) break;
            arg += c;
            i++;
        }
        args.push_back(arg);
    }
    return args;
}

static bool is_executable_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string program_locate(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return is_executable_file(name) ? name : std::string();

    std::string candidate = program_folder() + name;
    if (is_executable_file(candidate)) return candidate;
    candidate = "./" + name;
    if (is_executable_file(candidate)) return candidate;

    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!dirs.empty()) {
        std::size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
        if (is_executable_file(candidate)) return candidate;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Starting programs
//
// Everything the new process needs is prepared before fork(): between fork()
// and exec() a child of a threaded parent may only make async-signal-safe
// calls.

namespace {

struct LaunchPlan {
    std::string path;
    std::vector<std::string> args;
    std::vector<char*> argv;

    int prepare(const std::vector<std::string>& a) {
        if (a.empty() || a[0].empty()) {
            errno = ENOENT;
            return -1;
        }
        path = program_locate(a[0]);
        if (path.empty()) {
            errno = ENOENT;
            return -1;
        }
        args = a;
        argv.clear();
        for (auto& s : args) argv.push_back(s.data());
        argv.push_back(nullptr);
        return 0;
    }
};

// In the new process: no console, no inherited descriptors but 0, 1, 2 and
// `keep` (closed by exec itself).
void child_setup(int devnull, int keep) {
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
#ifdef SYS_close_range
    constexpr unsigned CLOSE_RANGE_CLOEXEC_FLAG = 1u << 2;
    if (::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC_FLAG) == 0) return;
#endif
    long max = ::sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 3; fd < max; fd++) {
        if (fd != keep) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

// Reports exec's failure to the parent through the close-on-exec pipe.
[[noreturn]] void child_exec(const LaunchPlan& plan, int err_fd) {
    // Dispositions the starter chose for itself (ignored interrupts, ignored
    // termination) are not the started program's business.
    for (int sig = 1; sig < NSIG; sig++) {
        if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(plan.path.c_str(), plan.argv.data());
    int e = errno;
    ssize_t w = ::write(err_fd, &e, sizeof(e));
    (void)w;
    ::_exit(127);
}

long read_full(int fd, void* buf, std::size_t len) {
    std::size_t got = 0;
    while (got < len) {
        ssize_t r = ::read(fd, static_cast<char*>(buf) + got, len - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<long>(got);
}

// The child's /dev/null and the close-on-exec pipe on which it reports a
// failed exec. 0, or -1 with errno and nothing left open.
int open_launch_fds(int* devnull, int pipefd[2]) {
    *devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (*devnull < 0) return -1;
    if (::pipe2(pipefd, O_CLOEXEC) != 0) {
        int e = errno;
        ::close(*devnull);
        errno = e;
        return -1;
    }
    return 0;
}

// In the parent after the fork: the child's ends are dropped. When the fork
// failed the read end goes too, and -1 comes back with the fork's errno.
int close_child_fds(pid_t pid, int devnull, int pipefd[2]) {
    int fork_errno = errno;
    ::close(pipefd[1]);
    ::close(devnull);
    if (pid < 0) {
        ::close(pipefd[0]);
        errno = fork_errno;
        return -1;
    }
    return 0;
}

int wait_pid(int pid, int* exit_code) {
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, 0);
        if (r == pid) break;
        if (r < 0 && errno == EINTR) continue;
        return -1;
    }
    int code;
    if (WIFEXITED(status))
        code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        code = PROCESS_SIGNAL_EXIT_BASE + WTERMSIG(status);
    else
        code = PROCESS_SIGNAL_EXIT_BASE;
    if (exit_code) *exit_code = code;
    return 0;
}

// Starts `plan` as a direct child. Its pid, or -1.
int spawn_child(const LaunchPlan& plan) {
    int devnull;
    int pipefd[2];
    if (open_launch_fds(&devnull, pipefd) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipefd[0]);
        child_setup(devnull, pipefd[1]);
        child_exec(plan, pipefd[1]);
    }
    if (close_child_fds(pid, devnull, pipefd) != 0) return -1;
    int exec_errno = 0;
    long got = read_full(pipefd[0], &exec_errno, sizeof(exec_errno));
    ::close(pipefd[0]);
    if (got == static_cast<long>(sizeof(exec_errno))) {
        wait_pid(pid, nullptr);
        errno = exec_errno;
        return -1;
    }
    return pid;
}

}  // namespace

Process::~Process() {
    if (pid_ > 0) {
        int status;
        ::waitpid(pid_, &status, WNOHANG);
    }
}

Process::Process(Process&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }

Process& Process::operator=(Process&& o) noexcept {
    if (this != &o) {
        if (pid_ > 0) {
            int status;
            ::waitpid(pid_, &status, WNOHANG);
        }
        pid_ = o.pid_;
        o.pid_ = -1;
    }
    return *this;
}

int Process::start_hidden(std::string_view command_line) {
    if (pid_ > 0) {
        errno = EBUSY;
        return -1;
    }
    LaunchPlan plan;
    if (plan.prepare(command_line_split(command_line)) != 0) return -1;
    int pid = spawn_child(plan);
    if (pid < 0) return -1;
    pid_ = pid;
    return 0;
}

int Process::wait(int* exit_code) {
    if (pid_ <= 0) {
        errno = ECHILD;
        return -1;
    }
    if (wait_pid(pid_, exit_code) != 0) return -1;
    // Reaped: the id may now belong to someone else, so it is forgotten.
    pid_ = -1;
    return 0;
}

int Process::terminate() {
    if (pid_ <= 0) return 0;
    if (::kill(pid_, SIGKILL) != 0 && errno != ESRCH) return -1;
    wait_pid(pid_, nullptr);
    pid_ = -1;
    return 0;
}

int process_create_detached(std::string_view command_line, int* pid_out) {
    LaunchPlan plan;
    if (plan.prepare(command_line_split(command_line)) != 0) return -1;
    int devnull;
    int pipefd[2];
    if (open_launch_fds(&devnull, pipefd) != 0) return -1;

    // The middle process starts a session, forks the program and ends at once,
    // so the program is adopted by init and never becomes our zombie. It tells
    // us the program's id; the program itself tells us only when exec failed.
    pid_t middle = ::fork();
    if (middle == 0) {
        ::close(pipefd[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            child_setup(devnull, pipefd[1]);
            child_exec(plan, pipefd[1]);
        }
        int id = grandchild > 0 ? static_cast<int>(grandchild) : -1;
        ssize_t w = ::write(pipefd[1], &id, sizeof(id));
        (void)w;
        ::_exit(grandchild > 0 ? 0 : 1);
    }
    if (close_child_fds(middle, devnull, pipefd) != 0) return -1;
    wait_pid(middle, nullptr);

    int id = -1;
    int exec_errno = 0;
    long got = read_full(pipefd[0], &id, sizeof(id));
    long got_err = got == static_cast<long>(sizeof(id))
                       ? read_full(pipefd[0], &exec_errno, sizeof(exec_errno))
                       : 0;
    ::close(pipefd[0]);
    if (got != static_cast<long>(sizeof(id)) || id <= 0) {
        errno = EAGAIN;
        return -1;
    }
    if (got_err == static_cast<long>(sizeof(exec_errno))) {
        errno = exec_errno;
        return -1;
    }
    if (pid_out) *pid_out = id;
    return 0;
}

bool process_can_open(int pid) { return pid > 0 && ::kill(pid, 0) == 0; }

int process_terminate(int pid) {
    if (pid <= 0) {
        errno = ESRCH;
        return -1;
    }
    return ::kill(pid, SIGKILL) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Process list

static std::string file_name_part(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int process_list(std::vector<ProcessEntry>& out) {
    out.clear();
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return -1;
    while (struct dirent* de = ::readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(de->d_name, &end, 10);
        if (end == de->d_name || *end != '\0' || pid <= 0) continue;
        ProcessEntry e;
        e.pid = static_cast<int>(pid);
        std::string base = std::string("/proc/") + de->d_name;
        char buf[PATH_MAX];
        ssize_t n = ::readlink((base + "/exe").c_str(), buf, sizeof(buf) - 1);
        if (n > 0) {
            e.exe_path.assign(buf, static_cast<std::size_t>(n));
            // A replaced or removed executable keeps running under its old name.
            static const std::string deleted = " (deleted)";
            if (e.exe_path.size() > deleted.size() &&
                e.exe_path.compare(e.exe_path.size() - deleted.size(), deleted.size(), deleted) ==
                    0)
                e.exe_path.resize(e.exe_path.size() - deleted.size());
            e.exe_name = file_name_part(e.exe_path);
        } else {
            std::ifstream comm(base + "/comm");
            if (!comm || !std::getline(comm, e.exe_name)) continue;  // gone meanwhile
        }
        out.push_back(std::move(e));
    }
    ::closedir(dir);
    return 0;
}

int process_run_wait(const std::vector<std::string>& argv, int* exit_code) {
    LaunchPlan plan;
    if (plan.prepare(argv) != 0) return -1;
    int pid = spawn_child(plan);
    if (pid < 0) return -1;
    return wait_pid(pid, exit_code);
}

}  // namespace platform
