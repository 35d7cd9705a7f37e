// tarvomonitor/initial: the callbacks the monitor registers in the daemon
// framework.
#pragma once

#include "safedaemon_core.h"

// Reads the framework keys into `conf` and the monitor's own into
// g_monitor_conf. A file that cannot be read leaves every key unset (the
// framework then stops on the missing exec_name). Returns 0.
int monitor_config(const char* path, SAFEDAEMON_CONF* conf, int arg);

// Saves the browser setting found now into g_saved_proxy and, in the modes
// that run the daemon, starts the watch. Returns 0.
int monitor_init(int arg);

// Nothing to undo: the watch ends with the process. Returns 0.
int monitor_fini(int arg);
