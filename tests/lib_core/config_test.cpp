// The daemon configuration file's reading rules.

#include "lc_config.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstdlib>
#include <filesystem>

namespace {

class ConfigTest : public ::testing::Test {
  protected:
    tarvo_test::TempDir dir;
    std::string path = dir.file("test.conf");
    LC_CONFIG cfg;

    void load(const std::string& text) {
        tarvo_test::write_file(path, text);
        ASSERT_EQ(LC_ConfigLoad(&cfg, path.c_str()), 0);
    }
    std::string str(const char* key) {
        std::string v = "<unset>";
        LC_ConfigGetString(&cfg, key, v);
        return v;
    }
};

TEST_F(ConfigTest, StringRules) {
    load(
        "a=1\n"
        "a=2\n"       // the first line wins
        " b=space\n"  // the key must start the line
        "c =x\n"      // "=" must follow the key at once
        "d=\n"        // empty value: unset
        "e=x=y \n"    // the value is the rest of the line, blanks kept
        "F=upper\n"
        "garbage line\n"
        "g=last");  // no final LF
    EXPECT_EQ(str("a"), "1");
    EXPECT_EQ(str("b"), "<unset>");
    EXPECT_EQ(str("c"), "<unset>");
    EXPECT_EQ(str("d"), "<unset>");
    EXPECT_EQ(str("e"), "x=y ");
    EXPECT_EQ(str("f"), "<unset>");  // keys are case-sensitive
    EXPECT_EQ(str("F"), "upper");
    EXPECT_EQ(str("g"), "last");
    EXPECT_EQ(str(""), "<unset>");
}

TEST_F(ConfigTest, CrLfLinesKeepTheCrAndRejectIntegers) {
    load("exec_name=./tarvoproxy\r\np2p_proxy_port=28081\r\ntest_times=3\n");
    EXPECT_EQ(str("exec_name"), "./tarvoproxy\r");
    int port = -5;
    EXPECT_EQ(LC_ConfigGetInt(&cfg, "p2p_proxy_port", &port), -1);
    EXPECT_EQ(port, -5);
    int times = 0;
    EXPECT_EQ(LC_ConfigGetInt(&cfg, "test_times", &times), 0);
    EXPECT_EQ(times, 3);
}

TEST_F(ConfigTest, IntegerForms) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"+7", true, 7},
        {"-7", true, -7},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"99999999999999999999", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"5x", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
        {"--1", false, 0},
    };
    for (auto& c : cases) {
        load(std::string("n=") + c.text + "\n");
        int v = 12345;
        EXPECT_EQ(LC_ConfigGetInt(&cfg, "n", &v), c.ok ? 0 : -1) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 12345) << c.text;
    }
}

TEST_F(ConfigTest, LongValuesAreCut) {
    load("k=" + std::string(300, 'v') + "\n");
    EXPECT_EQ(str("k"), std::string(LC_CONFIG_TEXT_MAX, 'v'));
}

TEST_F(ConfigTest, MissingFileLeavesEveryKeyUnset) {
    load("k=v\n");
    EXPECT_EQ(LC_ConfigLoad(&cfg, (path + ".missing").c_str()), -1);
    EXPECT_EQ(str("k"), "<unset>");
}

}  // namespace
