#include "speed/proxy_control.h"

#include <cctype>
#include <charconv>
#include <vector>

#include "platform/browser_proxy.h"
#include "platform/current_folder.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "speed/text_util.h"

namespace tarvospeed {

namespace {

std::string file_name_part(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool parse_int(const std::string& s, int& out) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string ini_string(const char* section, const char* key, const std::string& path) {
    char buf[1024];
    platform::profile_read_string(section, key, "", buf, sizeof buf, path.c_str());
    return buf;
}

// The processes whose file name or whole path is `wanted` (letter case aside).
template <typename F>
void for_each_named(const std::string& wanted, bool cut, F&& f) {
    std::vector<platform::ProcessEntry> list;
    if (platform::process_list(list) != 0) return;
    std::string name = wanted;
    if (cut && name.size() > PROCESS_NAME_CUT) name.resize(PROCESS_NAME_CUT);
    for (const auto& p : list) {
        if (same_text(p.exe_name, name) || same_text(p.exe_path, name)) {
            if (!f(p)) return;
        }
    }
}

}  // namespace

void split_proxy_server(const std::string& server, TPROXY& out) {
    out.Server = server;
    std::size_t colon = server.find(':');
    int port = 0;
    if (colon == std::string::npos) {
        out.Host.clear();
        out.Port = parse_int(server, port) ? port : 0;
        return;
    }
    out.Host = server.substr(0, colon);
    out.Port = parse_int(server.substr(colon + 1), port) ? port : 0;
}

TQlProxyControl::TQlProxyControl(std::string program_folder, TStartLog& log)
    : folder_(std::move(program_folder)), log_(log) {}

void TQlProxyControl::FormCreate() {
    ReadIEProxy(SavedProxy);
    GetProxyListen();
    // A snapshot that points at our own proxy is what an earlier run left:
    // restoring it would keep the browser on a proxy that is gone.
    if (!ListenIp.empty() && SavedProxy.Host.find(ListenIp) != std::string::npos &&
        ListenPort == SavedProxy.Port) {
        SavedProxy = TPROXY{};
    }
}

bool TQlProxyControl::GetIniData() {
    std::string ini = folder_ + TARVOSPEED_INI;
    std::string wrap = ini_string("server", "proxy_wrap_process", ini);
    WrapParam = ini_string("server", "proxy_wrap_param", ini);
    WrapStopParam = ini_string("server", "proxy_wrap_stop_param", ini);
    ProxyProcess = ini_string("server", "proxy_process", ini);
    GrabDelay = platform::profile_read_int("media", "GrabDelay", DEFAULT_GRAB_DELAY, ini.c_str());
    DownloadPage = ini_string("web", "download_page", ini);
    WrapProcess = folder_ + wrap;
    return !wrap.empty();
}

bool TQlProxyControl::GetProxyListen() {
    std::string ini = folder_ + TARVOPROXY_INI;
    ListenIp = ini_string("proxy", "listen_ip", ini);
    int port = 0;
    ListenPort = parse_int(ini_string("proxy", "listen_port", ini), port) ? port : 0;
    return true;
}

bool TQlProxyControl::StartProcess(const std::string& path, const std::string& params) {
    log_.Add("StartProcess", "启动进程: " + path + " " + params);
    return platform::process_create_detached("\"" + path + "\" " + params, nullptr) == 0;
}

void TQlProxyControl::ServiceStart() {
    log_.Add("ServiceStart", "before GetIniData");
    if (!GetIniData()) {
        log_.Add("ServiceStart", "GetIniData failed.");
        return;
    }
    log_.Add("ServiceStart", "after GetIniData");
    std::string saved = platform::current_folder();
    platform::set_current_folder(folder_);
    if (!StartProcess(WrapProcess, WrapParam)) {
        // Kept in the log, where a user or a test can see why nothing runs.
        log_.Add("ServiceStart", "启动代理服务失败! " + WrapProcess + " - " + WrapParam);
    }
    if (!saved.empty()) platform::set_current_folder(saved);
}

void TQlProxyControl::ServiceStop() {
    log_.Add("ServiceStop", "before GetIniData");
    if (GetIniData()) {
        platform::set_current_folder(folder_);
        StopProcesses();
    }
    RestoreIEProxy();
}

void TQlProxyControl::StopProcesses() {
    std::string wrapper = file_name_part(WrapProcess);
    if (ProcessExists(wrapper)) {
        log_.Add("StopProcesses", "find out proxy wrapper process in processes list. killing...");
        KillProcesses(wrapper);
        log_.Add("StopProcesses", "after kill the proxy wrapper process.");
    }
    std::string proxy = file_name_part(ProxyProcess);
    if (ProcessExists(proxy)) {
        log_.Add("StopProcesses", "find out proxy process in processes list. killing...");
        KillProcesses(proxy);
        log_.Add("StopProcesses", "after kill the proxy process.");
    }
}

bool TQlProxyControl::ProcessExists(const std::string& name) {
    bool found = false;
    for_each_named(file_name_part(name), true, [&](const platform::ProcessEntry&) {
        found = true;
        return false;
    });
    return found;
}

void TQlProxyControl::KillProcesses(const std::string& name) {
    for_each_named(name, false, [](const platform::ProcessEntry& p) {
        platform::process_terminate(p.pid);
        return true;
    });
}

void TQlProxyControl::ReadIEProxy(TPROXY& proxy) {
    platform::BrowserProxyStored stored;
    if (platform::browser_proxy_read(stored) != 0) return;
    proxy.Enabled = stored.enable.value_or(0) != 0;
    split_proxy_server(stored.server.value_or(""), proxy);
}

void TQlProxyControl::ApplyIEProxy(const std::string& host, int port, bool enabled) {
    platform::BrowserProxyOptions opts;
    opts.enabled = enabled;
    opts.server = host + ":" + std::to_string(port);
    opts.host = host;
    opts.port = port;
    platform::browser_proxy_write(nullptr, opts);  // the LAN: no bypass list
    std::vector<std::string> entries;
    platform::browser_proxy_entries(entries);
    for (const std::string& entry : entries) {
        platform::BrowserProxyOptions dial = opts;
        dial.bypass = entry;  // the bypass list takes the connection's name
        platform::browser_proxy_write(entry.c_str(), dial);
    }
    platform::desktop_proxy_write(opts);
}

void TQlProxyControl::RestoreIEProxy() {
    ApplyIEProxy(SavedProxy.Host, SavedProxy.Port, SavedProxy.Enabled);
}

}  // namespace tarvospeed
