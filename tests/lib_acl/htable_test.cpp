// The hash table: refused duplicates, key copies, deletion with the value's
// free function, growth with stable entries, and the optional lock.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "acl_htable.h"
#include "queue_test_log.h"

namespace {

int g_freed = 0;
void count_free(void*) { g_freed++; }
void delete_int(void* value) { delete static_cast<int*>(value); }

TEST(Htable, DuplicateKeyIsRefusedWithAWarningAndTheFirstValueStays) {
    TempLog log;
    ACL_HTABLE* table = acl_htable_create(10, 0);
    int first = 1, second = 2;
    ACL_HTABLE_INFO* info = acl_htable_enter(table, "res_path", &first);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->key, "res_path");
    EXPECT_EQ(info->value, &first);

    EXPECT_EQ(acl_htable_enter(table, "res_path", &second), nullptr);
    EXPECT_EQ(acl_htable_find(table, "res_path"), &first);
    EXPECT_EQ(acl_htable_used(table), 1);

    auto warnings = log.grep("(1, warn): ");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("(1, warn): acl_htable_enter("), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("): duplex key(res_path) exist"), std::string::npos) << warnings[0];
    acl_htable_free(table, nullptr);
}

TEST(Htable, KeysAreCopiedAndComparedByteForByte) {
    ACL_HTABLE* table = acl_htable_create(10, 0);
    int v1 = 1, v2 = 2;
    char key[16];
    std::strcpy(key, "Key");
    ASSERT_NE(acl_htable_enter(table, key, &v1), nullptr);
    std::strcpy(key, "XXX");  // the caller's buffer is free to change
    EXPECT_EQ(acl_htable_find(table, "Key"), &v1);
    EXPECT_EQ(acl_htable_find(table, "XXX"), nullptr);
    EXPECT_EQ(acl_htable_find(table, "key"), nullptr);
    EXPECT_NE(acl_htable_enter(table, "key", &v2), nullptr);  // another key
    EXPECT_EQ(acl_htable_find(table, "key"), &v2);
    EXPECT_EQ(acl_htable_find(table, ""), nullptr);
    acl_htable_free(table, nullptr);
}

TEST(Htable, DeleteHandsTheValueToItsFreeFunctionOnce) {
    ACL_HTABLE* table = acl_htable_create(1, 0);
    int v = 0;
    g_freed = 0;
    ASSERT_NE(acl_htable_enter(table, "a", &v), nullptr);
    ASSERT_NE(acl_htable_enter(table, "b", &v), nullptr);
    EXPECT_EQ(acl_htable_delete(table, "a", count_free), 0);
    EXPECT_EQ(g_freed, 1);
    EXPECT_EQ(acl_htable_delete(table, "a", count_free), -1);
    EXPECT_EQ(g_freed, 1);
    EXPECT_EQ(acl_htable_delete(table, "b", nullptr), 0);  // the caller keeps the value
    EXPECT_EQ(g_freed, 1);
    EXPECT_EQ(acl_htable_find(table, "a"), nullptr);
    EXPECT_EQ(acl_htable_used(table), 0);

    // A key deleted can be entered again.
    EXPECT_NE(acl_htable_enter(table, "a", &v), nullptr);
    acl_htable_free(table, count_free);
    EXPECT_EQ(g_freed, 2);
}

TEST(Htable, GrowingKeepsEntriesInPlaceAndWalkVisitsEachOnce) {
    ACL_HTABLE* table = acl_htable_create(1, 0);
    constexpr int kCount = 2000;
    std::vector<ACL_HTABLE_INFO*> infos;
    for (int i = 0; i < kCount; i++) {
        std::string key = "k" + std::to_string(i);
        ACL_HTABLE_INFO* info = acl_htable_enter(table, key.c_str(), new int(i));
        ASSERT_NE(info, nullptr);
        infos.push_back(info);
    }
    EXPECT_EQ(acl_htable_used(table), kCount);
    for (int i = 0; i < kCount; i++) {
        std::string key = "k" + std::to_string(i);
        ASSERT_STREQ(infos[i]->key, key.c_str());  // entered before the table grew
        ASSERT_EQ(acl_htable_locate(table, key.c_str()), infos[i]);
        ASSERT_EQ(*static_cast<int*>(acl_htable_find(table, key.c_str())), i);
    }

    std::multiset<int> walked;
    acl_htable_walk(
        table,
        [](ACL_HTABLE_INFO* info, void* arg) {
            static_cast<std::multiset<int>*>(arg)->insert(*static_cast<int*>(info->value));
        },
        &walked);
    ASSERT_EQ(walked.size(), static_cast<size_t>(kCount));
    EXPECT_EQ(std::set<int>(walked.begin(), walked.end()).size(), static_cast<size_t>(kCount));
    acl_htable_free(table, delete_int);  // leak check covers keys and values
}

TEST(Htable, LockedTableTakesConcurrentWritersAndReaders) {
    ACL_HTABLE* table = acl_htable_create(10, ACL_HTABLE_FLAG_USE_LOCK);
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([table, t] {
            for (int i = 0; i < kEach; i++) {
                std::string key = std::to_string(t) + ":" + std::to_string(i);
                ASSERT_NE(acl_htable_enter(table, key.c_str(), new int(i)), nullptr);
                ASSERT_NE(acl_htable_find(table, key.c_str()), nullptr);
                if (i % 2) {
                    ASSERT_EQ(acl_htable_delete(table, key.c_str(), delete_int), 0);
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(acl_htable_used(table), kThreads * kEach / 2);
    acl_htable_free(table, delete_int);
}

}  // namespace
