#include "service_p2p.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "acl_msg.h"
#include "acl_workq.h"
#include "crash_report.h"
#include "p2p_session.h"
#include "service_registry.h"

void _p2p_session_onlogin(std::uint16_t state, std::uint32_t client_id) {
    SERVICE_CONF& conf = service_conf();
    conf.client_id = client_id;
    conf.login_state = state;
    if (client_id == 0) return;
    acl_debug(SERVICE_P2P_DEBUG_SECTION, 2)("%s(%d): login callback. client id is %d, state is %d",
                                            __func__, __LINE__, static_cast<int>(client_id),
                                            static_cast<int>(state));
    registry_write_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId",
                       client_id);
}

int service_p2p_register(SERVICE_CONF& conf) {
    P2P_SESSION_CALLBACKS callbacks{};
    callbacks.on_login = _p2p_session_onlogin;
    int ret = Init_Session(conf.session_ip.c_str(), conf.session_port, &callbacks);
    if (ret != 0) {
        acl_msg_error("%s(%d): P2P Invoke Init_Session error! error id (%d)", __func__, __LINE__,
                      ret);
        return -1;
    }
    Session_Login(conf.client_id);
    return 0;
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

void service_uploader_args_init(SERVICE_CONF& conf) {
    std::uint32_t id = conf.client_id;
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
