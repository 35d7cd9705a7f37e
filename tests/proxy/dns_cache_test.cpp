// The DNS cache and the resolver behind it: lifetime at its exact edges,
// replacement, case, the address rule for dotted names, and the resolver seam.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "proxy/dns_cache.h"
#include "proxy/netdb.h"

namespace {

time_t g_now = 1000000;
time_t fake_clock() { return g_now; }

std::atomic<int> g_resolver_calls{0};

int fake_resolver(const char* name, std::vector<std::string>& addrs, std::string& error) {
    ++g_resolver_calls;
    std::string n = name;
    if (n == "eight.test") {
        for (int i = 1; i <= 8; ++i) addrs.push_back("10.0.0." + std::to_string(i));
        return 0;
    }
    if (n == "one.test") {
        addrs.push_back("127.0.0.1");
        return 0;
    }
    error = "unknown host";
    return -1;
}

ACL_NETDB* make_db(const char* name, std::vector<const char*> ips) {
    ACL_NETDB* db = acl_netdb_new(name);
    for (auto ip : ips) acl_netdb_add_addr(db, ip);
    return db;
}

class DnsCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dns_cache_init(300, 0);
        dns_cache_set_clock(fake_clock);
        dns_cache_clear();
        g_now = 1000000;
    }
    void TearDown() override {
        dns_cache_clear();
        dns_cache_set_clock(nullptr);
    }
};

TEST_F(DnsCacheTest, AnswerLivesExactlyItsLifetime) {
    ACL_NETDB* db = make_db("Www.Example.TEST", {"192.0.2.1", "192.0.2.2"});
    dns_cache_push(db);
    acl_netdb_free(db);

    g_now += 299;
    ACL_NETDB* hit = dns_cache_lookup("www.example.test");
    ASSERT_NE(hit, nullptr) << "299 seconds after the push the answer is still cached";
    EXPECT_EQ(acl_netdb_size(hit), 2);
    EXPECT_STREQ(acl_netdb_index_ip(hit, 0), "192.0.2.1");
    EXPECT_STREQ(acl_netdb_index_ip(hit, 1), "192.0.2.2");
    acl_netdb_free(hit);

    g_now += 1;
    EXPECT_EQ(dns_cache_lookup("www.example.test"), nullptr)
        << "300 seconds after the push the answer has expired";
    g_now -= 10;
    EXPECT_EQ(dns_cache_lookup("www.example.test"), nullptr)
        << "an expired answer is removed, not hidden";
}

TEST_F(DnsCacheTest, LookupIgnoresCaseAndReturnsIndependentCopies) {
    ACL_NETDB* db = make_db("host.test", {"192.0.2.7"});
    dns_cache_push(db);
    acl_netdb_free(db);
    ACL_NETDB* a = dns_cache_lookup("HOST.Test");
    ASSERT_NE(a, nullptr);
    a->addrs[0] = "0.0.0.0";
    acl_netdb_free(a);
    ACL_NETDB* b = dns_cache_lookup("host.test");
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(acl_netdb_index_ip(b, 0), "192.0.2.7");
    acl_netdb_free(b);
    EXPECT_EQ(dns_cache_lookup(""), nullptr);
    EXPECT_EQ(dns_cache_lookup(nullptr), nullptr);
}

TEST_F(DnsCacheTest, NewAnswerReplacesOldAndRestartsLifetime) {
    ACL_NETDB* first = make_db("a.test", {"192.0.2.1"});
    ACL_NETDB* other = make_db("b.test", {"192.0.2.9"});
    dns_cache_push(first);
    dns_cache_push(other);
    g_now += 200;
    ACL_NETDB* second = make_db("a.test", {"192.0.2.3", "192.0.2.4"});
    dns_cache_push(second);
    g_now += 150;  // 350 after the first push, 150 after the second

    ACL_NETDB* a = dns_cache_lookup("a.test");
    ASSERT_NE(a, nullptr) << "the second push restarts the lifetime";
    EXPECT_EQ(acl_netdb_size(a), 2);
    EXPECT_STREQ(acl_netdb_index_ip(a, 0), "192.0.2.3");
    EXPECT_EQ(dns_cache_lookup("b.test"), nullptr) << "older entries still expire in order";
    for (auto* d : {first, other, second, a}) acl_netdb_free(d);
}

TEST_F(DnsCacheTest, EmptyAnswersAreNotStored) {
    ACL_NETDB* none = acl_netdb_new("none.test");
    dns_cache_push(none);
    dns_cache_push(nullptr);
    ACL_NETDB* noname = make_db("", {"192.0.2.1"});
    dns_cache_push(noname);
    EXPECT_EQ(dns_cache_lookup("none.test"), nullptr);
    acl_netdb_free(none);
    acl_netdb_free(noname);
}

TEST(NetdbTest, DottedAddressesNeverReachTheResolver) {
    acl_netdb_set_resolver(fake_resolver);
    g_resolver_calls = 0;
    struct Case {
        const char* name;
        bool literal;
    } cases[] = {
        {"127.0.0.1", true}, {"999.1.2.3", true},  // numbers are not range-checked
        {"1.2.3", false},    {"1.2.3.4.5", false}, {".1.2.3", false},
        {"1.2.3.", false},   {"1..2.3", false},    {"1.2.3.4a", false},
    };
    for (const auto& c : cases) {
        int before = g_resolver_calls;
        int err = 0;
        ACL_NETDB* db = acl_gethostbyname(c.name, &err);
        if (c.literal) {
            ASSERT_NE(db, nullptr) << c.name;
            EXPECT_EQ(acl_netdb_size(db), 1);
            EXPECT_STREQ(acl_netdb_index_ip(db, 0), c.name);
            EXPECT_EQ(g_resolver_calls, before) << c.name;
        } else {
            EXPECT_EQ(db, nullptr) << c.name;
            EXPECT_EQ(g_resolver_calls, before + 1) << c.name;
            EXPECT_NE(err, 0);
        }
        acl_netdb_free(db);
    }
    int err = 0;
    EXPECT_EQ(acl_gethostbyname("", &err), nullptr);
    acl_netdb_set_resolver(nullptr);
}

TEST(NetdbTest, ResolverAnswerKeepsOrderAndLowerCasesTheName) {
    acl_netdb_set_resolver(fake_resolver);
    int err = 0;
    ACL_NETDB* db = acl_gethostbyname("eight.test", &err);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->name, "eight.test");
    EXPECT_EQ(acl_netdb_size(db), 8);
    EXPECT_STREQ(acl_netdb_index_ip(db, 7), "10.0.0.8");
    EXPECT_EQ(acl_netdb_index_ip(db, 8), nullptr);
    acl_netdb_free(db);
    acl_netdb_set_resolver(nullptr);
}

TEST(NetdbTest, SystemResolverAnswersLocalhost) {
    int err = 0;
    ACL_NETDB* db = acl_gethostbyname("localhost", &err);
    ASSERT_NE(db, nullptr);
    ASSERT_GE(acl_netdb_size(db), 1);
    EXPECT_EQ(std::string(acl_netdb_index_ip(db, 0)).rfind("127.", 0), 0u);
    acl_netdb_free(db);
}

}  // namespace
