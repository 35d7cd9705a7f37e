// The disk-space check: the quota left, the free space, SpaceUsed.
#include "resource_fixture.h"
#include "service_registry.h"

namespace {

class Quota : public resource_test::ResourceFixture {};

int save_to_registry(void*, const char* decimal) {
    return registry_write_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY,
                                 "SpaceUsed", decimal);
}

std::string space_used() {
    char buf[257] = "";
    registry_read_string(platform::RegRoot::local_machine, SERVICE_REGISTRY_KEY, "SpaceUsed", buf,
                         sizeof(buf));
    return buf;
}

TEST_F(Quota, CacheOverTheQuotaLeavesNoSpace) {
    resource_set_space_saver(save_to_registry, nullptr);
    _init_client(cache().c_str(), 1, nullptr);  // 1 MiB
    cache_file("a.flv", 700000);
    std::filesystem::create_directories(cache() + "sub/deeper");
    cache_file("sub/deeper/b.flv", 400000);
    ASSERT_EQ(_check_disk_space(cache().c_str()), 0);
    EXPECT_EQ(g_client.space_left.load(), 0u);
    EXPECT_GT(g_client.disk_free_space.load(), 0u);
    EXPECT_FALSE(resource_has_space(1));
    EXPECT_EQ(space_used(), "0");

    std::filesystem::remove(cache() + "sub/deeper/b.flv");
    ASSERT_EQ(_check_disk_space(cache().c_str()), 0);
    EXPECT_EQ(g_client.space_left.load(), 1048576u - 700000u);
    EXPECT_EQ(space_used(), std::to_string(1048576u - 700000u));
    EXPECT_TRUE(resource_has_space(1000));
    EXPECT_FALSE(resource_has_space(1048576u - 700000u));  // below, not equal
}

TEST_F(Quota, MissingFolderIsAnError) {
    g_client.space_left = 123;
    EXPECT_EQ(_check_disk_space((dir_.folder() + "nowhere/").c_str()), -1);
    EXPECT_EQ(g_client.space_left.load(), 123u);
}

}  // namespace
