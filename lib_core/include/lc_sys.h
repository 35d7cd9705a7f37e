// LC_: the system services of lib_core, each a thin named wrapper over
// lib_platform. Results: 0 for success, -1 for failure with the reason in
// errno.
#pragma once

#include "platform/file_lock.h"
#include "platform/process.h"

#include <string>
#include <vector>

#define LC_PATH_MAX 260  // characters in a path given on a command line

using LC_PROCESS = platform::Process;    // a started child; see platform/process.h
using LC_FILELOCK = platform::FileLock;  // an exclusive file lock, released with the object

// The file-name part of `path` (after the last "/" or "\"). -1 when there is
// none (empty path, or a path ending with a separator).
int LC_ExtractFileName(const std::string& path, std::string& name);

// "\" separators of a configured path become "/".
std::string LC_NativePath(const std::string& path);

// A command line: each argument in double quotes unless it already starts
// with one, each followed by one blank.
std::string LC_BuildCommandLine(const std::vector<std::string>& args);

// Starts `cmdline` hidden as a child of this process.
int LC_ProcessCreate(const std::string& cmdline, LC_PROCESS& proc);
// Starts `cmdline` detached: it outlives this process.
int LC_DetachProcessCreate(const std::string& cmdline);
// Waits without limit for `proc` to end; its exit code in `*code`.
int LC_ProcessWait(LC_PROCESS& proc, int* code);
// Ends `proc` for sure; a child already waited for is left alone.
int LC_ProcessTerminate(LC_PROCESS& proc);

// Whether process `pid` exists and may be ended by us.
int LC_ProcessOpen(int pid);
// Ends process `pid` for sure.
int LC_ProcessKill(int pid);

// Opens or creates `path` and locks it without waiting; on success the file
// holds this process's id. -1 with errno EWOULDBLOCK when someone else holds it.
int LC_FileLockStart(const char* path, LC_FILELOCK& lock);

// Replaces `path` by `pid` as decimal text.
int LC_OverWritePidFile(const char* path, int pid);
// Reads a process id written as decimal text (surrounding blanks and line ends
// allowed). -1 when the file cannot be read or holds no positive number.
int LC_ReadPidFile(const char* path, int* pid);

// The daemon's surroundings: console interrupts ignored, `path` made the
// current folder.
int LC_DaemonInit2(const char* path);

void LC_Sleep(int seconds);
int LC_GetPid();

// Blocking TCP for the control connection.
int LC_SocketStartup();
int LC_SocketCreate();
// Connects `fd` to ip:port without limit on time (a refused connect fails at once).
int LC_BTcpConnect(int fd, const char* ip, int port);
// Waits up to `timeout` seconds for data: 1 data, 0 timed out, -1 failed.
int LC_BTcpReadWait(int fd, int timeout);
// Writes all `len` bytes.
int LC_BTcpLoopWrite(int fd, const void* data, int len);
int LC_SocketClose(int fd);
int LC_SocketDestroy();

// Signals of the daemon (see platform/signals.h); the handler functions are
// safe to call from a signal handler.
void LC_SignalIgnoreTerm();
void LC_SignalOnTerm(void (*handler)(int));
void LC_SignalIgnoreSegv();
[[noreturn]] void LC_ExitNow(int code);
