#include "platform/browser_proxy.h"

#include "platform/process.h"
#include "platform/registry.h"

#include <cerrno>

namespace platform {

int browser_proxy_read(BrowserProxyStored& out) {
    out = {};
    RegKey key;
    if (RegKey::open(RegRoot::current_user, BROWSER_PROXY_KEY, key) != 0) return -1;
    RegValue v;
    if (key.query("ProxyEnable", v) == 0 && v.type == RegType::dword) out.enable = v.dword;
    if (key.query("ProxyServer", v) == 0 && v.type == RegType::string) out.server = v.text;
    if (key.query("ProxyOverride", v) == 0 && v.type == RegType::string) out.bypass = v.text;
    return 0;
}

int browser_proxy_entries(std::vector<std::string>& out) {
    out.clear();
    RegKey book;
    if (RegKey::open(RegRoot::current_user, BROWSER_PHONEBOOK_KEY, book) != 0)
        return errno == ENOENT ? 0 : -1;
    std::vector<std::string> names;
    if (book.value_names(names) != 0) return errno == ENOENT ? 0 : -1;
    for (auto& n : names) {
        if (static_cast<int>(out.size()) >= BROWSER_PROXY_MAX_ENTRIES) break;
        if (!n.empty()) out.push_back(n);
    }
    return 0;
}

int browser_proxy_write(const char* entry, const BrowserProxyOptions& opts) {
    std::string path = BROWSER_PROXY_KEY;
    if (entry != nullptr && entry[0] != '\0') {
        // An entry name is one key name: a separator in it must not open
        // another path.
        std::string name = entry;
        for (char& c : name) {
            if (c == '\\' || c == '/') c = '_';
        }
        path += std::string("\\") + BROWSER_PROXY_CONNECTIONS + "\\" + name;
    }
    RegKey key;
    if (RegKey::create(RegRoot::current_user, path, key) != 0) return -1;
    if (key.set_dword("ProxyEnable", opts.enabled ? 1u : 0u) != 0) return -1;
    if (key.set_string("ProxyServer", opts.server) != 0) return -1;
    if (opts.bypass && key.set_string("ProxyOverride", *opts.bypass) != 0) return -1;
    return 0;
}

// ---------------------------------------------------------------------------
// The desktop setting, through the gsettings tool.

static std::string gvariant_string(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    out += '\'';
    return out;
}

// Windows writes a bypass list as entries split by ';' (blanks allowed).
static std::string gvariant_string_list(const std::string& list) {
    std::vector<std::string> items;
    std::string cur;
    auto flush = [&]() {
        std::size_t b = cur.find_first_not_of(" \t");
        std::size_t e = cur.find_last_not_of(" \t");
        if (b != std::string::npos) items.push_back(cur.substr(b, e - b + 1));
        cur.clear();
    };
    for (char c : list) {
        if (c == ';')
            flush();
        else
            cur += c;
    }
    flush();
    if (items.empty()) return "@as []";
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); i++) {
        if (i) out += ", ";
        out += gvariant_string(items[i]);
    }
    return out + "]";
}

static int gsettings(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"gsettings"};
    argv.insert(argv.end(), args.begin(), args.end());
    int code = -1;
    if (process_run_wait(argv, &code) != 0) return -1;
    return code;
}

int desktop_proxy_write(const BrowserProxyOptions& opts) {
    if (program_locate("gsettings").empty()) return 1;
    const std::string schema = DESKTOP_PROXY_SCHEMA;
    if (gsettings({"list-keys", schema}) != 0) return 1;

    int failed = 0;
    auto set = [&](const std::string& s, const char* key, const std::string& value) {
        if (gsettings({"set", s, key, value}) != 0) failed = 1;
    };
    if (!opts.enabled) {
        set(schema, "mode", "'none'");
        return failed ? -1 : 0;
    }
    // Host and port first, so that a browser reading "manual" finds them.
    for (const char* scheme : {".http", ".https"}) {
        set(schema + scheme, "host", gvariant_string(opts.host));
        set(schema + scheme, "port",
            std::to_string(opts.port > 0 && opts.port < 65536 ? opts.port : 0));
    }
    if (opts.bypass) set(schema, "ignore-hosts", gvariant_string_list(*opts.bypass));
    set(schema, "mode", "'manual'");
    return failed ? -1 : 0;
}

int browser_proxy_apply(const BrowserProxyOptions& opts) {
    int result = 0;
    if (browser_proxy_write(nullptr, opts) != 0) result = -1;
    std::vector<std::string> entries;
    if (browser_proxy_entries(entries) != 0) result = -1;
    for (auto& e : entries) {
        if (browser_proxy_write(e.c_str(), opts) != 0) result = -1;
    }
    if (desktop_proxy_write(opts) < 0) result = -1;
    return result;
}

}  // namespace platform
