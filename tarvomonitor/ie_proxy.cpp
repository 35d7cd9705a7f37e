#include "ie_proxy.h"

#include "platform/browser_proxy.h"

#include <cstdio>
#include <cstdlib>

void proxy_split_server(const std::string& server, std::string& host, int& port) {
    auto colon = server.find(':');
    if (colon == std::string::npos) {
        host = server;
        port = 0;
        return;
    }
    host = server.substr(0, colon);
    port = std::atoi(server.c_str() + colon + 1);
}

int GetIEProxyConfig(PROXY_INFO& out) {
    out = PROXY_INFO();
    platform::BrowserProxyStored stored;
    if (platform::browser_proxy_read(stored) != 0) return -1;
    if (stored.enable) out.enabled = static_cast<unsigned char>(*stored.enable & 0xff);
    if (stored.server && stored.server->size() <= PROXY_TEXT_MAX) out.server = *stored.server;
    proxy_split_server(out.server, out.host, out.port);
    return 0;
}

int SetIEProxyConfig(const PROXY_INFO& proxy) {
    monitor_status("Proxy Server: %s     Port: %d", proxy.host.c_str(), proxy.port);

    char text[PROXY_TEXT_MAX + 32];
    std::snprintf(text, sizeof(text), "%s:%d", proxy.host.c_str(), proxy.port);

    platform::BrowserProxyOptions opts;
    opts.enabled = proxy.enabled != 0;
    opts.host = proxy.host;
    opts.port = proxy.port;
    if (opts.enabled) {
        opts.server = text;
        opts.bypass = WATCH_BYPASS_LIST;
    }
    if (platform::browser_proxy_apply(opts) != 0) monitor_status("Write registry failed.");
    return 0;
}
