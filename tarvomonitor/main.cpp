// tarvomonitor: runs tarvoproxy under the daemon framework and keeps the
// browser's proxy setting on it while it runs.
//
//     tarvomonitor start|real_start|restart|stop <configuration file>

#include "initial.h"

#include "acl_msg.h"
#include "lc_sys.h"
#include "safedaemon_core.h"

int main(int argc, char** argv) {
    acl_msg_open("./prxy_wrp.log", "msg");

    __SafeDaemonRegisterConfig(monitor_config, 0);
    __SafeDaemonRegisterInit(monitor_init, 0);
    __SafeDaemonRegisterFini(monitor_fini, 0);
    __SafeDaemonLoop(argc, argv);
    LC_SocketDestroy();
    return 0;
}
