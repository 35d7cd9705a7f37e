// Programs started from a whole command line, supervised children, and other
// processes found by name.
//
// Command lines are text, built the Windows way (each argument in double
// quotes, joined by blanks), so a started program sees its arguments split by
// the Windows command-line rules (command_line_split). The program named by
// the first argument is looked for as the Windows launcher does: a name with a
// "/" is used as it is; a bare name is looked for in the running program's
// folder, then in the current folder, then along PATH.
//
// Started programs inherit no descriptors but standard input, output and
// error, which are all "/dev/null": a started program has no console.
//
// Lifecycle: a Process owns its child until the child has been waited for.
// Dropping a Process never ends the child (as closing a Windows process
// handle does not); it only reaps a child that has already ended. A detached
// program is nobody's child: it runs in a session of its own and outlives its
// starter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Exit code reported for a child ended by signal `sig`: 128 + sig, which is
// never 100 (the supervisor's "do not restart me" code).
constexpr int PROCESS_SIGNAL_EXIT_BASE = 128;

// Splits a command line into arguments by the Windows rules: blanks and tabs
// separate arguments; a double quote toggles quoting; inside quotes two double
// quotes give one; 2n backslashes before a double quote give n backslashes and
// the quote acts, 2n+1 give n backslashes and a literal quote; other
// backslashes are literal. The first argument (the program) ends at the first
// blank outside quotes and has no backslash escapes.
std::vector<std::string> command_line_split(std::string_view line);

// Where a program named `name` would be started from (see above), or "" when
// it is not found or not executable.
std::string program_locate(const std::string& name);

class Process {
  public:
    Process() = default;
    ~Process();
    Process(Process&& o) noexcept;
    Process& operator=(Process&& o) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts the program of `command_line`, hidden. 0, or -1 (errno: ENOENT
    // when the program is not found, EBUSY when this object still holds a
    // child not waited for, else the reason exec or fork gave).
    int start_hidden(std::string_view command_line);

    // Waits without limit for the child to end and reports its exit code
    // (PROCESS_SIGNAL_EXIT_BASE + signal when a signal ended it). 0, or -1 when
    // no child is held or the wait failed.
    int wait(int* exit_code);

    // Ends the child for sure (SIGKILL) and reaps it. A child already waited
    // for is left alone and counts as success. 0, or -1.
    int terminate();

    // Process id, or -1 when nothing is held.
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
};

// Starts the program of `command_line` detached: in a new session, not a
// child of the caller. 0 with its process id in `*pid` (when given), or -1.
int process_create_detached(std::string_view command_line, int* pid);

// Whether a process with id `pid` exists and may be signalled by the caller
// (the "open with full access" of Windows).
bool process_can_open(int pid);

// Ends process `pid` for sure (SIGKILL); its exit code cannot be chosen. 0, or
// -1 (errno: ESRCH when there is no such process, EPERM when not allowed).
int process_terminate(int pid);

struct ProcessEntry {
    int pid = 0;
    std::string exe_name;  // file-name part of the executable path
    std::string exe_path;  // the whole executable path, "" when unreadable
};

// The processes running now. The name of a process whose executable path
// cannot be read (another user's, a kernel thread) is its kernel command
// name. 0, or -1 when the list cannot be read.
int process_list(std::vector<ProcessEntry>& out);

// Runs `argv` (argv[0] located as above) to its end with no console and
// reports its exit code. 0, or -1 when it could not be started or waited for.
int process_run_wait(const std::vector<std::string>& argv, int* exit_code);

}  // namespace platform
