#include "initial.h"

#include "global.h"
#include "ie_proxy.h"
#include "proxy_no_defaut_thread.h"

#include "acl_msg.h"
#include "lc_config.h"

static PROXY_WATCH* g_watch = nullptr;  // runs until the process ends

int monitor_config(const char* path, SAFEDAEMON_CONF* conf, int) {
    LC_CONFIG cfg;
    LC_ConfigLoad(&cfg, path);

    LC_ConfigGetString(&cfg, "exec_name", conf->exec_name);
    LC_ConfigGetString(&cfg, "daemon_path", conf->daemon_path);
    LC_ConfigGetString(&cfg, "lock_path", conf->lock_path);
    LC_ConfigGetString(&cfg, "pid_path", conf->pid_path);
    LC_ConfigGetString(&cfg, "log_path", conf->log_path);
    LC_ConfigGetString(&cfg, "log_level", conf->log_level);

    MONITOR_CONF& m = g_monitor_conf;
    m = MONITOR_CONF();
    LC_ConfigGetString(&cfg, "proxy_process", m.proxy_process);
    LC_ConfigGetString(&cfg, "p2p_proxy_server", m.p2p_proxy_server);
    LC_ConfigGetInt(&cfg, "p2p_proxy_port", &m.p2p_proxy_port);
    LC_ConfigGetString(&cfg, "p2p_proxy_server_port", m.p2p_proxy_server_port);
    LC_ConfigGetString(&cfg, "test_site", m.test_site);
    LC_ConfigGetInt(&cfg, "test_times", &m.test_times);
    return 0;
}

int monitor_init(int) {
    acl_msg_info("Start Initialize");
    if (GetIEProxyConfig(g_saved_proxy) != 0)
        monitor_status("Can not get the IE proxy from registry.");

    // Only a process that stays to supervise the proxy may point the browser
    // at it: a start or stop invocation would leave it pointing at a proxy
    // nobody watches.
    int mode = __SafeDaemonRunMode();
    if (g_watch == nullptr && (mode == SAFEDAEMON_MODE_DAEMON || mode == SAFEDAEMON_MODE_RESTART))
        g_watch =
            proxy_watch_start(g_monitor_conf, g_saved_proxy, g_watch_times, __SafeDaemonLockHeld);

    acl_msg_info("End Initialize");
    return 0;
}

int monitor_fini(int) { return 0; }
