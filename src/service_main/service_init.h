// Creation of the proxy's subsystems, in their fixed order.
#pragma once

#include "service_conf.h"

// Creates the worker queue, reads the configuration and the registry, and
// creates the subsystems that depend on them. A core object that cannot be
// created ends the process through the fatal log.
void service_init(SERVICE_CONF& conf);

// Starts the long-running parts: the store controller's loop and the proxy
// thread.
void service_start(SERVICE_CONF& conf);
