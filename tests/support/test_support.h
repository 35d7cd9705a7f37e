// What every test shares: a private temporary folder, whole-file reads and
// writes, polling with a deadline, pattern bytes, the built programs, and a
// few questions about this machine.
//
// Processes and sockets come from lib_platform (platform::ChildProcess owns
// and always stops what it started; platform::free_loopback_port picks ports),
// so nothing here calls the operating system itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tarvo_test {

// A fresh folder under the system's temporary folder, named after the process
// and unique within it; removed with its content when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }           // no "/" at the end
    std::string folder() const { return path_.string() + "/"; }  // ends with "/"
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Polls `done` every 20 ms until it is true or `timeout` passes; `done` is
// asked once more at the deadline, so its last answer is what counts.
bool wait_until(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The whole file as bytes ("" when it cannot be read).
std::string read_file(const std::filesystem::path& path);
// Replaces the file's content with `data`.
void write_file(const std::filesystem::path& path, const std::string& data);

// Deterministic pseudo-random bytes, so a body shows any reordering or loss.
std::string pattern_bytes(std::size_t n, std::uint32_t seed);

// Path of `name` in the build's program folder: a program, or a default file
// installed next to the programs.
std::string program_file(const std::string& name);

// Copies program `name` from the build's program folder into `folder` as
// `as` (default: the same name); a program reads its configuration and
// writes its log next to itself. Returns the copy's path.
std::string copy_program(const std::string& name, const std::filesystem::path& folder,
                         const std::string& as = "");

// Whether process `pid` exists and has not ended (a zombie has ended).
bool process_alive(int pid);

// Whether the desktop's proxy schema is installed on this machine; the cases
// that check the desktop setting skip without it.
bool desktop_proxy_schema_installed();

}  // namespace tarvo_test
