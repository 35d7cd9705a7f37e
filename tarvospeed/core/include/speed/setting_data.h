// TSettingData: the cache folder and the space limit the desktop program
// shares with the proxy through the registry (HKEY_LOCAL_MACHINE,
// "\Software\Quorlen\Productions\06", values "CachePath" and "MaxSpace").
//
// Paths are this system's paths: a stored value is read with "\" as "/", and a
// Windows drive ("C:") is dropped, as the proxy reads it.
#pragma once

#include <string>

namespace tarvospeed {

constexpr const char* SETTINGS_REGISTRY_KEY = "\\Software\\Quorlen\\Productions\\06";
constexpr int DEFAULT_MAX_SPACE_MB = 1000;

struct TSettingData {
    std::string CachePath;  // the cache folder, ending with "/"
    int MaxSpace = 0;       // megabytes
};

// The one record of the program, loaded before any window exists.
TSettingData& setting_data();

// Reads the registry into `data`. A key that cannot be opened leaves `data`
// as it is. An empty CachePath becomes ".\cache\"; that exact value (letter
// case counts; "./cache/" is its twin) is expanded against `program_folder`
// and the full path written back (a failed write is not reported). A MaxSpace
// of 0 becomes 1000.
void LoadSettings(TSettingData& data, const std::string& program_folder);

// Writes both values; 0, or -1.
int SaveSettings(const TSettingData& data);

}  // namespace tarvospeed
