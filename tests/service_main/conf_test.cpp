// Reading tarvoproxy.ini and the registry into the settings record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "acl_msg.h"
#include "platform/registry.h"
#include "service_conf.h"
#include "service_registry.h"
#include "test_support.h"

using tarvo_test::TempDir;

namespace {

class ReadConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TARVO_REGISTRY", dir_.file("registry.reg").c_str(), 1);
        conf_.program_folder = dir_.folder();
        conf_.config_path = dir_.file("tarvoproxy.ini");
        acl_msg_open(dir_.file("test.log").c_str(), "log");
    }
    void TearDown() override { acl_msg_close(); }

    void set_registry(const char* name, const char* text) {
        ASSERT_EQ(registry_write_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY,
                                        name, text),
                  0);
    }
    int count(const std::string& needle) {
        std::string log = tarvo_test::read_file(dir_.file("test.log"));
        int n = 0;
        for (size_t pos = log.find(needle); pos != std::string::npos;
             pos = log.find(needle, pos + 1))
            n++;
        return n;
    }

    TempDir dir_;
    SERVICE_CONF conf_;
};

TEST_F(ReadConfig, WithoutIniEveryDefaultAppliesAndFourStringKeysAreReported) {
    ASSERT_EQ(_read_config(&conf_), 0);
    EXPECT_EQ(conf_.debug_level, "");
    EXPECT_EQ(conf_.listen_ip, "127.0.0.1");
    EXPECT_EQ(conf_.listen_port, 28081);
    EXPECT_EQ(conf_.http_max_threads, 5);
    EXPECT_EQ(conf_.session_ip, SERVICE_DEFAULT_SESSION_IP);
    EXPECT_EQ(conf_.session_port, 7000);
    EXPECT_EQ(conf_.logsvr_ip, SERVICE_DEFAULT_LOGSVR_IP);
    EXPECT_EQ(conf_.logsvr_port, 8887);
    EXPECT_EQ(conf_.use_p2p, 0);
    EXPECT_EQ(conf_.cap_title, 0);
    EXPECT_EQ(count("read ini file (" + conf_.config_path + ") error("), 4);

    // No registry at all: 1000 MiB, the whole quota left, the cache next to the program.
    EXPECT_EQ(conf_.max_space, 1000ULL * 1048576ULL);
    EXPECT_EQ(conf_.space_left, conf_.max_space);
    EXPECT_EQ(conf_.client_id, 0u);
    EXPECT_EQ(conf_.cache_path, conf_.program_folder + "cache/");
    EXPECT_TRUE(std::filesystem::is_directory(conf_.cache_path));
}

TEST_F(ReadConfig, IniAndRegistryValuesAreUsed) {
    tarvo_test::write_file(
        conf_.config_path,
        "[DEBUG]\r\nDebug_Level = 20:2 \r\n[proxy]\r\nlisten_ip=\"10.1.2.3\"\r\n"
        "listen_port=3128\r\nhttp_max_threads=8\r\n[server]\r\nsession_ip=s\r\n"
        "logsvr_ip=l\r\nlogsvr_port=99\r\n[p2p]\r\nuse_p2p=1\r\ncap_title=1\r\n");
    set_registry("CachePath", "videos/flv");
    ASSERT_EQ(
        registry_write_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "MaxSpace", 20),
        0);
    ASSERT_EQ(registry_write_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "ClientId",
                                 4711),
              0);
    set_registry("SpaceUsed", "12345678901");

    ASSERT_EQ(_read_config(&conf_), 0);
    EXPECT_EQ(conf_.debug_level, "20:2");
    EXPECT_EQ(conf_.listen_ip, "10.1.2.3");
    EXPECT_EQ(conf_.listen_port, 3128);
    EXPECT_EQ(conf_.http_max_threads, 8);
    EXPECT_EQ(conf_.logsvr_port, 99);
    EXPECT_EQ(conf_.use_p2p, 1);
    EXPECT_EQ(conf_.cap_title, 1);
    EXPECT_EQ(count("read ini file"), 0);
    EXPECT_EQ(conf_.max_space, 20ULL * 1048576ULL);
    EXPECT_EQ(conf_.client_id, 4711u);
    EXPECT_EQ(conf_.space_left, 12345678901ULL);
    EXPECT_EQ(conf_.cache_path, conf_.program_folder + "videos/flv/");
    EXPECT_TRUE(std::filesystem::is_directory(conf_.cache_path));
}

TEST_F(ReadConfig, EmptySpaceUsedSeedsTheWholeQuota) {
    set_registry("SpaceUsed", "");
    ASSERT_EQ(_read_config(&conf_), 0);
    EXPECT_EQ(conf_.space_left, 1000ULL * 1048576ULL);
}

TEST_F(ReadConfig, AbsoluteCacheFolderIsCreatedWithItsParents) {
    std::string deep = dir_.str() + "/a/b/c";
    set_registry("CachePath", deep.c_str());
    ASSERT_EQ(_read_config(&conf_), 0);
    EXPECT_EQ(conf_.cache_path, deep + "/");
    EXPECT_TRUE(std::filesystem::is_directory(deep));
}

TEST_F(ReadConfig, CacheFolderThatCannotBeMadeFails) {
    tarvo_test::write_file(dir_.file("plain"), "x");
    set_registry("CachePath", (dir_.str() + "/plain/sub").c_str());
    EXPECT_EQ(_read_config(&conf_), -1);
}

TEST(CacheFolder, ValuesMapToFolders) {
    struct Case {
        const char* value;
        const char* folder;
    };
    const Case cases[] = {
        {"cache", "/opt/tarvo/cache/"},
        {"cache\\", "/opt/tarvo/cache/"},
        {".\\cache\\", "/opt/tarvo/./cache/"},
        {"/var/videos", "/var/videos/"},
        {"/var/videos/", "/var/videos/"},
        {"C:\\videos\\flv", "/videos/flv/"},
        {"d:/videos", "/videos/"},
        {"", "/opt/tarvo/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(service_cache_folder("/opt/tarvo/", c.value), c.folder) << c.value;
}

TEST_F(ReadConfig, RegistryReadsReportFailures) {
    char buf[8];
    std::uint32_t v = 0;
    EXPECT_EQ(registry_read_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY,
                                   "CachePath", buf, sizeof(buf)),
              -1);
    EXPECT_EQ(count("RegOpenKeyEx error."), 1);
    set_registry("CachePath", "12345678");  // 9 bytes with the terminator
    EXPECT_EQ(registry_read_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY,
                                   "CachePath", buf, sizeof(buf)),
              -1);
    EXPECT_EQ(count("value_len < value_size."), 1);
    EXPECT_EQ(
        registry_read_int(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "MaxSpace", &v),
        -1);
    EXPECT_EQ(count("RegQueryValueEx get value size error."), 1);
}

}  // namespace
