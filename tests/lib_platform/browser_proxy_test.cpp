// The browser proxy setting in the registry file and in the desktop's
// GSettings (keyfile back end in a private folder).

#include "platform/browser_proxy.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class BrowserProxyTest : public ::testing::Test {
  protected:
    tarvo_test::TempDir dir;
    void SetUp() override {
        ::setenv("TARVO_REGISTRY", dir.file("registry.reg").c_str(), 1);
        ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
        ::setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
    }

    std::string keyfile() {
        return tarvo_test::read_file(dir.file("xdg/glib-2.0/settings/keyfile"));
    }
    // The setting that sends the browser through host:port.
    static platform::BrowserProxyOptions proxy_on(const std::string& host, int port,
                                                  const std::string& bypass) {
        platform::BrowserProxyOptions on;
        on.enabled = true;
        on.server = host + ":" + std::to_string(port);
        on.bypass = bypass;
        on.host = host;
        on.port = port;
        return on;
    }
    static std::string stored(const platform::BrowserProxyStored& s) {
        return (s.enable ? std::to_string(*s.enable) : "-") + "|" + s.server.value_or("-") + "|" +
               s.bypass.value_or("-");
    }
};

TEST_F(BrowserProxyTest, LanAndDialUpEntries) {
    platform::BrowserProxyStored s;
    EXPECT_EQ(platform::browser_proxy_read(s), -1);  // nothing stored yet

    std::vector<std::string> entries;
    ASSERT_EQ(platform::browser_proxy_entries(entries), 0);  // no phone book: none
    EXPECT_TRUE(entries.empty());

    platform::RegKey book;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::current_user,
                                       platform::BROWSER_PHONEBOOK_KEY, book),
              0);
    for (int i = 0; i < 40; i++) ASSERT_EQ(book.set_string("Dial " + std::to_string(i), ""), 0);
    ASSERT_EQ(book.set_string("Odd\\Name", ""), 0);
    ASSERT_EQ(platform::browser_proxy_entries(entries), 0);
    ASSERT_EQ(entries.size(), static_cast<size_t>(platform::BROWSER_PROXY_MAX_ENTRIES));
    EXPECT_EQ(entries[0], "Dial 0");

    platform::BrowserProxyOptions on = proxy_on("127.0.0.1", 28081, "local");
    EXPECT_EQ(platform::browser_proxy_apply(on), 0);
    ASSERT_EQ(platform::browser_proxy_read(s), 0);
    EXPECT_EQ(stored(s), "1|127.0.0.1:28081|local");

    auto entry_setting = [](const std::string& name) {
        platform::RegKey k;
        std::string path = std::string(platform::BROWSER_PROXY_KEY) + "\\Connections\\" + name;
        if (platform::RegKey::open(platform::RegRoot::current_user, path, k) != 0)
            return std::string("no key");
        platform::RegValue a, b;
        k.query("ProxyEnable", a);
        k.query("ProxyServer", b);
        return std::to_string(a.dword) + "|" + b.text;
    };
    EXPECT_EQ(entry_setting("Dial 0"), "1|127.0.0.1:28081");
    EXPECT_EQ(entry_setting("Dial 31"), "1|127.0.0.1:28081");
    EXPECT_EQ(entry_setting("Dial 32"), "no key");  // beyond the 32 used

    // Off: direct access, empty server, the bypass list left as it was.
    platform::BrowserProxyOptions off;
    EXPECT_EQ(platform::browser_proxy_apply(off), 0);
    ASSERT_EQ(platform::browser_proxy_read(s), 0);
    EXPECT_EQ(stored(s), "0||local");
    EXPECT_EQ(entry_setting("Dial 5"), "0|");

    // An entry name is one key, whatever it holds.
    EXPECT_EQ(platform::browser_proxy_write("a\\b", on), 0);
    EXPECT_EQ(entry_setting("a_b"), "1|127.0.0.1:28081");
}

TEST_F(BrowserProxyTest, DesktopSetting) {
    if (!tarvo_test::desktop_proxy_schema_installed())
        GTEST_SKIP() << "the desktop proxy schema is not installed here";
    platform::BrowserProxyOptions on = proxy_on("10.0.0.1", 3128, "local; *.lan;;");
    ASSERT_EQ(platform::desktop_proxy_write(on), 0);
    std::string kf = keyfile();
    EXPECT_NE(kf.find("[system/proxy/http]\nhost='10.0.0.1'\nport=3128"), std::string::npos) << kf;
    EXPECT_NE(kf.find("[system/proxy/https]\nhost='10.0.0.1'\nport=3128"), std::string::npos) << kf;
    EXPECT_NE(kf.find("ignore-hosts=['local', '*.lan']"), std::string::npos) << kf;
    EXPECT_NE(kf.find("mode='manual'"), std::string::npos) << kf;

    on.host = "it's";
    on.bypass = "";
    ASSERT_EQ(platform::desktop_proxy_write(on), 0);
    kf = keyfile();
    EXPECT_NE(kf.find("host=\"it's\""), std::string::npos) << kf;
    EXPECT_NE(kf.find("ignore-hosts=[]\n"), std::string::npos) << kf;

    platform::BrowserProxyOptions off;
    ASSERT_EQ(platform::desktop_proxy_write(off), 0);
    EXPECT_NE(keyfile().find("mode='none'"), std::string::npos) << keyfile();
}

TEST_F(BrowserProxyTest, AbsentSchemaIsNoError) {
    // With no schema anywhere on the data path the desktop part does nothing.
    fs::create_directories(dir.path() / "empty");
    const char* old = std::getenv("XDG_DATA_DIRS");
    std::string saved = old ? old : "";
    ::setenv("XDG_DATA_DIRS", (dir.path() / "empty").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir.path() / "empty").c_str(), 1);
    platform::BrowserProxyOptions on;
    on.enabled = true;
    on.host = "h";
    on.port = 1;
    EXPECT_EQ(platform::desktop_proxy_write(on), 1);
    EXPECT_EQ(platform::browser_proxy_apply(on), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "xdg/glib-2.0/settings/keyfile"));
    if (old)
        ::setenv("XDG_DATA_DIRS", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_DIRS");
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
