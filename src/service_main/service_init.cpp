#include "service_init.h"

#include "acl_msg.h"
#include "acl_workq.h"
#include "http_accel.h"
#include "p2p_resource.h"
#include "proxy/aio_proxy.h"
#include "service_p2p.h"
#include "store/store_ctrl.h"
#include "store_http/http_ctrl.h"

namespace {

constexpr int kWorkerThreads = 100;  // service worker queue: threads at most
constexpr int kWorkerIdle = 60;      // seconds an idle worker waits before it ends

}  // namespace

void service_init(SERVICE_CONF& conf) {
    conf.workq = acl_workq_create(kWorkerThreads, kWorkerIdle, 0, 0);
    if (conf.workq == nullptr)
        acl_msg_fatal("%s(%d): create worker queue error", __func__, __LINE__);

    service_resource_init(conf);

    char cache_buf[1024];
    resource_get_cache_path(cache_buf, sizeof(cache_buf));
    std::string cache_path = cache_buf;
    if (!cache_path.empty() && (cache_path.back() == '/' || cache_path.back() == '\\'))
        cache_path.pop_back();
    acl_msg_info("%s(%d): cache_path=%s", __func__, __LINE__, cache_path.c_str());
    acl_msg_info("%s(%d): g_client.disk_free_space=%llu", __func__, __LINE__,
                 static_cast<unsigned long long>(g_client.disk_free_space.load()));

    conf.ctrl = http_ctrl_create(conf.workq, cache_path.c_str(), conf.session_ip.c_str(),
                                 conf.session_port);
    if (conf.ctrl == nullptr) acl_msg_fatal("%s(%d): create http ctrl error", __func__, __LINE__);
    conf.ctrl->use_p2p = conf.use_p2p;
    conf.ctrl->uid = conf.client_id.load();
    http_ctrl_set_logger(conf.ctrl, conf.logsvr_ip.c_str(), conf.logsvr_port);
    http_ctrl_set_rc_hook(conf.ctrl, http_accel_add_resource);

    // The id as start-up read it: the login may set it at any moment, and the
    // listen line below must tell which id the uploader arguments were built
    // with, not one that the waiting thread has yet to pick up.
    const std::uint32_t start_uid = conf.client_id.load();
    service_uploader_args_init(conf, start_uid);

    std::string addr = conf.listen_ip + ":" + std::to_string(conf.listen_port);
    conf.proxy = aio_proxy_create(addr.c_str(), conf.cap_title);
    if (conf.proxy == nullptr)
        acl_msg_fatal("%s(%d): create aio proxy error, addr(%s)", __func__, __LINE__, addr.c_str());
    acl_msg_info("%s(%d): listen on addr=%s, uid=%u", __func__, __LINE__, addr.c_str(),
                 static_cast<unsigned>(start_uid));

    // The page-title list is not part of this service yet: videos get no caption.
    http_accel_init(conf.ctrl, conf.workq, conf.http_max_threads, nullptr);
    aio_proxy_set_accel_hooks(conf.proxy, http_accel_can_hook, http_accel_hook);
}

void service_start(SERVICE_CONF& conf) {
    if (store_ctrl_start(&conf.ctrl->ctrl) != 0)
        acl_msg_fatal("%s(%d): start store controller error", __func__, __LINE__);
    if (aio_proxy_start(conf.proxy) != 0)
        acl_msg_fatal("%s(%d): start proxy thread error", __func__, __LINE__);
}
