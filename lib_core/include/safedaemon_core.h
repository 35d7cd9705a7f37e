// safedaemon_core: the supervising daemon framework.
//
// A program registers its callbacks and hands its command line to
// __SafeDaemonLoop:
//
//     prog start <config>       launch a detached "real_start" copy and return
//     prog real_start <config>  be the daemon: run exec_name, restart it 1 s
//                               after every exit but exit code 100
//     prog restart <config>     stop a running daemon, wait, then be the daemon
//     prog stop <config>        stop a running daemon and its child
//
// Mode words compare case-insensitively as prefixes of their own length, in
// the order start, real_start, restart, stop.
//
// Daemon life: the daemon holds an exclusive lock on lock_path (holding its
// process id) for its whole life, writes its id to pid_path, logs to the
// daily log (lc_log.h), makes daemon_path the current folder and runs the
// child with the command line (exec_name, "start", <config>), hidden. It ends
// on the termination signal (exit code 0), when the child exits with 100
// (exit code 100), or when the child cannot be started. Its child keeps
// running when the daemon is ended by a signal. Neither file is removed at
// the end.
//
// Stop: when lock_path is not locked, no daemon runs ("The daemon is not
// running!"). Otherwise the control connection is tried (it fails at once
// when nothing listens on the control port), then the daemon's id is read
// from pid_path and the child's from "./<exec file name>_pid" (which the child
// writes, if it wants to be stopped this way), and each process that exists
// is ended. The daemon is stopped even when the child wrote no pid file.
//
// Paths given in the configuration may use "\" separators; they become "/".
// Messages go to the daily log once it is open, to standard output before.
#pragma once

#include <string>

#define SAFEDAEMON_TEXT_MAX 275          // characters of a configuration text field
#define SAFEDAEMON_RESTART_DELAY 1       // seconds before a child is started again
#define SAFEDAEMON_CTL_ADDR "127.0.0.1"  // address stop connects to
#define SAFEDAEMON_CTL_PORT 17777        // port stop connects to
#define SAFEDAEMON_CTL_TIMEOUT 60        // seconds stop waits for the control peer
#define SAFEDAEMON_CHILD_STOP_CODE 100   // a child exiting with this ends the daemon

// Run modes.
enum SAFEDAEMON_MODE {
    SAFEDAEMON_MODE_NONE = 0,
    SAFEDAEMON_MODE_START,    // "start"
    SAFEDAEMON_MODE_DAEMON,   // "real_start"
    SAFEDAEMON_MODE_RESTART,  // "restart"
    SAFEDAEMON_MODE_STOP,     // "stop"
};

// The daemon configuration, one per process. Text fields hold at most
// SAFEDAEMON_TEXT_MAX characters; empty ones get their defaults after the
// configuration callback ran.
struct SAFEDAEMON_CONF {
    std::string exec_name;       // program run as the child (required)
    std::string daemon_path;     // current folder of the daemon; "./"
    std::string pid_path;        // the daemon's id; "./<own>_pid"
    std::string child_pid_path;  // the child's id, read by stop; "./<exec file name>_pid"
    std::string lock_path;       // exclusive lock; "./<own>_lock"
    std::string log_path;        // daily log base; "./<own>_log"
    std::string log_level;       // "LOG_NOLOG" ... "LOG_DEBUG"; "LOG_INFO"

    int restart_delay = SAFEDAEMON_RESTART_DELAY;
    std::string ctl_addr = SAFEDAEMON_CTL_ADDR;
    int ctl_port = SAFEDAEMON_CTL_PORT;
    int ctl_timeout = SAFEDAEMON_CTL_TIMEOUT;

    std::string program_path;  // argv[0]
    std::string own_name;      // file-name part of argv[0]
    std::string config_path;   // argv[2]
    int mode = SAFEDAEMON_MODE_NONE;
};

// Callbacks; each gets the integer given at registration. 0 means success.
// The configuration callback fills the record from the file at `path`.
using SAFEDAEMON_CONFIG_FN = int (*)(const char* path, SAFEDAEMON_CONF* conf, int arg);
// Runs after the configuration is loaded, in every mode; may start threads.
using SAFEDAEMON_INIT_FN = int (*)(int arg);
// Runs when the framework ends normally.
using SAFEDAEMON_FINI_FN = int (*)(int arg);

// Registration: -1 when `fn` is null, else 0. Register before
// __SafeDaemonLoop; a callback not registered counts as succeeding.
int __SafeDaemonRegisterConfig(SAFEDAEMON_CONFIG_FN fn, int arg);
int __SafeDaemonRegisterInit(SAFEDAEMON_INIT_FN fn, int arg);
int __SafeDaemonRegisterFini(SAFEDAEMON_FINI_FN fn, int arg);

// Runs the mode named by the command line. Returns 0 when the mode ended
// normally; failures of initialisation or finalisation end the process with
// exit code 0, and a child exiting with 100 ends it with 100.
int __SafeDaemonLoop(int argc, char** argv);

// 1 once this process holds the daemon's exclusive lock, that is once it is
// the one daemon that stays to supervise; 0 before, and for ever in a process
// that was refused the lock. Any thread may ask.
int __SafeDaemonLockHeld();

// The mode of this process (SAFEDAEMON_MODE_NONE before the command line is
// parsed), for callbacks that behave differently per mode.
int __SafeDaemonRunMode();

// The configuration of this process (filled as the steps run).
const SAFEDAEMON_CONF* __SafeDaemonConf();
