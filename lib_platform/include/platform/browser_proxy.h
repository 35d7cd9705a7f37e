// The browser's proxy setting, shared by every program that points the browser
// somewhere (the monitor while the proxy runs, the desktop program when it
// puts the user's setting back).
//
// Where the setting lives:
//
//   - the registry file (see registry.h), as on Windows: under
//     HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings
//     the values "ProxyEnable" (dword, 1 = proxy on), "ProxyServer" (string)
//     and "ProxyOverride" (string, the bypass list, entries split by ';').
//     Those values are the LAN setting. Each dial-up entry of the phone book
//     has the same three values in the subkey "Connections\<entry name>".
//     The phone book is the key HKEY_CURRENT_USER\SOFTWARE\Microsoft\RAS Phonebook,
//     whose value names are the entry names (it is absent, so empty, by
//     default); at most BROWSER_PROXY_MAX_ENTRIES entries are used.
//   - the desktop's own proxy setting, which Linux browsers follow: GNOME's
//     "org.gnome.system.proxy" schema, written through the `gsettings` tool
//     (so whichever GSettings back end the environment selects receives it).
//     Proxy on: mode "manual", the HTTP and HTTPS proxies at host and port,
//     the bypass list into "ignore-hosts" when one is given. Proxy off: mode
//     "none". Where the tool or the schema is missing this part does nothing.
//
// Every call reads and writes the stores afresh; none keeps state. Callers
// that write from several threads serialise themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

constexpr const char* BROWSER_PROXY_KEY =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char* BROWSER_PROXY_CONNECTIONS = "Connections";  // subkey of the dial-up entries
constexpr const char* BROWSER_PHONEBOOK_KEY = "SOFTWARE\\Microsoft\\RAS Phonebook";
constexpr int BROWSER_PROXY_MAX_ENTRIES = 32;  // dial-up entries used at most
constexpr const char* DESKTOP_PROXY_SCHEMA = "org.gnome.system.proxy";

// One connection's proxy options, as the browser applies them.
struct BrowserProxyOptions {
    bool enabled = false;               // true: direct access plus proxy; false: direct only
    std::string server;                 // "ProxyServer" text, written either way
    std::optional<std::string> bypass;  // "ProxyOverride"; left alone when empty
    // The desktop setting needs host and port apart; they are the server the
    // caller built `server` from.
    std::string host;
    int port = 0;
};

// The LAN setting as stored. Each field is absent when its value is.
struct BrowserProxyStored {
    std::optional<std::uint32_t> enable;  // "ProxyEnable"
    std::optional<std::string> server;    // "ProxyServer"
    std::optional<std::string> bypass;    // "ProxyOverride"
};

// Reads the LAN setting. 0, or -1 (errno ENOENT) when the key does not exist.
int browser_proxy_read(BrowserProxyStored& out);

// Names of the dial-up entries of the phone book, in order, at most
// BROWSER_PROXY_MAX_ENTRIES. 0 (an absent phone book is empty), or -1 when
// the registry cannot be read.
int browser_proxy_entries(std::vector<std::string>& out);

// Writes `opts` for one connection: the LAN when `entry` is null or "", else
// the named dial-up entry. Creates the key when missing. 0, or -1.
int browser_proxy_write(const char* entry, const BrowserProxyOptions& opts);

// Writes `opts` into the desktop setting. 0 when written, 1 when the desktop
// has no such setting here (tool or schema missing), -1 when writing failed.
int desktop_proxy_write(const BrowserProxyOptions& opts);

// The whole switch: the LAN, every dial-up entry, then the desktop setting.
// 0 when every write worked, -1 when any failed (the others are still made).
int browser_proxy_apply(const BrowserProxyOptions& opts);

}  // namespace platform
