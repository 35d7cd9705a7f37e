#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "test_support.h"

using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;

namespace {

using platform::profile_read_int;
using platform::profile_read_string;
using platform::profile_write_string;

struct ReadCase {
    const char* what;
    const char* text;  // file contents
    const char* section;
    const char* key;
    const char* def;
    std::size_t size;  // caller's buffer
    const char* want;
};

const ReadCase read_cases[] = {
    {"names ignore case", "[Main]\nCachePath=abc\n", "mAIN", "cachepath", "d", 64, "abc"},
    {"first key wins", "[s]\nk=one\nK=two\n", "s", "k", "d", 64, "one"},
    {"section named twice is searched in order", "[s]\na=1\n[t]\nk=x\n[S]\nk=second\n", "s", "k",
     "d", 64, "second"},
    {"key of another section is not taken", "[a]\nk=1\n[b]\nj=2\n", "b", "k", "d", 64, "d"},
    {"blanks around key and value", "[s]\n  k  =   v w  \t\n", "s", "k", "d", 64, "v w"},
    {"blanks then one pair of quotes", "[s]\nk = \"  spaced  \"  \n", "s", "k", "d", 64,
     "  spaced  "},
    {"single quotes", "[s]\nk='v'\n", "s", "k", "d", 64, "v"},
    {"only one pair of quotes", "[s]\nk=\"\"v\"\"\n", "s", "k", "d", 64, "\"v\""},
    {"unmatched quote kept", "[s]\nk=\"v\n", "s", "k", "d", 64, "\"v"},
    {"mixed quotes kept", "[s]\nk=\"v'\n", "s", "k", "d", 64, "\"v'"},
    {"empty value is not the default", "[s]\nk=\n", "s", "k", "d", 64, ""},
    {"blank value is empty", "[s]\nk=   \n", "s", "k", "d", 64, ""},
    {"quoted empty value", "[s]\nk=\"\"\n", "s", "k", "d", 64, ""},
    {"'=' inside a value", "[s]\nk=a=b\n", "s", "k", "d", 64, "a=b"},
    {"value cut to the buffer", "[s]\nk=abcdef\n", "s", "k", "d", 4, "abc"},
    {"value exactly filling the buffer", "[s]\nk=abc\n", "s", "k", "d", 4, "abc"},
    {"missing key gives the default", "[s]\nj=1\n", "s", "k", "dflt", 64, "dflt"},
    {"missing section gives the default", "[t]\nk=1\n", "s", "k", "dflt", 64, "dflt"},
    {"null default reads as empty", "[s]\n", "s", "k", nullptr, 64, ""},
    {"default cut to the buffer", "", "s", "k", "defaultvalue", 4, "def"},
    {"CR LF line ends", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "d", 64, "w"},
    {"CR LF value keeps no CR", "[s]\r\nk= v \r\n", "s", "k", "d", 64, "v"},
    {"comment line is no key", "[s]\n;k=c\nk=real\n", "s", "k", "d", 64, "real"},
    {"last line without line end", "[s]\nk=v", "s", "k", "d", 64, "v"},
    {"byte-order mark before the first section", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "d", 64, "v"},
    {"blanks inside the brackets", "[ s ]\nk=v\n", "s", "k", "d", 64, "v"},
    {"key line before any section", "k=v\n[s]\n", "s", "k", "d", 64, "d"},
};

TEST(Profile, ReadStringFollowsTheProfileRules) {
    TempDir tmp;
    std::string path = tmp.file("t.ini");
    for (const ReadCase& c : read_cases) {
        SCOPED_TRACE(c.what);
        write_file(path, c.text);
        char buf[64];
        std::memset(buf, 'x', sizeof(buf));
        std::size_t n = profile_read_string(c.section, c.key, c.def, buf, c.size, path.c_str());
        EXPECT_EQ(std::string(buf), c.want);
        EXPECT_EQ(n, std::strlen(c.want));
    }
}

TEST(Profile, MissingFileOrNoRoomGivesDefaultOrNothing) {
    TempDir tmp;
    std::string path = tmp.file("absent.ini");
    char buf[16];
    EXPECT_EQ(profile_read_string("s", "k", "def", buf, sizeof(buf), path.c_str()), 3u);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(profile_read_int("s", "k", 42, path.c_str()), 42);
    EXPECT_EQ(errno, ENOENT);  // callers log the reason for a default

    // A buffer of one byte holds only the terminator; none at all is left alone.
    write_file(path, "[s]\nk=value\n");
    errno = 0;
    EXPECT_EQ(profile_read_string("s", "other", "", buf, sizeof(buf), path.c_str()), 0u);
    EXPECT_EQ(errno, ENOENT);
    buf[0] = 'x';
    EXPECT_EQ(profile_read_string("s", "k", "", buf, 1, path.c_str()), 0u);
    EXPECT_EQ(buf[0], '\0');
    buf[0] = 'x';
    EXPECT_EQ(profile_read_string("s", "k", "", buf, 0, path.c_str()), 0u);
    EXPECT_EQ(buf[0], 'x');
}

TEST(Profile, ReadIntTakesLeadingDigits) {
    struct {
        const char* line;  // the key's line in [s], or "" for none
        int want;
    } const cases[] = {
        {"k=12abc", 12},
        {"k=abc", 0},
        {"k=", 0},
        {"k=-5", -5},
        {"k=-", 0},
        {"k=  42  ", 42},
        {"k=\"7\"", 7},
        {"k=1 2", 1},
        {"k=99999999999", INT_MAX},
        {"k=-99999999999", INT_MIN},
        {"k=-2147483648", INT_MIN},
        {"K=3\r\nk=4", 3},
        {"", 77},
    };
    TempDir tmp;
    std::string path = tmp.file("n.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        write_file(path, std::string("[s]\r\n") + c.line + "\r\n");
        EXPECT_EQ(profile_read_int("S", "k", 77, path.c_str()), c.want);
    }
}

TEST(Profile, WriteCreatesAndReplacesKeepingOtherLines) {
    TempDir tmp;
    std::string path = tmp.file("w.ini");

    ASSERT_EQ(profile_write_string("Main", "CachePath", "cache", path.c_str()), 0);
    EXPECT_EQ(read_file(path), "[Main]\r\nCachePath=cache\r\n");

    write_file(path, "; settings\n[a]\nx=1\nK = old\ny=2\n\n[b]\nk=b\n");
    ASSERT_EQ(profile_write_string("A", "k", "new", path.c_str()), 0);
    ASSERT_EQ(profile_write_string("a", "z", "9", path.c_str()), 0);
    ASSERT_EQ(profile_write_string("c", "q", "\"quoted\"", path.c_str()), 0);
    EXPECT_EQ(read_file(path),
              "; settings\n[a]\nx=1\nk=new\ny=2\nz=9\n\n[b]\nk=b\n\n[c]\nq=\"quoted\"\n");

    char buf[32];
    EXPECT_EQ(profile_read_string("a", "K", "", buf, sizeof(buf), path.c_str()), 3u);
    EXPECT_STREQ(buf, "new");
    EXPECT_EQ(profile_read_string("c", "q", "", buf, sizeof(buf), path.c_str()), 6u);
    EXPECT_STREQ(buf, "quoted");
}

TEST(Profile, WriteRefusesWhatWouldNotReadBack) {
    TempDir tmp;
    std::string path = tmp.file("r.ini");
    write_file(path, "[s]\nk=v\n");
    EXPECT_EQ(profile_write_string("s", "k", "two\nlines", path.c_str()), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(profile_write_string("s", "a=b", "v", path.c_str()), -1);
    EXPECT_EQ(profile_write_string("s]x", "k", "v", path.c_str()), -1);
    EXPECT_EQ(read_file(path), "[s]\nk=v\n");

    EXPECT_EQ(profile_write_string("s", "k", "v", tmp.file("no/such/folder.ini").c_str()), -1);
}

}  // namespace
