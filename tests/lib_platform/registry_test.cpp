#include "platform/registry.h"
#include "platform/self.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

using tarvo_test::read_file;
using tarvo_test::TempDir;
using tarvo_test::write_file;

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

const RegRoot hklm = RegRoot::local_machine;
const char* const product_key = "Software\\Quorlen\\Productions\\06";

// Points the registry at a file of a fresh temporary folder and puts the
// environment back afterwards.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"TARVO_REGISTRY", "XDG_CONFIG_HOME", "HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        file_ = tmp_.file("registry.reg");
        ::setenv("TARVO_REGISTRY", file_.c_str(), 1);
    }
    void TearDown() override {
        for (auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    std::string text(RegKey& key, const char* name) {
        RegValue v;
        if (key.query(name, v) != 0 || v.type != RegType::string) return "<none>";
        return v.text;
    }

    TempDir tmp_;
    std::string file_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(Registry, FileLocationFollowsTheEnvironment) {
    EXPECT_EQ(platform::registry_file(), file_);
    ::unsetenv("TARVO_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(platform::registry_file(), "/cfg/tarvo/registry.reg");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(platform::registry_file(), "/home/u/.config/tarvo/registry.reg");
}

TEST_F(Registry, ValuesRoundTripInTheRegFormat) {
    RegKey key;
    ASSERT_EQ(RegKey::create(hklm, product_key, key), 0);
    const std::string awkward = "C:\\videos\\ \"quoted\" \\\\server\\ end\\";
    ASSERT_EQ(key.set_string("CachePath", awkward), 0);
    ASSERT_EQ(key.set_dword("MaxSpace", 1000), 0);
    ASSERT_EQ(key.set_dword("Big", 0xFFFFFFFFu), 0);
    ASSERT_EQ(key.set_string("Title", "\xE8\xA7\x86\xE9\xA2\x91"), 0);  // UTF-8 text
    ASSERT_EQ(key.set_string("", "default"), 0);
    ASSERT_EQ(key.set_string("Empty", ""), 0);

    RegKey again;
    ASSERT_EQ(RegKey::open(hklm, product_key, again), 0);
    EXPECT_EQ(text(again, "CachePath"), awkward);
    EXPECT_EQ(text(again, "Title"), "\xE8\xA7\x86\xE9\xA2\x91");
    EXPECT_EQ(text(again, ""), "default");
    EXPECT_EQ(text(again, "Empty"), "");
    RegValue v;
    ASSERT_EQ(again.query("MaxSpace", v), 0);
    EXPECT_EQ(v.type, RegType::dword);
    EXPECT_EQ(v.dword, 1000u);
    ASSERT_EQ(again.query("Big", v), 0);
    EXPECT_EQ(v.dword, 0xFFFFFFFFu);

    // Overwriting changes the type and the value in place.
    ASSERT_EQ(again.set_dword("CachePath", 7), 0);
    ASSERT_EQ(key.query("CachePath", v), 0);
    EXPECT_EQ(v.type, RegType::dword);
    EXPECT_EQ(v.dword, 7u);

    std::string file = read_file(file_);
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u) << file;
    EXPECT_NE(file.find("\r\n[HKEY_LOCAL_MACHINE\\Software\\Quorlen\\Productions\\06]\r\n"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("\r\n\"MaxSpace\"=dword:000003e8\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\r\n@=\"default\"\r\n"), std::string::npos) << file;
    for (std::size_t i = 0; i < file.size(); i++) {
        if (file[i] == '\n') {
            ASSERT_TRUE(i > 0 && file[i - 1] == '\r') << "bare LF at " << i;
        }
    }
}

TEST_F(Registry, ReadsHandWrittenLfFileAndKeepsWhatItDoesNotKnow) {
    write_file(file_,
               "Windows Registry Editor Version 5.00\n"
               "\n"
               "; kept by another program\n"
               "[HKEY_CLASSES_ROOT\\.flv]\n"
               "@=\"flvfile\"\n"
               "\n"
               "[hkey_local_machine\\SOFTWARE\\quorlen\\Productions\\06]\n"
               "\"cachepath\" = \"D:\\\\v\"\n"
               "\"MaxSpace\"=dword:000003E8\n"
               "\"Blob\"=hex:01,02,\\\n"
               "  03,04\n"
               "\"Next\"=\"after blob\"\n");

    RegKey key;
    ASSERT_EQ(RegKey::open(hklm, "software/QUORLEN/productions/06/", key), 0);
    EXPECT_EQ(text(key, "CACHEPATH"), "D:\\v");
    EXPECT_EQ(text(key, "next"), "after blob");
    RegValue v;
    ASSERT_EQ(key.query("maxspace", v), 0);
    EXPECT_EQ(v.dword, 1000u);
    ASSERT_EQ(key.query("Blob", v), 0);
    EXPECT_EQ(v.type, RegType::none);
    std::vector<std::string> names;
    ASSERT_EQ(key.value_names(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"cachepath", "MaxSpace", "Blob", "Next"}));

    ASSERT_EQ(key.set_string("SpaceUsed", "5"), 0);
    std::string file = read_file(file_);
    EXPECT_NE(
        file.find("; kept by another program\r\n[HKEY_CLASSES_ROOT\\.flv]\r\n@=\"flvfile\"\r\n"),
        std::string::npos)
        << file;
    EXPECT_NE(file.find("\"Blob\"=hex:01,02,\\\r\n  03,04\r\n\"Next\"=\"after blob\"\r\n"
                        "\"SpaceUsed\"=\"5\"\r\n"),
              std::string::npos)
        << file;
    EXPECT_EQ(text(key, "cachepath"), "D:\\v");
}

TEST_F(Registry, OpenNeedsTheKeyCreateMakesItWithParents) {
    RegKey key;
    errno = 0;
    EXPECT_EQ(RegKey::open(hklm, product_key, key), -1);  // no file at all yet
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(platform::last_error_text().empty());

    // The folder of the file is made too.
    file_ = tmp_.file("new/folder/registry.reg");
    ::setenv("TARVO_REGISTRY", file_.c_str(), 1);
    ASSERT_EQ(RegKey::create(hklm, "Software/Quorlen\\Productions\\06", key), 0);
    EXPECT_EQ(key.path(), product_key);
    for (const char* path : {"Software", "SOFTWARE\\quorlen", "software\\Quorlen\\productions",
                             "Software\\Quorlen\\Productions\\06", ""}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(RegKey::open(hklm, path, key), 0);
    }
    EXPECT_EQ(RegKey::open(hklm, "Software\\Quorlen\\Productions\\07", key), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(RegKey::open(RegRoot::current_user, "Software", key), -1);
    EXPECT_EQ(errno, ENOENT);

    ASSERT_EQ(RegKey::open(hklm, product_key, key), 0);
    RegValue v;
    EXPECT_EQ(key.query("Missing", v), -1);
    EXPECT_EQ(errno, ENOENT);

    // Creating an existing key keeps its values.
    ASSERT_EQ(key.set_dword("MaxSpace", 5), 0);
    ASSERT_EQ(RegKey::create(hklm, "SOFTWARE\\QUORLEN\\PRODUCTIONS\\06", key), 0);
    ASSERT_EQ(key.query("MaxSpace", v), 0);
    EXPECT_EQ(v.dword, 5u);
}

TEST_F(Registry, KeysListedOnlyByDeeperSectionsExist) {
    write_file(file_,
               "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_CURRENT_USER\\A\\B\\C]\r\n\"v\"=\"1\"\r\n");
    RegKey key;
    ASSERT_EQ(RegKey::open(RegRoot::current_user, "a", key), 0);
    std::vector<std::string> subs;
    ASSERT_EQ(key.subkeys(subs), 0);
    EXPECT_EQ(subs, std::vector<std::string>{"B"});
    // A value on such a key gets the key its own section.
    ASSERT_EQ(key.set_string("w", "2"), 0);
    EXPECT_EQ(text(key, "W"), "2");
    ASSERT_EQ(RegKey::open(RegRoot::current_user, "A\\B\\C", key), 0);
    EXPECT_EQ(text(key, "v"), "1");
}

TEST_F(Registry, SubkeysValueNamesAndDeletion) {
    RegKey a, b1, b2, c;
    ASSERT_EQ(RegKey::create(hklm, "A\\B1", b1), 0);
    ASSERT_EQ(RegKey::create(hklm, "A\\B2\\C", c), 0);
    ASSERT_EQ(RegKey::open(hklm, "A\\b2", b2), 0);
    ASSERT_EQ(RegKey::create(RegRoot::current_user, "A\\Other", a), 0);
    ASSERT_EQ(RegKey::open(hklm, "a", a), 0);
    ASSERT_EQ(c.set_string("deep", "x"), 0);
    ASSERT_EQ(b2.set_string("second", "2"), 0);
    ASSERT_EQ(b2.set_dword("first", 1), 0);

    std::vector<std::string> list;
    ASSERT_EQ(a.subkeys(list), 0);
    EXPECT_EQ(list, (std::vector<std::string>{"B1", "B2"}));
    ASSERT_EQ(b2.value_names(list), 0);
    EXPECT_EQ(list, (std::vector<std::string>{"second", "first"}));
    ASSERT_EQ(b1.value_names(list), 0);
    EXPECT_TRUE(list.empty());

    ASSERT_EQ(b2.delete_value("SECOND"), 0);
    RegValue v;
    EXPECT_EQ(b2.query("second", v), -1);
    EXPECT_EQ(b2.delete_value("second"), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(b2.query("first", v), 0);

    ASSERT_EQ(platform::registry_delete_key(hklm, "a\\B2"), 0);
    EXPECT_EQ(RegKey::open(hklm, "A\\B2\\C", c), -1);
    EXPECT_EQ(RegKey::open(hklm, "A\\B2", c), -1);
    EXPECT_EQ(RegKey::open(hklm, "A\\B1", c), 0);
    EXPECT_EQ(RegKey::open(RegRoot::current_user, "A\\Other", c), 0);
    EXPECT_EQ(platform::registry_delete_key(hklm, "A\\B2"), -1);
    EXPECT_EQ(errno, ENOENT);

    // A key deleted under an open handle is not brought back by a write.
    EXPECT_EQ(b2.set_dword("first", 2), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(RegKey::open(hklm, "A\\B2", c), -1);
}

TEST_F(Registry, RefusesWhatWouldBreakTheFile) {
    RegKey key;
    ASSERT_EQ(RegKey::create(hklm, product_key, key), 0);
    ASSERT_EQ(key.set_string("Name", "ok"), 0);
    std::string before = read_file(file_);
    EXPECT_EQ(key.set_string("Name", "two\r\nlines"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(key.set_string("bad\nname", "v"), -1);
    EXPECT_EQ(RegKey::create(hklm, "Software\n[HKEY_LOCAL_MACHINE\\X", key), -1);
    EXPECT_EQ(platform::registry_delete_key(hklm, ""), -1);
    EXPECT_EQ(read_file(file_), before);

    // A file in another encoding is not understood and must not be replaced.
    const std::string utf16("\xFF\xFEW\0i\0n\0", 8);
    write_file(file_, utf16);
    EXPECT_EQ(RegKey::create(hklm, "X", key), -1);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(read_file(file_), utf16);
}

// One writer process: sets its own value `rounds` times, each time checking
// that its own last value reads back and the other writer's value never goes
// back (a lost update would do either). Exit status 0 when all held.
int writer(int me, int rounds) {
    RegKey key;
    if (RegKey::open(hklm, product_key, key) != 0) return 10;
    std::string mine = "Writer" + std::to_string(me);
    std::string theirs = "Writer" + std::to_string(1 - me);
    std::uint32_t seen = 0;
    for (int n = 1; n <= rounds; n++) {
        if (key.set_dword(mine, static_cast<std::uint32_t>(n)) != 0) return 11;
        RegValue v;
        if (key.query(mine, v) != 0 || v.dword != static_cast<std::uint32_t>(n)) return 12;
        if (key.query(theirs, v) == 0) {
            if (v.dword < seen) return 13;
            seen = v.dword;
        } else if (seen != 0) {
            return 14;
        }
    }
    return key.set_string(mine + "Path", "C:\\done\\" + std::to_string(me)) == 0 ? 0 : 15;
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNeitherValue) {
    const int rounds = 200;
    RegKey key;
    ASSERT_EQ(RegKey::create(hklm, product_key, key), 0);
    ASSERT_EQ(key.set_string("Before", "kept"), 0);

    // Both children wait on the pipe and start together when it closes.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t kids[2];
    for (int me = 0; me < 2; me++) {
        kids[me] = ::fork();
        ASSERT_GE(kids[me], 0);
        if (kids[me] == 0) {
            ::close(go[1]);
            char c;
            while (::read(go[0], &c, 1) < 0 && errno == EINTR) {
            }
            ::_exit(writer(me, rounds));
        }
    }
    ::close(go[0]);
    ::close(go[1]);
    for (int me = 0; me < 2; me++) {
        int status = 0;
        ASSERT_EQ(::waitpid(kids[me], &status, 0), kids[me]);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "writer " << me;
    }

    RegKey after;
    ASSERT_EQ(RegKey::open(hklm, product_key, after), 0);
    for (int me = 0; me < 2; me++) {
        RegValue v;
        ASSERT_EQ(after.query("Writer" + std::to_string(me), v), 0);
        EXPECT_EQ(v.dword, static_cast<std::uint32_t>(rounds));
        EXPECT_EQ(text(after, ("Writer" + std::to_string(me) + "Path").c_str()),
                  "C:\\done\\" + std::to_string(me));
    }
    EXPECT_EQ(text(after, "Before"), "kept");
    std::vector<std::string> names;
    ASSERT_EQ(after.value_names(names), 0);
    EXPECT_EQ(names.size(), 5u);
}

}  // namespace
