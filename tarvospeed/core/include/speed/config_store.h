// What the settings dialog reads and writes: the cache record (setting_data.h),
// the folder check, and starting with the desktop session.
//
// Auto-start has two homes: the registry's Run value "tarvospeed"
// (HKEY_LOCAL_MACHINE "\Software\Microsoft\Windows\CurrentVersion\Run", the
// program's full path), and its Linux twin, the XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/tarvospeed.desktop" (~/.config when unset),
// which desktop sessions start. Saving deletes the old value "DuDozi".
#pragma once

#include <string>

#include "speed/setting_data.h"

namespace tarvospeed {

constexpr const char* RUN_KEY = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* RUN_VALUE = "tarvospeed";
constexpr int MIN_SPACE_MB = 100;

// true when the folder exists and may be written, or when it is missing,
// `create` is set and it could be made. Otherwise false with the message:
// "请选择一个有效目录" (missing) or "您选择的目录不可写入" (read-only).
bool FolderCheck(const std::string& path, bool create, std::string& message);

bool ReadAutoStart();
// Writes (or removes) both homes. 0, or -1 when one failed.
int WriteAutoStart(bool on, const std::string& program_path);
std::string AutoStartFile();

}  // namespace tarvospeed
