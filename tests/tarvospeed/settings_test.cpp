#include "speed/setting_data.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "speed_fixture.h"

namespace {

using tarvospeed::TSettingData;

struct SettingsCase {
    const char* what;
    const char* cache;       // null: no value
    int max_space;           // -1: no value
    const char* want_cache;  // "@" stands for the program folder
    int want_space;
    const char* want_stored;  // the registry's CachePath afterwards ("@" as above)
};

const SettingsCase settings_cases[] = {
    {"no CachePath value", nullptr, 500, "@cache/", 500, "@cache/"},
    {"the default text expands", ".\\cache\\", 500, "@cache/", 500, "@cache/"},
    {"letter case counts", ".\\CACHE\\", 500, "./CACHE/", 500, ".\\CACHE\\"},
    {"a Windows path", "C:\\videos", 200, "/videos/", 200, "C:\\videos"},
    {"MaxSpace 0", "/v/", 0, "/v/", 1000, "/v/"},
    {"no MaxSpace", "/v/", -1, "/v/", 1000, "/v/"},
};

std::string at(const char* s, const std::string& folder) {
    std::string t = s;
    if (!t.empty() && t[0] == '@') t = folder + t.substr(1);
    return t;
}

TEST(Settings, LoadFollowsTheRegistry) {
    for (const auto& c : settings_cases) {
        SCOPED_TRACE(c.what);
        speed_test::SpeedEnv env;
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::local_machine,
                                           tarvospeed::SETTINGS_REGISTRY_KEY, key),
                  0);
        if (c.cache) key.set_string("CachePath", c.cache);
        if (c.max_space >= 0) key.set_dword("MaxSpace", static_cast<std::uint32_t>(c.max_space));
        TSettingData d;
        tarvospeed::LoadSettings(d, env.dir.folder());
        EXPECT_EQ(d.CachePath, at(c.want_cache, env.dir.folder()));
        EXPECT_EQ(d.MaxSpace, c.want_space);
        platform::RegValue v;
        ASSERT_EQ(key.query("CachePath", v), 0);
        EXPECT_EQ(v.text, at(c.want_stored, env.dir.folder()));
    }
}

TEST(Settings, MissingKeyLeavesTheRecord) {
    speed_test::SpeedEnv env;
    TSettingData d{"/kept/", 7};
    tarvospeed::LoadSettings(d, env.dir.folder());
    EXPECT_EQ(d.CachePath, "/kept/");
    EXPECT_EQ(d.MaxSpace, 7);
}

TEST(Settings, SaveWritesBothValues) {
    speed_test::SpeedEnv env;
    ASSERT_EQ(tarvospeed::SaveSettings({"/videos/", 2048}), 0);
    TSettingData d;
    tarvospeed::LoadSettings(d, env.dir.folder());
    EXPECT_EQ(d.CachePath, "/videos/");
    EXPECT_EQ(d.MaxSpace, 2048);
}

}  // namespace
