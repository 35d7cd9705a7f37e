// tarvoproxy: start-up in a fixed order, then an idle main thread. The process
// has no orderly shutdown; it runs until it is ended from outside or a fatal
// log line ends it.
#include <chrono>
#include <cstdio>
#include <thread>

#include "acl_msg.h"
#include "acl_workq.h"
#include "crash_report.h"
#include "crash_seam.h"
#include "platform/file.h"
#include "platform/limits.h"
#include "platform/net_errors.h"
#include "platform/self.h"
#include "service_conf.h"
#include "service_init.h"

namespace {

constexpr std::int64_t kLogLimit = 5242880;  // a larger log is emptied at start

void open_log(SERVICE_CONF& conf) {
    if (conf.program_folder.empty()) return;  // lines go to the console
    conf.log_path = conf.program_folder + "/tarvoproxy.log";
    if (platform::file_size(conf.log_path.c_str()) > kLogLimit)
        platform::file_truncate(conf.log_path.c_str());
    acl_msg_open(conf.log_path.c_str(), "log");
}

}  // namespace

int main() {
    SERVICE_CONF& conf = service_conf();
    platform::raise_open_file_limit();  // one descriptor per browser and server connection

    conf.program_folder = platform::program_folder();
    open_log(conf);
    conf.config_path = conf.program_folder + platform::program_base_name() + ".ini";

    conf.uploader_path = conf.program_folder + "tarvologger";
    conf.uploader_args = std::string("-u 0 -s ") + crash_seam_default_logsvr_host() + ":8887";
    crash_report_install(conf.uploader_path.c_str(), conf.uploader_args.c_str());

    int major = 0, minor = 0;
    if (platform::socket_startup(2, 0, &major, &minor) != 0 || major != 2 || minor != 0)
        acl_msg_error("%s(%d): socket start-up error", __func__, __LINE__);

    service_init(conf);
    service_start(conf);
    crash_seam_run(conf);

    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
