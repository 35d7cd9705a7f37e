#include "resource_fixture.h"

#include <cstdlib>
#include <filesystem>

#include "acl_htable.h"
#include "named_pipe.h"

namespace resource_test {

std::string record_bytes(const std::string& key, std::uint32_t size, const std::string& path,
                         int path_len) {
    std::string out = key;
    out.resize(16, '\0');
    for (int i = 0; i < 4; i++) out.push_back(static_cast<char>(size >> (8 * i)));
    std::uint32_t n = path_len < 0 ? static_cast<std::uint32_t>(path.size())
                                   : static_cast<std::uint32_t>(path_len);
    out.push_back(static_cast<char>(n & 0xff));
    out.push_back(static_cast<char>(n >> 8));
    return out + path;
}

std::vector<Record> read_list_file(const std::string& path, bool* ok) {
    const std::string bytes = tarvo_test::read_file(path);
    std::vector<Record> out;
    std::size_t pos = 0;
    *ok = true;
    auto u = [&](std::size_t at, int width) {
        std::uint32_t v = 0;
        for (int i = width - 1; i >= 0; i--)
            v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 22) {
            *ok = false;
            break;
        }
        Record r;
        r.key = bytes.substr(pos, 16);
        r.key.resize(r.key.find('\0') == std::string::npos ? 16 : r.key.find('\0'));
        r.size = u(pos + 16, 4);
        std::uint32_t n = u(pos + 20, 2);
        if (n == 0 || n > 260 || bytes.size() - pos - 22 < n) {
            *ok = false;
            break;
        }
        r.path = bytes.substr(pos + 22, n);
        out.push_back(r);
        pos += 22 + n;
    }
    return out;
}

void ResourceFixture::SetUp() {
    ::setenv("TARVO_REGISTRY", dir_.file("registry.reg").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
    std::filesystem::create_directories(cache());
    _init_client(cache().c_str(), 1000, nullptr);
    g_client.app_dir = dir_.folder();
    resource_set_walk_pause_ms(0);
}

void ResourceFixture::TearDown() {
    Session_Close();
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (g_client.res_table != nullptr) {
        acl_htable_free(g_client.res_table,
                        [](void* v) { delete static_cast<P2P_RESOURCE_ITEM*>(v); });
        g_client.res_table = nullptr;
    }
    g_client.login_state = 255;
    g_client.pipe_ready = false;
    resource_set_space_saver(nullptr, nullptr);
    resource_set_walk_pause_ms(1000);
}

std::string ResourceFixture::cache_file(const std::string& name, std::size_t n,
                                        std::uint32_t seed) {
    std::string path = cache() + name;
    tarvo_test::write_file(path, tarvo_test::pattern_bytes(n, seed));
    return path;
}

}  // namespace resource_test
