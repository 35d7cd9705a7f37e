// What the monitor's tests share: a private folder holding the registry file,
// the GSettings keyfile and a uniquely named copy of the stand-in child (so
// that no other test's processes can match its name), and polling helpers.
#pragma once

#include "platform/child_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace monitor_test {

class MonitorDir {
  public:
    MonitorDir();
    ~MonitorDir();  // ends every process named by a pid file here, removes the folder

    std::string path() const { return dir_.str(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::string& child_name() const { return child_name_; }  // file name of the copy
    std::string child_path() const { return file(child_name_); }

    // Environment for the programs and for this process: the registry file and
    // a keyfile GSettings back end inside the folder.
    std::vector<std::pair<std::string, std::string>> env() const;
    void apply_env() const;  // setenv() the same in this process
    platform::ChildOptions options() const;

    std::string keyfile() const { return file("xdg/glib-2.0/settings/keyfile"); }

  private:
    tarvo_test::TempDir dir_;
    std::string child_name_;
};

using tarvo_test::read_file;
using tarvo_test::wait_until;
using tarvo_test::write_file;

int count_lines(const std::string& path);

// A process that exists and is not a zombie.
inline bool pid_alive(int pid) { return tarvo_test::process_alive(pid); }
// The pid in a pid file, or -1.
int read_pid(const std::string& path);

// The value of `key` in `[section]` of a GSettings keyfile, "" when absent.
std::string keyfile_value(const std::string& keyfile, const std::string& section,
                          const std::string& key);
using tarvo_test::desktop_proxy_schema_installed;

// The stored LAN setting (or a dial-up entry's) as "enable|server|bypass",
// "-" for a missing value.
std::string lan_setting(const char* entry = nullptr);
// Writes the LAN setting of the user's browser.
void set_lan(bool enabled, const std::string& server);

}  // namespace monitor_test
