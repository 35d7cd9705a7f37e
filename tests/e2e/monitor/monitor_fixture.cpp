#include "monitor_fixture.h"

#include "platform/browser_proxy.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/self.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace monitor_test {

MonitorDir::MonitorDir() {
    static std::atomic<int> serial{0};
    child_name_ = "mtc" + std::to_string(platform::process_id()) + "_" + std::to_string(serial++);
    fs::copy_file(MONITOR_TEST_CHILD, child_path());
    fs::permissions(child_path(), fs::perms::owner_all, fs::perm_options::add);
}

// Processes other than this one started with `marker` in their environment:
// whatever the programs run from this folder started in turn.
static std::vector<int> processes_with_env(const std::string& marker) {
    std::vector<int> found;
    std::error_code ec;
    for (auto& entry : fs::directory_iterator("/proc", ec)) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        int pid = std::stoi(name);
        if (pid == platform::process_id()) continue;
        std::string env = read_file(entry.path() / "environ");
        if (env.compare(0, marker.size(), marker) == 0 ||
            env.find(std::string(1, '\0') + marker) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

MonitorDir::~MonitorDir() {
    // Whatever the test left running (a detached daemon, its child) ends here.
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(dir_.path(), ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, "_pid") == 0) {
            int pid = read_pid(entry.path().string());
            if (pid > 0 && pid_alive(pid)) platform::process_terminate(pid);
        }
    }
    // A daemon that ended (or was killed) while its watch ran gsettings leaves
    // that gsettings running: it would write the keyfile again after the
    // folder is gone. Everything that still carries the folder in its
    // environment ends before the folder is removed.
    const std::string marker = "XDG_CONFIG_HOME=" + file("xdg") + std::string(1, '\0');
    wait_until([&] {
        std::vector<int> left = processes_with_env(marker);
        for (int pid : left) platform::process_terminate(pid);
        return left.empty();
    });
}

std::vector<std::pair<std::string, std::string>> MonitorDir::env() const {
    return {{"TARVO_REGISTRY", file("registry.reg")},
            {"GSETTINGS_BACKEND", "keyfile"},
            {"XDG_CONFIG_HOME", file("xdg")}};
}

void MonitorDir::apply_env() const {
    for (auto& [k, v] : env()) ::setenv(k.c_str(), v.c_str(), 1);
}

platform::ChildOptions MonitorDir::options() const {
    platform::ChildOptions o;
    o.cwd = path();
    o.env = env();
    return o;
}

int count_lines(const std::string& path) {
    std::string text = read_file(path);
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

int read_pid(const std::string& path) {
    std::ifstream in(path);
    int pid = -1;
    if (!(in >> pid)) return -1;
    return pid;
}

std::string keyfile_value(const std::string& keyfile, const std::string& section,
                          const std::string& key) {
    std::istringstream in(read_file(keyfile));
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        if (inside && line.compare(0, key.size() + 1, key + "=") == 0)
            return line.substr(key.size() + 1);
    }
    return {};
}

std::string lan_setting(const char* entry) {
    std::string path = platform::BROWSER_PROXY_KEY;
    if (entry) path += std::string("\\Connections\\") + entry;
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::current_user, path, key) != 0) return "no key";
    platform::RegValue v;
    std::string out;
    out += key.query("ProxyEnable", v) == 0 ? std::to_string(v.dword) : "-";
    out += "|";
    out += key.query("ProxyServer", v) == 0 ? v.text : "-";
    out += "|";
    out += key.query("ProxyOverride", v) == 0 ? v.text : "-";
    return out;
}

void set_lan(bool enabled, const std::string& server) {
    platform::RegKey key;
    ASSERT_EQ(
        platform::RegKey::create(platform::RegRoot::current_user, platform::BROWSER_PROXY_KEY, key),
        0);
    ASSERT_EQ(key.set_dword("ProxyEnable", enabled ? 1 : 0), 0);
    ASSERT_EQ(key.set_string("ProxyServer", server), 0);
}

}  // namespace monitor_test
