#include "test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "platform/browser_proxy.h"
#include "platform/process.h"
#include "platform/self.h"

namespace fs = std::filesystem;

namespace tarvo_test {

TempDir::TempDir() {
    static std::atomic<int> serial{0};
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("tarvo_test_" + std::to_string(platform::process_id()) + "_" +
                 std::to_string(serial++) + "_" + std::to_string(rd() % 1000000));
        std::error_code ec;
        if (fs::create_directory(path_, ec))  // false when the name is taken
            break;
        if (ec) std::abort();  // no temporary folder at all: nothing can run
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string pattern_bytes(std::size_t n, std::uint32_t seed) {
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

std::string program_file(const std::string& name) {
    return (fs::path(TARVO_PROGRAM_DIR) / name).string();
}

std::string copy_program(const std::string& name, const fs::path& folder, const std::string& as) {
    fs::path to = folder / (as.empty() ? name : as);
    fs::copy_file(program_file(name), to, fs::copy_options::overwrite_existing);
    return to.string();
}

bool process_alive(int pid) {
    if (pid <= 0) return false;
    // The state letter follows the command name, which is in parentheses and
    // may itself hold ")".
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    auto paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

bool desktop_proxy_schema_installed() {
    int code = -1;
    return platform::process_run_wait({"gsettings", "list-keys", platform::DESKTOP_PROXY_SCHEMA},
                                      &code) == 0 &&
           code == 0;
}

}  // namespace tarvo_test
