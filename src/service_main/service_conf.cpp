#include "service_conf.h"

#include <cctype>
#include <cstdlib>

#include "acl_msg.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/self.h"
#include "service_registry.h"

SERVICE_CONF& service_conf() {
    static SERVICE_CONF* conf = new SERVICE_CONF;  // lives as long as the process
    return *conf;
}

namespace {

// A string key of tarvoproxy.ini. An empty read is reported with the file's
// path and the system's reason, and the default is used.
std::string read_ini_string(const SERVICE_CONF& conf, const char* section, const char* key,
                            const char* def, std::size_t max) {
    std::string buf(max + 1, '\0');
    std::size_t n = platform::profile_read_string(section, key, "", buf.data(), buf.size(),
                                                  conf.config_path.c_str());
    if (n == 0) {
        acl_msg_error("%s, %s(%d): read ini file (%s) error(%s)", __FILE__, __func__, __LINE__,
                      conf.config_path.c_str(), platform::last_error_text().c_str());
        return def;
    }
    buf.resize(n);
    return buf;
}

int read_ini_int(const SERVICE_CONF& conf, const char* section, const char* key, int def) {
    return platform::profile_read_int(section, key, def, conf.config_path.c_str());
}

std::string with_slashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

}  // namespace

std::string service_cache_folder(const std::string& program_folder, const std::string& value) {
    std::string path = with_slashes(value);
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
        path.erase(0, 2);  // "C:/videos" names the absolute folder "/videos"
    if (path.empty() || path[0] != '/') path = program_folder + path;
    if (path.back() != '/') path += '/';
    return path;
}

int _read_config(SERVICE_CONF* conf) {
    conf->debug_level = read_ini_string(*conf, "debug", "debug_level", "", SERVICE_STRING_MAX);
    conf->listen_ip =
        read_ini_string(*conf, "proxy", "listen_ip", SERVICE_DEFAULT_LISTEN_IP, SERVICE_STRING_MAX);
    conf->listen_port = read_ini_int(*conf, "proxy", "listen_port", SERVICE_DEFAULT_LISTEN_PORT);
    conf->http_max_threads =
        read_ini_int(*conf, "proxy", "http_max_threads", SERVICE_DEFAULT_HTTP_MAX_THREADS);
    conf->session_ip = read_ini_string(*conf, "server", "session_ip", SERVICE_DEFAULT_SESSION_IP,
                                       SERVICE_STRING_MAX);
    conf->session_port =
        read_ini_int(*conf, "server", "session_port", SERVICE_DEFAULT_SESSION_PORT);
    conf->logsvr_ip = read_ini_string(*conf, "server", "logsvr_ip", SERVICE_DEFAULT_LOGSVR_IP,
                                      SERVICE_STRING_MAX);
    conf->logsvr_port = read_ini_int(*conf, "server", "logsvr_port", SERVICE_DEFAULT_LOGSVR_PORT);
    conf->use_p2p = read_ini_int(*conf, "p2p", "use_p2p", 0);
    conf->cap_title = read_ini_int(*conf, "p2p", "cap_title", 0);

    // A missing CachePath means the folder "cache" next to the program, the
    // same default the desktop program writes.
    char cache_value[261] = "";
    if (registry_read_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "CachePath",
                             cache_value, sizeof(cache_value)) != 0 ||
        cache_value[0] == '\0') {
        std::snprintf(cache_value, sizeof(cache_value), "cache");
    }
    conf->cache_path = service_cache_folder(conf->program_folder, cache_value);

    std::uint32_t max_space_mb = SERVICE_DEFAULT_MAX_SPACE;
    if (registry_read_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "MaxSpace",
                          &max_space_mb) != 0) {
        max_space_mb = SERVICE_DEFAULT_MAX_SPACE;
    }
    conf->max_space = max_space_mb * SERVICE_MB;

    std::uint32_t client_id = 0;
    if (registry_read_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId",
                          &client_id) != 0) {
        client_id = 0;
    }
    conf->client_id = client_id;

    char space_used[257] = "";
    if (registry_read_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "SpaceUsed",
                             space_used, sizeof(space_used)) == 0 &&
        space_used[0] != '\0') {
        conf->space_left = std::strtoull(space_used, nullptr, 10);
    } else {
        conf->space_left = conf->max_space;
    }

    if (platform::make_folders(conf->cache_path.c_str()) != 0) {
        acl_msg_error("%s(%d): create cache folder(%s) error(%s)", __func__, __LINE__,
                      conf->cache_path.c_str(), platform::last_error_text().c_str());
        return -1;
    }
    return 0;
}
