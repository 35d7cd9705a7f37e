// res_list.dat: loading whole and damaged files, and what saving writes.
#include <algorithm>
#include <filesystem>
#include <map>

#include "resource_fixture.h"

using resource_test::read_list_file;
using resource_test::record_bytes;

namespace {

class ResourceList : public resource_test::ResourceFixture {};

TEST_F(ResourceList, LoadingDamagedFilesKeepsTheRecordsBeforeTheDamage) {
    const std::string a = record_bytes("1A", 100, "/c/a.flv");
    const std::string b = record_bytes("2B", 200, "/c/b.flv");
    struct Case {
        const char* name;
        std::string bytes;
        int result;
        int records;
    };
    const Case cases[] = {
        {"whole", a + b, 0, 2},
        {"ends inside an id", a + b.substr(0, 9), 0, 1},
        {"ends inside a size", a + b.substr(0, 18), -1, 1},
        {"ends inside a path length", a + b.substr(0, 21), -1, 1},
        {"ends inside a path", a + b.substr(0, 25), -1, 1},
        {"path length 0", a + record_bytes("2B", 1, "", 0) + b, -1, 1},
        {"path length 261", a + record_bytes("2B", 1, std::string(261, 'p')) + b, -1, 1},
        {"path length 260", a + record_bytes("2B", 1, "/" + std::string(259, 'p')), 0, 2},
        {"duplicate id", a + record_bytes("1A", 999, "/c/other.flv") + b, 0, 2},
        {"empty", "", 0, 0},
        {"path that is only a NUL", a + record_bytes("2B", 1, std::string(1, '\0')) + b, -1, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        tarvo_test::write_file(list_file(), c.bytes);
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        EXPECT_EQ(_load_resource_list(), c.result) << c.name;
        EXPECT_EQ(resource_count(), c.records) << c.name;
        P2P_RESOURCE_ITEM item;
        if (c.records > 0) {
            ASSERT_TRUE(resource_lookup(0x1A, &item)) << c.name;
            EXPECT_EQ(item.file_path, "/c/a.flv") << c.name;  // the first record stays
            EXPECT_EQ(item.size, 100u) << c.name;
            EXPECT_FALSE(item.has_caption);
        }
    }
}

// Ids written in another form than the saver's ("%I64X") are listed under the
// saver's form, so that lookups find them and a saved list loads back with the
// same records; id text that is not hex is skipped, and the records after it
// still load.
TEST_F(ResourceList, IdsInAnotherFormAreListedAsSavedAndLoadBackTheSame) {
    const std::string b = record_bytes("2B", 200, "/c/b.flv");
    struct Case {
        const char* name;
        std::string bytes;
        int result;
        int records;
    };
    const Case cases[] = {
        {"lower case", record_bytes("1a", 100, "/c/a.flv") + b, 0, 2},
        {"leading zeros", record_bytes("0001A", 100, "/c/a.flv") + b, 0, 2},
        {"text after the padding", record_bytes(std::string("1A\0zz", 5), 100, "/c/a.flv") + b, 0,
         2},
        {"one id in two forms",
         record_bytes("1A", 100, "/c/a.flv") + record_bytes("01a", 999, "/c/other.flv") + b, 0, 2},
        {"not hex", record_bytes("1A", 100, "/c/a.flv") + record_bytes("zz", 1, "/c/z.flv") + b, -1,
         2},
        {"hex prefix",
         record_bytes("1A", 100, "/c/a.flv") + record_bytes("0x2B", 1, "/c/x.flv") + b, -1, 2},
        {"signed", record_bytes("1A", 100, "/c/a.flv") + record_bytes("-1", 1, "/c/m.flv") + b, -1,
         2},
        {"empty id", record_bytes("1A", 100, "/c/a.flv") + record_bytes("", 1, "/c/e.flv") + b, -1,
         2},
    };
    for (const Case& c : cases) {
        SetUp();
        tarvo_test::write_file(list_file(), c.bytes);
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        EXPECT_EQ(_load_resource_list(), c.result) << c.name;
        EXPECT_EQ(resource_count(), c.records) << c.name;
        P2P_RESOURCE_ITEM item;
        ASSERT_TRUE(resource_lookup(0x1A, &item)) << c.name;
        EXPECT_EQ(item.file_path, "/c/a.flv") << c.name;  // the first record stays
        ASSERT_TRUE(resource_lookup(0x2B, &item)) << c.name;
        EXPECT_EQ(item.file_path, "/c/b.flv") << c.name;

        ASSERT_EQ(_save_resource_list(), 0) << c.name;
        bool ok = false;
        std::vector<std::string> keys;
        for (const auto& r : read_list_file(list_file(), &ok)) keys.push_back(r.key);
        EXPECT_TRUE(ok) << c.name;
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, (std::vector<std::string>{"1A", "2B"})) << c.name;

        SetUp();
        EXPECT_EQ(_load_resource_list(), 0) << c.name;
        EXPECT_EQ(resource_count(), c.records) << c.name;
    }
}

TEST_F(ResourceList, MissingFileLeavesTheListEmpty) {
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    EXPECT_EQ(_load_resource_list(), -1);
    EXPECT_EQ(resource_count(), 0);
}

TEST_F(ResourceList, SavedFileReadsBackByTheLayoutAndShortIdsRoundTrip) {
    const std::uint64_t big = 0xCAA717168609F281ULL, small = 0xABCDEFULL;
    tarvo_test::write_file(list_file(), record_bytes(resource_key(big), 0x12345678, "/c/big.flv") +
                                            record_bytes(resource_key(small), 7, "/c/small.flv"));
    {
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        ASSERT_EQ(_load_resource_list(), 0);
        std::filesystem::remove(list_file());
        ASSERT_EQ(_save_resource_list(), 0);
    }
    bool ok = false;
    auto records = read_list_file(list_file(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(records.size(), 2u);
    std::map<std::string, resource_test::Record> by_key;
    for (auto& r : records) by_key[r.key] = r;
    EXPECT_EQ(by_key["CAA717168609F281"].size, 0x12345678u);
    EXPECT_EQ(by_key["ABCDEF"].path, "/c/small.flv");
    // NUL padding of the short id, byte for byte.
    const std::string bytes = tarvo_test::read_file(list_file());
    EXPECT_NE(bytes.find(std::string("ABCDEF") + std::string(10, '\0')), std::string::npos);

    SetUp();
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    ASSERT_EQ(_load_resource_list(), 0);
    P2P_RESOURCE_ITEM item;
    ASSERT_TRUE(resource_lookup(small, &item));
    EXPECT_EQ(item.id, small);
    ASSERT_TRUE(resource_lookup(big, &item));
    EXPECT_EQ(item.id, big);
}

TEST_F(ResourceList, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    tarvo_test::write_file(list_file(), record_bytes("1", 1, "/c/1.flv"));
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    ASSERT_EQ(_load_resource_list(), 0);
    ASSERT_EQ(_save_resource_list(), 0);
    EXPECT_FALSE(std::filesystem::exists(list_file() + ".tmp"));
    bool ok = false;
    EXPECT_EQ(read_list_file(list_file(), &ok).size(), 1u);
    EXPECT_TRUE(ok);

    // A save that cannot write keeps the old file as it was.
    const std::string before = tarvo_test::read_file(list_file());
    std::filesystem::create_directory(list_file() + ".tmp");  // the temporary name is taken
    EXPECT_EQ(_save_resource_list(), -1);
    EXPECT_EQ(tarvo_test::read_file(list_file()), before);
    std::filesystem::remove(list_file() + ".tmp");
}

}  // namespace
