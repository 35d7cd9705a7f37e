#include "service_p2p.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "acl_msg.h"
#include "acl_workq.h"
#include "crash_report.h"
#include "p2p_filter.h"
#include "p2p_resource.h"
#include "p2p_session.h"
#include "service_registry.h"

void _p2p_session_onlogin(std::uint16_t state, std::uint32_t client_id) {
    SERVICE_CONF& conf = service_conf();
    g_client.client_id = client_id;
    g_client.login_state = state;
    conf.client_id = client_id;
    if (client_id == 0) return;
    acl_debug(SERVICE_P2P_DEBUG_SECTION, 2)("%s(%d): login callback. client id is %d, state is %d",
                                            __func__, __LINE__, static_cast<int>(client_id),
                                            static_cast<int>(state));
    registry_write_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId",
                       client_id);
}

namespace {

// The configuration as the resource module needs it: the service's settings,
// then the resource client, its registry figures and the filter.
int read_resource_config(void* arg) {
    SERVICE_CONF& conf = *static_cast<SERVICE_CONF*>(arg);
    int ret = _read_config(&conf);
    acl_debug_init(conf.debug_level.c_str());
    _init_client(conf.cache_path.c_str(), static_cast<std::uint32_t>(conf.max_space / SERVICE_MB),
                 g_client.callbacks.on_data_received);
    g_client.app_dir = conf.program_folder;
    g_client.client_id = conf.client_id.load();
    g_client.space_left = conf.space_left;
    g_client.filter = p2p_filter_new();
    if (g_client.filter == nullptr)
        acl_msg_fatal("%s(%d): p2p_filter_new failed!", __func__, __LINE__);
    p2p_filter_load(g_client.filter, conf.config_path.c_str());
    return ret;
}

void session_server(void* arg, std::string* ip, int* port) {
    const SERVICE_CONF& conf = *static_cast<const SERVICE_CONF*>(arg);
    *ip = conf.session_ip;
    *port = conf.session_port;
}

int save_space_left(void*, const char* decimal) {
    return registry_write_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY,
                                 "SpaceUsed", decimal);
}

}  // namespace

int service_resource_init(SERVICE_CONF& conf) {
    P2P_CLIENT_SERVICE service{};
    service.read_config = read_resource_config;
    service.session_server = session_server;
    service.save_space_left = save_space_left;
    service.on_login = _p2p_session_onlogin;
    service.arg = &conf;
    // The store's P2P download worker brings the data-received handler.
    return p2p_client_init(conf.workq, nullptr, &service);
}

std::string service_uploader_args(const SERVICE_CONF& conf, std::uint32_t client_id) {
    return "-u " + std::to_string(client_id) + " -s " + conf.logsvr_ip + ":" +
           std::to_string(conf.logsvr_port);
}

namespace {

std::mutex g_args_mu;  // guards conf.uploader_args against a second writer

}  // namespace

void service_set_uploader_args(SERVICE_CONF& conf, const std::string& args) {
    std::lock_guard<std::mutex> lock(g_args_mu);
    conf.uploader_args = args.substr(0, SERVICE_STRING_MAX);
    crash_report_set_uploader_args(conf.uploader_args.c_str());
}

void service_uploader_args_init(SERVICE_CONF& conf, std::uint32_t id) {
    if (id != 0) {
        service_set_uploader_args(conf, service_uploader_args(conf, id));
        return;
    }
    acl_workq_add(conf.workq, wait_regok_thread, 0, &conf);
}

void wait_regok_thread(int, ACL_WORKER_ATTR* worker) {
    SERVICE_CONF& conf = *static_cast<SERVICE_CONF*>(worker->job_arg);
    int i = 0;
    std::uint32_t id;
    while ((id = conf.client_id) == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        i++;
    }
    acl_debug(SERVICE_START_DEBUG_SECTION, 2)("%s(%d): wakeup, get uid=%u, i=%d", __func__,
                                              __LINE__, static_cast<unsigned>(id), i);
    service_set_uploader_args(conf, service_uploader_args(conf, id));
}
