#include "speed/config_store.h"

#include <cstdlib>

#include "platform/file.h"
#include "platform/folder_walk.h"
#include "platform/registry.h"

namespace tarvospeed {

bool FolderCheck(const std::string& path, bool create, std::string& message) {
    switch (platform::folder_state(path)) {
        case platform::FolderState::writable:
            return true;
        case platform::FolderState::read_only:
            message = "您选择的目录不可写入";
            return false;
        case platform::FolderState::missing:
            if (create && platform::make_folders(path.c_str()) == 0) return true;
            message = "请选择一个有效目录";
            return false;
    }
    return false;
}

std::string AutoStartFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/autostart/tarvospeed.desktop";
}

bool ReadAutoStart() {
    platform::RegKey key;
    platform::RegValue v;
    return platform::RegKey::open(platform::RegRoot::local_machine, RUN_KEY, key) == 0 &&
           key.query(RUN_VALUE, v) == 0 && !v.text.empty();
}

int WriteAutoStart(bool on, const std::string& program_path) {
    int result = 0;
    platform::RegKey key;
    if (platform::RegKey::create(platform::RegRoot::local_machine, RUN_KEY, key) == 0) {
        key.delete_value("DuDozi");
        if (on) {
            if (key.set_string(RUN_VALUE, program_path) != 0) result = -1;
        } else {
            key.delete_value(RUN_VALUE);
        }
    }
    std::string file = AutoStartFile();
    if (on) {
        std::string folder = file.substr(0, file.rfind('/'));
        if (platform::make_folders(folder.c_str()) != 0 ||
            platform::file_replace(file.c_str(),
                                   "[Desktop Entry]\nType=Application\nName=tarvospeed\n"
                                   "Exec=\"" +
                                       program_path + "\"\nX-GNOME-Autostart-enabled=true\n") != 0)
            result = -1;
    } else {
        platform::file_remove(file);
    }
    return result;
}

}  // namespace tarvospeed
