// Building blocks for code that runs inside a crash signal handler.
//
// Everything here is async-signal-safe: no allocation, no stdio, no locks,
// only plain system calls on caller-provided buffers. Text is built in a
// fixed buffer and cut (never overflowed) when it does not fit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Text in a caller-owned buffer, always NUL-terminated; appends that do not
// fit are cut.
class SafeText {
  public:
    SafeText(char* buf, std::size_t cap) : buf_(buf), cap_(cap) { clear(); }

    void clear();
    SafeText& put(const char* text);
    SafeText& put(const char* text, std::size_t len);
    SafeText& put_char(char c);
    // Unsigned decimal.
    SafeText& put_dec(std::uint64_t v);
    // Hexadecimal with at least `width` digits (zero-padded).
    SafeText& put_hex(std::uint64_t v, int width, bool upper = true);

    const char* c_str() const { return buf_; }
    std::size_t size() const { return len_; }

  private:
    char* buf_;
    std::size_t cap_;
    std::size_t len_ = 0;
};

// Files in the signal path. Descriptors are plain ints, closed on exec.
// Creates or truncates `path` for writing; -1 on failure.
int safe_create(const char* path);
// Opens `path` for reading; -1 on failure.
int safe_open_read(const char* path);
void safe_close(int fd);
// Writes all of `len` bytes; 0, or -1 when a write fails.
int safe_write_all(int fd, const void* data, std::size_t len);
// Writes `len` bytes of this process's memory from `addr`; pages that cannot
// be read are written as zeros, so the file always grows by `len`. 0, or -1
// when the file write itself fails.
int safe_write_memory(int fd, std::uint64_t addr, std::uint64_t len);
// Writes at `offset`; 0, or -1.
int safe_pwrite_all(int fd, const void* data, std::size_t len, std::uint64_t offset);
// Reads up to `len` bytes; the count, or -1.
long safe_read(int fd, void* buf, std::size_t len);
// Reads at `offset`; the count, or -1.
long safe_pread(int fd, void* buf, std::size_t len, std::uint64_t offset);
// Reads a whole (small, /proc) file into `buf`, NUL-terminated and cut to
// `cap` - 1 bytes; the count, or -1.
long safe_read_file(const char* path, char* buf, std::size_t cap);

// Monotonic milliseconds, for deadlines.
std::int64_t safe_now_ms();
void safe_sleep_ms(int ms);

// Kernel ids of the process and the calling thread.
int safe_pid();
int safe_tid();

// Up to `cap` kernel ids of this process's threads; the count, or -1.
int safe_list_threads(int* tids, int cap);

// Sends `sig` to thread `tid` of this process. 0, or -1.
int safe_signal_thread(int tid, int sig);

// Parses an unsigned decimal at `*p`, moving `*p` past it.
std::uint64_t safe_parse_dec(const char** p);
// Parses unsigned hexadecimal at `*p`, moving `*p` past it.
std::uint64_t safe_parse_hex(const char** p);

// Whether `text` starts with `prefix`.
bool safe_starts_with(const char* text, const char* prefix);

}  // namespace platform
