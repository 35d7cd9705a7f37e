#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace platform {

namespace {

int decode_status(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return -1;
}

void redirect(int fd, const std::string& path) {
    int to = path.empty() ? open("/dev/null", O_WRONLY)
                          : open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (to >= 0) {
        dup2(to, fd);
        close(to);
    }
}

}  // namespace

ChildProcess::~ChildProcess() { stop(); }

int ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& opts) {
    if (pid_ > 0 || argv.empty()) return -1;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) {
            dup2(in, 0);
            close(in);
        }
        redirect(1, opts.stdout_path);
        redirect(2, opts.stderr_path);
        for (const auto& kv : opts.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0) _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    status_ = -1;
    return 0;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int st = 0;
    int r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = decode_status(st);
        pid_ = -1;
        return false;
    }
    return r == 0;
}

int ChildProcess::wait(int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (running()) {
        if (std::chrono::steady_clock::now() >= until) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

int ChildProcess::stop(int grace_ms) {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    if (wait(grace_ms) >= 0 || pid_ <= 0) return status_;
    kill(pid_, SIGKILL);
    int st = 0;
    if (waitpid(pid_, &st, 0) == pid_) status_ = decode_status(st);
    pid_ = -1;
    return status_;
}

int run_program(const std::vector<std::string>& argv, std::string& output, int timeout_ms,
                const ChildOptions& opts) {
    char tmpl[] = "/tmp/tarvo_run_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return -1;
    close(fd);
    ChildOptions o = opts;
    o.stdout_path = tmpl;
    ChildProcess child;
    int status = -1;
    if (child.start(argv, o) == 0) {
        status = child.wait(timeout_ms);
        if (status < 0) child.stop(0);
    }
    std::ifstream in(tmpl, std::ios::binary);
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(tmpl);
    return status;
}

long process_rss_kb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace platform
