// tarvomonitor/ie_proxy: the browser's proxy setting as the monitor sees it.
#pragma once

#include "global.h"

// Reads the LAN setting into `out` (cleared first): ProxyEnable's low byte,
// ProxyServer (not read when longer than PROXY_TEXT_MAX), and host and port
// split at its first ":". 0, or -1 when the key cannot be opened (`out`
// stays empty: not enabled, no host, port 0).
int GetIEProxyConfig(PROXY_INFO& out);

// Points the browser (LAN, every dial-up entry, the desktop setting) at
// `proxy`: enabled → "host:port" with the bypass list "local"; not enabled →
// direct access with an empty server. Prints "Proxy Server: ..." first and
// "Write registry failed." when a write failed. Returns 0.
int SetIEProxyConfig(const PROXY_INFO& proxy);

// Splits a proxy text into host (before the first ":") and port (the number
// after it, 0 when there is none).
void proxy_split_server(const std::string& server, std::string& host, int& port);
