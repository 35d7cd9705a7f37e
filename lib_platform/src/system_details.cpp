#include "platform/system_details.h"

#include <sys/utsname.h>

#include "platform/sigsafe.h"

namespace platform {

namespace {

// User address space of a 64-bit process (47 bits), the twin of the total
// virtual memory figure.
constexpr std::uint64_t kUserSpaceKb = (1ULL << 47) / 1024;

char g_buf[16384];

void copy(char* dst, std::size_t cap, const char* src) {
    std::size_t i = 0;
    for (; src[i] != '\0' && i + 1 < cap; i++) dst[i] = src[i];
    dst[i] = '\0';
}

// The value after "<key>" and the colon on the line that starts with `key`,
// or null. The value ends at the line end.
const char* find_value(const char* text, const char* key) {
    for (const char* line = text; *line != '\0';) {
        if (safe_starts_with(line, key)) {
            const char* p = line;
            while (*p != '\0' && *p != '\n' && *p != ':') p++;
            if (*p == ':') {
                p++;
                while (*p == ' ' || *p == '\t') p++;
                return p;
            }
        }
        while (*line != '\0' && *line != '\n') line++;
        if (*line == '\n') line++;
    }
    return nullptr;
}

std::uint64_t value_dec(const char* text, const char* key, std::uint64_t fallback) {
    const char* p = find_value(text, key);
    if (p == nullptr || *p < '0' || *p > '9') return fallback;
    return safe_parse_dec(&p);
}

void read_os(SystemDetails& out) {
    struct utsname u;
    if (::uname(&u) != 0) return;
    out.os_known = true;
    copy(out.sysname, sizeof(out.sysname), u.sysname);
    copy(out.release, sizeof(out.release), u.release);
    copy(out.version, sizeof(out.version), u.version);
    copy(out.machine, sizeof(out.machine), u.machine);
    const char* p = u.release;
    out.os_major = static_cast<int>(safe_parse_dec(&p));
    if (*p == '.') p++;
    out.os_minor = static_cast<int>(safe_parse_dec(&p));
    if (*p == '.') p++;
    out.os_build = static_cast<int>(safe_parse_dec(&p));
}

void read_cpu(SystemDetails& out) {
    if (safe_read_file("/proc/cpuinfo", g_buf, sizeof(g_buf)) > 0) {
        if (const char* v = find_value(g_buf, "vendor_id")) {
            std::size_t n = 0;
            while (v[n] != '\0' && v[n] != '\n' && n + 1 < sizeof(out.vendor)) {
                out.vendor[n] = v[n];
                n++;
            }
            out.vendor[n] = '\0';
        }
        out.mhz = static_cast<int>(value_dec(g_buf, "cpu MHz", static_cast<std::uint64_t>(-1)));
        out.cpu_family =
            static_cast<int>(value_dec(g_buf, "cpu family", static_cast<std::uint64_t>(-1)));
        out.cpu_model =
            static_cast<int>(value_dec(g_buf, "model\t", static_cast<std::uint64_t>(-1)));
        out.cpu_stepping =
            static_cast<int>(value_dec(g_buf, "stepping", static_cast<std::uint64_t>(-1)));
    }
    // "0-3,6": ranges of processors on line.
    if (safe_read_file("/sys/devices/system/cpu/online", g_buf, sizeof(g_buf)) > 0) {
        const char* p = g_buf;
        while (*p >= '0' && *p <= '9') {
            std::uint64_t lo = safe_parse_dec(&p), hi = lo;
            if (*p == '-') {
                p++;
                hi = safe_parse_dec(&p);
            }
            out.cpu_count += static_cast<int>(hi - lo + 1);
            if (*p == ',') p++;
        }
    }
}

void read_memory(SystemDetails& out) {
    if (safe_read_file("/proc/meminfo", g_buf, sizeof(g_buf)) > 0) {
        out.phys_total_kb = value_dec(g_buf, "MemTotal", 0);
        out.phys_avail_kb = value_dec(g_buf, "MemAvailable", value_dec(g_buf, "MemFree", 0));
        if (out.phys_total_kb > 0 && out.phys_avail_kb <= out.phys_total_kb)
            out.memory_load = static_cast<unsigned>((out.phys_total_kb - out.phys_avail_kb) * 100 /
                                                    out.phys_total_kb);
    }
    if (safe_read_file("/proc/self/status", g_buf, sizeof(g_buf)) > 0) {
        std::uint64_t used = value_dec(g_buf, "VmSize", 0);
        out.virt_total_kb = kUserSpaceKb;
        out.virt_avail_kb = used < kUserSpaceKb ? kUserSpaceKb - used : 0;
        out.working_set_kb = value_dec(g_buf, "VmRSS", 0);
        out.working_set_peak_kb = value_dec(g_buf, "VmHWM", 0);
    }
}

}  // namespace

void system_details_read(SystemDetails& out) {
    out = SystemDetails{};
    read_os(out);
    read_cpu(out);
    read_memory(out);
}

}  // namespace platform
