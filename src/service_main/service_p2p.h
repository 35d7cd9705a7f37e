// tarvoproxy's side of the P2P session: the login handler, the registration
// at start-up and the uploader arguments that wait for the client id.
#pragma once

#include <cstdint>
#include <string>

#include "service_conf.h"

struct ACL_WORKER_ATTR;

#define SERVICE_P2P_DEBUG_SECTION 73  // P2P login lines (level 2)
#define SERVICE_START_DEBUG_SECTION 50

// The login handler given to the session. Always stores the state and the id
// in g_client (and the id in the settings record); a non-zero id is also written to the registry
// value ClientId, so the next start logs in with it. Called on a P2P thread.
void _p2p_session_onlogin(std::uint16_t state, std::uint32_t client_id);

// Start-up step 6.2: the resource module reads the configuration (through
// _read_config, then sets up g_client and the filter), loads the shared list,
// queues the disk-space job and the pipe reader, and registers with the
// session server with the proxy's login handler. The result of
// p2p_client_init.
int service_resource_init(SERVICE_CONF& conf);

// The uploader arguments for a known client id: "-u %u -s logsvr_ip:port".
std::string service_uploader_args(const SERVICE_CONF& conf, std::uint32_t client_id);

// Replaces the uploader arguments (cut to SERVICE_STRING_MAX bytes) and hands
// them to the crash handler, which uses them for the next crash.
void service_set_uploader_args(SERVICE_CONF& conf, const std::string& args);

// Start-up step, with the id start-up read: a known client id sets the
// uploader arguments now;
// otherwise wait_regok_thread is queued on the worker queue to set them once
// the first login reported an id.
void service_uploader_args_init(SERVICE_CONF& conf, std::uint32_t id);

// Worker-queue job: sleeps one second at a time until the login handler
// stored a non-zero client id, then sets the uploader arguments.
void wait_regok_thread(int event_type, ACL_WORKER_ATTR* worker);
