// The ffdshow adjustment at program start, in the registry file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FfdshowSettings.h"
#include "platform/registry.h"
#include "test_support.h"

namespace {

class FfdshowTest : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("TARVO_REGISTRY", dir_.file("registry.reg").c_str(), 1); }
    void TearDown() override { ::unsetenv("TARVO_REGISTRY"); }

    std::string UseOnlyIn(const char* path) {
        platform::RegKey key;
        platform::RegValue v;
        if (platform::RegKey::open(platform::RegRoot::current_user, path, key) != 0 ||
            key.query("useonlyin", v) != 0)
            return "<none>";
        return v.text;
    }
    tarvo_test::TempDir dir_;
};

TEST(FfdshowPrograms, ListIsCleanedAndEndsWithThisProgramOnce) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"", "tarvospeed"},
        {"tarvospeed;player.exe;TARVOSPEED", "player.exe;tarvospeed"},
        {"DuDozi.exe\r\nvlc.exe\r\n\r\ndudozi.EXE", "vlc.exe;tarvospeed"},
        {"a.exe;;b.exe;tarvospeed", "a.exe;b.exe;tarvospeed"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& p :
             ffdshow_adjust_programs(ffdshow_split_programs(c.before), "tarvospeed"))
            joined += (joined.empty() ? "" : ";") + p;
        EXPECT_EQ(joined, c.after) << c.before;
    }
}

TEST_F(FfdshowTest, BothKeysAreCreatedAndAdjusted) {
    platform::RegKey video;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::current_user, kFfdshowVideoKey, video),
              0);
    ASSERT_EQ(video.set_dword("trayIcon", 1), 0);
    ASSERT_EQ(video.set_string("useonlyin", "tarvospeed;DuDozi.exe;mplayer.exe;tarvospeed"), 0);
    ASSERT_EQ(ffdshow_adjust("tarvospeed"), 0);
    for (const char* path : {kFfdshowVideoKey, kFfdshowAudioKey}) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::open(platform::RegRoot::current_user, path, key), 0) << path;
        platform::RegValue tray;
        ASSERT_EQ(key.query("trayIcon", tray), 0);
        EXPECT_EQ(tray.type, platform::RegType::dword);
        EXPECT_EQ(tray.dword, 0u);
    }
    EXPECT_EQ(UseOnlyIn(kFfdshowVideoKey), "mplayer.exe;tarvospeed");
    EXPECT_EQ(UseOnlyIn(kFfdshowAudioKey), "tarvospeed");
    // Running again changes nothing.
    ASSERT_EQ(ffdshow_adjust("tarvospeed"), 0);
    EXPECT_EQ(UseOnlyIn(kFfdshowVideoKey), "mplayer.exe;tarvospeed");
}

}  // namespace
