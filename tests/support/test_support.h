// Helpers for tests that run real programs: temporary folders, free loopback
// ports, child processes that are always stopped, and polling with a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarvo_test {

// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A loopback TCP port nothing listens on at the moment of the call.
int free_port();

// A child process; killed (SIGKILL) and reaped when the object goes away.
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts argv[0] with the extra environment variables in `env` (added to the
    // test's own), in folder `cwd` (empty: the test's folder). Standard output
    // and error go to `output` when it is not empty. false when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
               const std::string& cwd = "", const std::string& output = "");
    pid_t pid() const { return pid_; }
    bool running();
    // Sends `sig` and waits for the exit; returns the wait status.
    int stop(int sig);
    // Waits up to `timeout` for the exit; -1 when it still runs.
    int wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a command line with /bin/sh and returns its exit status (-1 when it
// could not run), with standard output in *out when out is not null.
int run(const std::string& command, std::string* out = nullptr);

// Polls `done` every 20 ms until it is true or `timeout` passes.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// Copies a program from the build's program folder into `folder` (a program
// reads its configuration and writes its logs next to itself). Returns its path.
std::string copy_program(const std::string& name, const std::string& folder);

}  // namespace tarvo_test
