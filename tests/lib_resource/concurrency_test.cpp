// Eight threads add resources while the desktop side's "DEL" stream removes
// them: the list's lock keeps the file and the list alike. Built for the tsan
// preset as well, where any data race fails the test.
#include <atomic>
#include <set>
#include <thread>

#include "acl_htable.h"
#include "desktop_side.h"
#include "resource_fixture.h"
#include "sessionsvr_process.h"

using namespace std::chrono_literals;

namespace {

void on_login(std::uint16_t state, std::uint32_t id) {
    g_client.client_id = id;
    g_client.login_state = state;
}

class Concurrency : public resource_test::ResourceFixture {};

TEST_F(Concurrency, AddsAndDeletesAtOnceLeaveTheFileEqualToTheList) {
    p2p_test::SessionServerProcess svr(dir_.path());
    ASSERT_TRUE(svr.ok());
    g_client.callbacks.on_login = on_login;
    ASSERT_EQ(p2p_client_register(svr.ip().c_str(), svr.port()), 0);
    ASSERT_TRUE(tarvo_test::wait_until([] { return g_client.login_state == 0; }, 30s));

    resource_test::DesktopSide desktop;
    ASSERT_TRUE(desktop.ok());
    resource_test::ProxyReader reader(&desktop);
    ASSERT_TRUE(resource_test::proxy_pipe_open());

    constexpr int kThreads = 8, kPerThread = 100, kDeletes = 200;
    std::vector<std::string> paths(kThreads * kPerThread);
    for (std::size_t i = 0; i < paths.size(); i++)
        paths[i] = cache_file(std::to_string(i + 1) + ".flv", 16, static_cast<std::uint32_t>(i));

    std::atomic<int> added{0};
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; t++) {
        adders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; i++) {
                std::size_t n = static_cast<std::size_t>(t * kPerThread + i);
                if (resource_add(n + 1, paths[n].c_str(), "caption", 16) == 0) added++;
            }
        });
    }
    // The ready messages pile up in the desktop's pipe: drain them.
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        while (draining) desktop.read(50);
    });
    // One "DEL" at a time, each for a resource already added: the channel
    // hands on one read as one message, so a stream sent faster than it is
    // read would run messages together.
    int deleted = 0;
    for (int d = 0; d < kDeletes; d++) {
        const std::size_t n = static_cast<std::size_t>(d * 4);
        P2P_RESOURCE_ITEM item;
        if (!tarvo_test::wait_until([&] { return resource_lookup(n + 1, &item); })) break;
        desktop.send("DELRES_PATH=" + paths[n] + std::string(1, '\0'));
        if (tarvo_test::wait_until([&] { return !resource_lookup(n + 1, &item); })) deleted++;
    }
    for (auto& a : adders) a.join();
    EXPECT_EQ(added.load(), kThreads * kPerThread);
    EXPECT_EQ(deleted, kDeletes);
    draining = false;
    drain.join();

    std::set<std::string> listed;
    {
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        acl_htable_walk(
            g_client.res_table,
            [](ACL_HTABLE_INFO* info, void* arg) {
                auto* item = static_cast<P2P_RESOURCE_ITEM*>(info->value);
                static_cast<std::set<std::string>*>(arg)->insert(resource_key(item->id) + " " +
                                                                 item->file_path);
            },
            &listed);
    }
    bool ok = false;
    std::set<std::string> in_file;
    for (const auto& r : resource_test::read_list_file(list_file(), &ok))
        in_file.insert(r.key + " " + r.path);
    EXPECT_TRUE(ok);
    EXPECT_EQ(in_file, listed);
    EXPECT_EQ(listed.size(), paths.size() - kDeletes);
}

}  // namespace
