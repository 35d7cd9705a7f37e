#include "speed/setting_data.h"

#include <cctype>

#include "platform/registry.h"

namespace tarvospeed {

namespace {

std::string as_folder(std::string value) {
    for (char& c : value)
        if (c == '\\') c = '/';
    if (value.size() >= 2 && std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':')
        value.erase(0, 2);
    if (!value.empty() && value.back() != '/') value += '/';
    return value;
}

}  // namespace

TSettingData& setting_data() {
    static TSettingData data;
    return data;
}

void LoadSettings(TSettingData& data, const std::string& program_folder) {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::local_machine, SETTINGS_REGISTRY_KEY, key) != 0)
        return;
    platform::RegValue v;
    std::string cache;
    if (key.query("CachePath", v) == 0 && v.type == platform::RegType::string) cache = v.text;
    if (cache.empty()) cache = ".\\cache\\";
    if (cache == ".\\cache\\" || cache == "./cache/") {
        cache = program_folder + "cache/";
        key.set_string("CachePath", cache);
    }
    data.CachePath = as_folder(cache);

    std::uint32_t space = 0;
    if (key.query("MaxSpace", v) == 0 && v.type == platform::RegType::dword) space = v.dword;
    data.MaxSpace = space == 0 ? DEFAULT_MAX_SPACE_MB : static_cast<int>(space);
}

int SaveSettings(const TSettingData& data) {
    platform::RegKey key;
    if (platform::RegKey::create(platform::RegRoot::local_machine, SETTINGS_REGISTRY_KEY, key) != 0)
        return -1;
    if (key.set_string("CachePath", data.CachePath) != 0) return -1;
    return key.set_dword("MaxSpace", static_cast<std::uint32_t>(data.MaxSpace));
}

}  // namespace tarvospeed
