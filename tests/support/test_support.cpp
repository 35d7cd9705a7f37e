#include "test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvo_test {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo_test_XXXXXX").string();
    char* made = ::mkdtemp(tmpl.data());
    if (made == nullptr)
        std::abort();
    path_ = made;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int free_port()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    socklen_t len = sizeof(sa);
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    ::close(fd);
    return port;
}

Child::~Child()
{
    if (pid_ > 0)
        stop(SIGKILL);
}

bool Child::start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                  const std::string& cwd, const std::string& output)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::setpgid(0, 0);  // its own group, so stop() reaches what it starts too
        for (const auto& [k, v] : env)
            ::setenv(k.c_str(), v.c_str(), 1);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        if (!output.empty()) {
            int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
                ::close(fd);
            }
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    pid_ = pid;
    status_ = -1;
    return true;
}

bool Child::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = status;
        pid_ = -1;
        return false;
    }
    return true;
}

int Child::stop(int sig)
{
    if (pid_ > 0) {
        ::kill(-pid_, sig);
        ::kill(pid_, sig);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = status;
        pid_ = -1;
    }
    return status_;
}

int Child::wait(std::chrono::milliseconds timeout)
{
    bool done = wait_until([this] { return !running(); }, timeout);
    return done ? status_ : -1;
}

int run(const std::string& command, std::string* out)
{
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        text.append(buf, n);
    int status = ::pclose(p);
    if (out != nullptr)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string copy_program(const std::string& name, const std::string& folder)
{
    std::filesystem::path from = std::filesystem::path(TARVO_PROGRAM_DIR) / name;
    std::filesystem::path to = std::filesystem::path(folder) / name;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to.string();
}

}  // namespace tarvo_test
