// Child processes started and stopped by their parent (test servers, helpers).
//
// A ChildProcess owns the process it started: destroying it ends the child
// (SIGTERM, then SIGKILL after a grace period) and reaps it, so no child
// outlives the object that started it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

struct ChildOptions {
    std::string cwd;                                       // "" keeps the parent's
    std::vector<std::pair<std::string, std::string>> env;  // added to the parent's environment
    std::string stdout_path;                               // "" discards the output
    std::string stderr_path;                               // "" discards the output
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs `argv[0]` (a path) with `argv`. 0, or -1 when it cannot be started.
    int start(const std::vector<std::string>& argv, const ChildOptions& opts = {});

    // Process id, or -1 when nothing runs.
    int pid() const { return pid_; }

    // Whether the child still runs (reaps it when it has ended).
    bool running();

    // Asks the child to end (SIGTERM), waits up to `grace_ms`, then kills it.
    // Returns its exit status (128 + signal when killed), -1 when none ran.
    int stop(int grace_ms = 3000);

    // Waits up to `timeout_ms` for the child to end by itself; its exit status,
    // or -1 when it still runs.
    int wait(int timeout_ms);

  private:
    int pid_ = -1;
    int status_ = -1;
};

// Runs a program to its end and collects its standard output. Returns the exit
// status, or -1 when it could not run or had to be killed after `timeout_ms`.
int run_program(const std::vector<std::string>& argv, std::string& output, int timeout_ms,
                const ChildOptions& opts = {});

// Resident memory of a process in kilobytes, or -1.
long process_rss_kb(int pid);

}  // namespace platform
