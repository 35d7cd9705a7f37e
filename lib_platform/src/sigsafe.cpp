#include "platform/sigsafe.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

void SafeText::clear() {
    len_ = 0;
    if (cap_ > 0) buf_[0] = '\0';
}

SafeText& SafeText::put(const char* text, std::size_t len) {
    if (cap_ == 0) return *this;
    for (std::size_t i = 0; i < len && len_ + 1 < cap_; i++) buf_[len_++] = text[i];
    buf_[len_] = '\0';
    return *this;
}

SafeText& SafeText::put(const char* text) {
    if (text == nullptr) return *this;
    std::size_t n = 0;
    while (text[n] != '\0') n++;
    return put(text, n);
}

SafeText& SafeText::put_char(char c) { return put(&c, 1); }

SafeText& SafeText::put_dec(std::uint64_t v) {
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) put_char(tmp[--n]);
    return *this;
}

SafeText& SafeText::put_hex(std::uint64_t v, int width, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char tmp[16];
    int n = 0;
    do {
        tmp[n++] = digits[v & 0xf];
        v >>= 4;
    } while (v != 0);
    for (int i = n; i < width; i++) put_char('0');
    while (n > 0) put_char(tmp[--n]);
    return *this;
}

int safe_create(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int safe_open_read(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void safe_close(int fd) {
    if (fd >= 0) ::close(fd);
}

int safe_write_all(int fd, const void* data, std::size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        // The raw call: a sanitizer's write wrapper would check the bytes
        // and object to another frame's guard zones in a copied stack.
        long w = ::syscall(SYS_write, fd, p, len);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return 0;
}

int safe_write_memory(int fd, std::uint64_t addr, std::uint64_t len) {
    static const char zeros[4096] = {};
    std::uint64_t done = 0;
    while (done < len) {
        long w = ::syscall(SYS_write, fd, addr + done, len - done);
        if (w > 0) {
            done += static_cast<std::uint64_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (!(w < 0 && errno == EFAULT)) return -1;
        // Unreadable: zeros up to the next page.
        std::uint64_t here = addr + done;
        std::uint64_t fill = 4096 - (here & 4095);
        if (fill > len - done) fill = len - done;
        if (safe_write_all(fd, zeros, fill) != 0) return -1;
        done += fill;
    }
    return 0;
}

int safe_pwrite_all(int fd, const void* data, std::size_t len, std::uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        long w = ::syscall(SYS_pwrite64, fd, p, len, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        p += w;
        len -= static_cast<std::size_t>(w);
        offset += static_cast<std::uint64_t>(w);
    }
    return 0;
}

long safe_read(int fd, void* buf, std::size_t len) {
    for (;;) {
        ssize_t r = ::read(fd, buf, len);
        if (r < 0 && errno == EINTR) continue;
        return static_cast<long>(r);
    }
}

long safe_pread(int fd, void* buf, std::size_t len, std::uint64_t offset) {
    for (;;) {
        ssize_t r = ::pread(fd, buf, len, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        return static_cast<long>(r);
    }
}

long safe_read_file(const char* path, char* buf, std::size_t cap) {
    if (cap == 0) return -1;
    int fd = safe_open_read(path);
    if (fd < 0) {
        buf[0] = '\0';
        return -1;
    }
    std::size_t got = 0;
    while (got + 1 < cap) {
        long r = safe_read(fd, buf + got, cap - 1 - got);
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    buf[got] = '\0';
    safe_close(fd);
    return static_cast<long>(got);
}

std::int64_t safe_now_ms() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void safe_sleep_ms(int ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    ::nanosleep(&ts, nullptr);
}

int safe_pid() { return static_cast<int>(::getpid()); }

int safe_tid() { return static_cast<int>(::syscall(SYS_gettid)); }

int safe_list_threads(int* tids, int cap) {
    int fd;
    do {
        fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // getdents64 fills a plain buffer; readdir() would allocate.
    alignas(8) char buf[4096];
    int n = 0;
    for (;;) {
        long got = ::syscall(SYS_getdents64, fd, buf, sizeof(buf));
        if (got <= 0) break;
        for (long off = 0; off < got;) {
            auto* d = reinterpret_cast<struct dirent64*>(buf + off);
            const char* name = d->d_name;
            if (name[0] >= '0' && name[0] <= '9' && n < cap) {
                const char* p = name;
                tids[n++] = static_cast<int>(safe_parse_dec(&p));
            }
            off += d->d_reclen;
        }
    }
    safe_close(fd);
    return n;
}

int safe_signal_thread(int tid, int sig) {
    return ::syscall(SYS_tgkill, safe_pid(), tid, sig) == 0 ? 0 : -1;
}

std::uint64_t safe_parse_dec(const char** p) {
    std::uint64_t v = 0;
    const char* s = *p;
    while (*s >= '0' && *s <= '9') v = v * 10 + static_cast<std::uint64_t>(*s++ - '0');
    *p = s;
    return v;
}

std::uint64_t safe_parse_hex(const char** p) {
    std::uint64_t v = 0;
    const char* s = *p;
    for (;; s++) {
        char c = *s;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        v = (v << 4) | static_cast<std::uint64_t>(d);
    }
    *p = s;
    return v;
}

bool safe_starts_with(const char* text, const char* prefix) {
    while (*prefix != '\0') {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

}  // namespace platform
