#include "safedaemon_core.h"

#include "lc_log.h"
#include "lc_sys.h"

#include <strings.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Callbacks {
    SAFEDAEMON_CONFIG_FN config = nullptr;
    int config_arg = 0;
    SAFEDAEMON_INIT_FN init = nullptr;
    int init_arg = 0;
    SAFEDAEMON_FINI_FN fini = nullptr;
    int fini_arg = 0;
};

Callbacks g_callbacks;
SAFEDAEMON_CONF g_conf;
LC_FILELOCK g_lock;                    // held for the daemon's whole life
std::atomic<bool> g_lock_held{false};  // read by callbacks' threads
volatile std::sig_atomic_t g_stop = 0;

struct ModeWord {
    const char* word;
    int mode;
};

// Order matters: the first word that is a prefix of the argument wins.
const ModeWord kModes[] = {
    {"start", SAFEDAEMON_MODE_START},
    {"real_start", SAFEDAEMON_MODE_DAEMON},
    {"restart", SAFEDAEMON_MODE_RESTART},
    {"stop", SAFEDAEMON_MODE_STOP},
};

bool arg_ok(const char* a) { return a != nullptr && a[0] != '\0' && std::strlen(a) <= LC_PATH_MAX; }

void on_terminate(int) {
    LC_SignalIgnoreTerm();
    g_stop = 1;
    LC_ExitNow(0);
}

}  // namespace

int __SafeDaemonRegisterConfig(SAFEDAEMON_CONFIG_FN fn, int arg) {
    if (fn == nullptr) return -1;
    g_callbacks.config = fn;
    g_callbacks.config_arg = arg;
    return 0;
}

int __SafeDaemonRegisterInit(SAFEDAEMON_INIT_FN fn, int arg) {
    if (fn == nullptr) return -1;
    g_callbacks.init = fn;
    g_callbacks.init_arg = arg;
    return 0;
}

int __SafeDaemonRegisterFini(SAFEDAEMON_FINI_FN fn, int arg) {
    if (fn == nullptr) return -1;
    g_callbacks.fini = fn;
    g_callbacks.fini_arg = arg;
    return 0;
}

int __SafeDaemonLockHeld() { return g_lock_held ? 1 : 0; }

int __SafeDaemonRunMode() { return g_conf.mode; }

const SAFEDAEMON_CONF* __SafeDaemonConf() { return &g_conf; }

static int __SafeDaemonParseCommandLine(int argc, char** argv) {
    if (argv == nullptr) {
        LC_Error("Argv error");
        return -1;
    }
    if (argc < 1 || !arg_ok(argv[0])) {
        LC_Error("Argv[0] error");
        return -1;
    }
    if (LC_ExtractFileName(argv[0], g_conf.own_name) != 0) {
        LC_Error("LC_ExtractFileName error");
        return -1;
    }
    g_conf.program_path = argv[0];
    if (argc < 3) {
        LC_Error("Argc error");
        return -1;
    }
    int mode = SAFEDAEMON_MODE_NONE;
    if (arg_ok(argv[1])) {
        for (auto& m : kModes) {
            if (strncasecmp(argv[1], m.word, std::strlen(m.word)) == 0) {
                mode = m.mode;
                break;
            }
        }
    }
    if (mode == SAFEDAEMON_MODE_NONE) {
        LC_Error("Argv[1] error");
        return -1;
    }
    if (!arg_ok(argv[2])) {
        LC_Error("Argv[2] error");
        return -1;
    }
    g_conf.mode = mode;
    g_conf.config_path = argv[2];
    return 0;
}

static void default_path(std::string& field, const std::string& def) {
    field = field.empty() ? def : LC_NativePath(field);
}

static int __SafeDaemonLoadConfigCheck() {
    // The caller's "__SafeDaemonInitialization error" is the whole report.
    if (g_conf.exec_name.empty()) return -1;
    g_conf.exec_name = LC_NativePath(g_conf.exec_name);
    std::string exec_file;
    if (LC_ExtractFileName(g_conf.exec_name, exec_file) != 0) {
        LC_Error("LC_ExtractFileName error");
        return -1;
    }
    default_path(g_conf.daemon_path, "./");
    default_path(g_conf.pid_path, "./" + g_conf.own_name + "_pid");
    g_conf.child_pid_path = "./" + exec_file + "_pid";
    default_path(g_conf.lock_path, "./" + g_conf.own_name + "_lock");
    default_path(g_conf.log_path, "./" + g_conf.own_name + "_log");
    g_conf.log_level = LC_LogLevelName(LC_LogLevelFromName(g_conf.log_level));
    return 0;
}

static int __SafeDaemonInit() {
    if (g_callbacks.init != nullptr && g_callbacks.init(g_callbacks.init_arg) != 0) return -1;
    return 0;
}

static void __SafeDaemonInitialization(int argc, char** argv) {
    g_conf = SAFEDAEMON_CONF();
    int ok = __SafeDaemonParseCommandLine(argc, argv) == 0;
    if (ok && g_callbacks.config != nullptr &&
        g_callbacks.config(g_conf.config_path.c_str(), &g_conf, g_callbacks.config_arg) != 0)
        ok = 0;
    if (ok && __SafeDaemonLoadConfigCheck() != 0) ok = 0;
    if (ok && __SafeDaemonInit() != 0) ok = 0;
    if (!ok) {
        LC_Error("__SafeDaemonInitialization error");
        std::exit(0);
    }
}

static int __SafeDaemonStart() {
    std::string cmd = LC_BuildCommandLine({g_conf.program_path, "real_start", g_conf.config_path});
    if (LC_DetachProcessCreate(cmd) != 0) {
        LC_Error("LC_DetachProcessCreate error");
        return -1;
    }
    return 0;
}

static int __SafeDaemonExclusiveLockStart() {
    if (LC_FileLockStart(g_conf.lock_path.c_str(), g_lock) != 0) {
        if (errno == EWOULDBLOCK)
            LC_Error("Unable to lock %s, is %s already running?", g_conf.lock_path.c_str(),
                     g_conf.own_name.c_str());
        else
            LC_Error("LC_FileLockStart error");
        LC_Error("__SafeDaemonExclusiveLockStart error");
        return -1;
    }
    g_lock_held = true;
    return 0;
}

static int __SafeDaemonCheckChildStatus(LC_PROCESS& child, int* code) {
    if (LC_ProcessWait(child, code) != 0) {
        LC_Error("WaitForSingleObject error");
        return -1;
    }
    return 0;
}

static int __SafeDaemonStartReal() {
    if (__SafeDaemonExclusiveLockStart() != 0) return -1;
    if (LC_OverWritePidFile(g_conf.pid_path.c_str(), LC_GetPid()) != 0) {
        LC_Error("LC_OverWritePidFile error");
        return -1;
    }
    LC_LogOpen(g_conf.log_path.c_str(), LC_LogLevelFromName(g_conf.log_level),
               g_conf.own_name.c_str());
    LC_Info("Server Start!");
    if (LC_DaemonInit2(g_conf.daemon_path.c_str()) != 0) {
        LC_Error("LC_DaemonInit2 error");
        return -1;
    }
    LC_SignalOnTerm(on_terminate);
    LC_SignalIgnoreSegv();

    const std::string cmd = LC_BuildCommandLine({g_conf.exec_name, "start", g_conf.config_path});
    for (bool first = true;; first = false) {
        if (!first) LC_Sleep(g_conf.restart_delay);
        if (g_stop) {
            LC_Info("Receive sigterm, want to exit");
            return 0;
        }
        LC_Info("LC_ProcessCreate start, Buffer=%s", g_conf.exec_name.c_str());
        LC_PROCESS child;
        if (LC_ProcessCreate(cmd, child) != 0) {
            LC_Error("LC_ProcessCreate error");
            return -1;
        }
        int code = 0;
        if (__SafeDaemonCheckChildStatus(child, &code) != 0) {
            LC_Error("__SafeDaemonCheckChildStatus error");
            return -1;
        }
        if (code == SAFEDAEMON_CHILD_STOP_CODE) {
            LC_Info("The child wants to exit now!");
            LC_LogClose();
            std::exit(SAFEDAEMON_CHILD_STOP_CODE);
        }
        // Already reaped here: ending it is a no-op, never a signal to a
        // process that reused its id.
        LC_ProcessTerminate(child);
    }
}

static void __SafeDaemonSocket() {
    LC_SocketStartup();
    int fd = LC_SocketCreate();
    if (fd < 0) {
        LC_Error("LC_SocketCreate error");
    } else {
        if (LC_BTcpConnect(fd, g_conf.ctl_addr.c_str(), g_conf.ctl_port) != 0) {
            LC_Error("LC_BTcpConnect error");
        } else if (LC_BTcpReadWait(fd, g_conf.ctl_timeout) <= 0) {
            LC_Error("LC_BTcpConnect timeout error");
        } else {
            static const char kStop[] = "stop\r\n";
            if (LC_BTcpLoopWrite(fd, kStop, static_cast<int>(sizeof(kStop) - 1)) != 0)
                LC_Error("LC_BTcpLoopWrite error");
        }
        if (LC_SocketClose(fd) != 0) LC_Error("LC_SocketClose error");
    }
    if (LC_SocketDestroy() != 0) LC_Error("LC_SocketDestroy error");
}

static void stop_process(int pid) {
    if (LC_ProcessOpen(pid) != 0) return;
    if (LC_ProcessKill(pid) != 0) LC_Error("TerminateProcess error");
}

static int __SafeDaemonStop() {
    LC_SignalIgnoreTerm();
    {
        LC_FILELOCK probe;
        if (LC_FileLockStart(g_conf.lock_path.c_str(), probe) == 0) {
            LC_Info("The daemon is not running!");
            return 0;
        }
        if (errno != EWOULDBLOCK) {
            LC_Error("LC_FileLockStart error");
            return -1;
        }
    }
    __SafeDaemonSocket();

    // The daemon goes first, so that it cannot start the child again. A child
    // that writes no pid file is left running, but the daemon still stops.
    int daemon_pid = 0;
    int child_pid = 0;
    int have_daemon = LC_ReadPidFile(g_conf.pid_path.c_str(), &daemon_pid) == 0;
    int have_child = LC_ReadPidFile(g_conf.child_pid_path.c_str(), &child_pid) == 0;
    if (!have_daemon || !have_child) LC_Error("LC_ReadPidFile error");
    if (!have_daemon && !have_child) return -1;
    if (have_daemon) stop_process(daemon_pid);
    if (have_child) stop_process(child_pid);
    LC_Info("OK, has stopped the process now");
    return 0;
}

static int __SafeDaemonServerCtl() {
    switch (g_conf.mode) {
        case SAFEDAEMON_MODE_START:
            return __SafeDaemonStart();
        case SAFEDAEMON_MODE_DAEMON:
            return __SafeDaemonStartReal();
        case SAFEDAEMON_MODE_RESTART:
            __SafeDaemonStop();
            LC_Sleep(g_conf.restart_delay);
            return __SafeDaemonStartReal();
        case SAFEDAEMON_MODE_STOP:
            return __SafeDaemonStop();
        default:
            return -1;
    }
}

static void __SafeDaemonFinalization() {
    int ok = g_callbacks.fini == nullptr || g_callbacks.fini(g_callbacks.fini_arg) == 0;
    if (g_conf.mode == SAFEDAEMON_MODE_DAEMON || g_conf.mode == SAFEDAEMON_MODE_RESTART) {
        LC_LogClose();
        g_lock.unlock();
    }
    if (!ok) {
        LC_Error("__SafeDaemonFinalization error");
        std::exit(0);
    }
}

int __SafeDaemonLoop(int argc, char** argv) {
    __SafeDaemonInitialization(argc, argv);
    __SafeDaemonServerCtl();
    __SafeDaemonFinalization();
    return 0;
}
