#include "platform/minidump.h"

#include <cpuid.h>
#include <sys/utsname.h>
#include <time.h>

#include "platform/sigsafe.h"
#include "platform/system_details.h"

namespace platform {

namespace {

constexpr std::uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr std::uint32_t kVersion = 0xa793;
constexpr int kMaxStreams = 16;
constexpr std::uint32_t kHeaderSize = 32;
constexpr std::uint32_t kDirEntrySize = 12;
constexpr std::uint32_t kContextSize = 1232;
constexpr std::uint32_t kContextFlags = 0x0010000f;  // AMD64: control, integer, segments, float
constexpr std::uint32_t kThreadSize = 48;
constexpr std::uint32_t kModuleSize = 108;
constexpr std::uint32_t kMemoryDescSize = 16;
constexpr std::uint32_t kExceptionSize = 168;
constexpr std::uint32_t kSystemInfoSize = 56;
constexpr std::uint32_t kMiscInfoSize = 24;
constexpr std::uint32_t kCvElfSignature = 0x4270454c;  // "LEpB"
constexpr std::uint16_t kArchAmd64 = 9;
constexpr std::uint32_t kPlatformLinux = 0x8201;
constexpr std::uint64_t kRedZone = 128;

struct Loc {
    std::uint32_t size = 0, rva = 0;
};

struct StackRange {
    std::uint64_t start = 0;
    Loc mem;
    Loc context;
};

unsigned char g_rec[8192];
char g_copy[16384];
StackRange g_stacks[THREAD_PARK_MAX + 1];
Loc g_module_name[PROC_MODULES_MAX];
Loc g_module_cv[PROC_MODULES_MAX];
SystemDetails g_details;

void put16(unsigned char* b, std::uint32_t at, std::uint16_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* b, std::uint32_t at, std::uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void put64(unsigned char* b, std::uint32_t at, std::uint64_t v) {
    for (int i = 0; i < 8; i++) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void zero(unsigned char* b, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; i++) b[i] = 0;
}
void put_loc(unsigned char* b, std::uint32_t at, Loc l) {
    put32(b, at, l.size);
    put32(b, at + 4, l.rva);
}

// Appends to the file, keeping the offset the next record gets.
class Out {
  public:
    explicit Out(int fd) : fd_(fd) {}

    std::uint32_t pos() const { return static_cast<std::uint32_t>(pos_); }
    bool failed() const { return failed_; }

    void align() {
        static const unsigned char pad[8] = {};
        if (pos_ % 8 != 0) write(pad, 8 - pos_ % 8);
    }
    Loc append(const void* data, std::uint32_t len) {
        align();
        Loc l{len, pos()};
        write(data, len);
        return l;
    }
    Loc append_memory(std::uint64_t addr, std::uint64_t len) {
        align();
        Loc l{static_cast<std::uint32_t>(len), pos()};
        if (!failed_ && safe_write_memory(fd_, addr, len) != 0) failed_ = true;
        pos_ += len;
        return l;
    }
    Loc append_file(const char* path) {
        align();
        Loc l{0, pos()};
        int fd = safe_open_read(path);
        if (fd < 0) return l;
        for (;;) {
            long r = safe_read(fd, g_copy, sizeof(g_copy));
            if (r <= 0) break;
            write(g_copy, static_cast<std::uint32_t>(r));
            l.size += static_cast<std::uint32_t>(r);
        }
        safe_close(fd);
        return l;
    }
    void write(const void* data, std::uint64_t len) {
        if (!failed_ && safe_write_all(fd_, data, len) != 0) failed_ = true;
        pos_ += len;
    }

  private:
    int fd_;
    std::uint64_t pos_ = 0;
    bool failed_ = false;
};

struct Directory {
    std::uint32_t type[kMaxStreams];
    Loc loc[kMaxStreams];
    int count = 0;
    void add(std::uint32_t t, Loc l) {
        if (count == kMaxStreams) return;
        type[count] = t;
        loc[count] = l;
        count++;
    }
};

// The AMD64 CONTEXT record of one thread.
Loc write_context(Out& out, const ThreadRegisters& r) {
    unsigned char* c = g_rec;
    zero(c, kContextSize);
    put32(c, 48, kContextFlags);
    if (r.has_fpstate) {
        // MXCSR sits at byte 24 of the FXSAVE image.
        put32(c, 52,
              static_cast<std::uint32_t>(r.fpstate[24]) | (r.fpstate[25] << 8) |
                  (r.fpstate[26] << 16) | (static_cast<std::uint32_t>(r.fpstate[27]) << 24));
        for (int i = 0; i < 512; i++) c[256 + i] = r.fpstate[i];
    }
    std::uint64_t csgsfs = r.gregs[TREG_CSGSFS];
    put16(c, 56, static_cast<std::uint16_t>(csgsfs));        // cs
    put16(c, 62, static_cast<std::uint16_t>(csgsfs >> 32));  // fs
    put16(c, 64, static_cast<std::uint16_t>(csgsfs >> 16));  // gs
    put16(c, 66, static_cast<std::uint16_t>(csgsfs >> 48));  // ss
    put32(c, 68, static_cast<std::uint32_t>(r.gregs[TREG_EFL]));
    const int order[] = {TREG_RAX, TREG_RCX, TREG_RDX, TREG_RBX, TREG_RSP, TREG_RBP,
                         TREG_RSI, TREG_RDI, TREG_R8,  TREG_R9,  TREG_R10, TREG_R11,
                         TREG_R12, TREG_R13, TREG_R14, TREG_R15, TREG_RIP};
    for (int i = 0; i < 17; i++) put64(c, 120 + 8 * i, r.gregs[order[i]]);
    return out.append(c, kContextSize);
}

// The stack from sp (less the red zone) up its region, at most
// MINIDUMP_STACK_MAX bytes. When sp has run into the guard, the region
// above it.
StackRange write_stack(Out& out, const ProcMaps& maps, const ThreadRegisters& r) {
    StackRange s;
    std::uint64_t sp = r.gregs[TREG_RSP];
    const ProcRegion* region = nullptr;
    for (int i = 0; i < maps.region_count; i++) {
        const ProcRegion& c = maps.regions[i];
        if (!c.readable || c.end <= sp) continue;
        if (c.start <= sp) {
            region = &c;
            break;
        }
        if (c.start - sp <= 4096 * 256 && (region == nullptr || c.start < region->start))
            region = &c;
    }
    if (region == nullptr) return s;
    std::uint64_t lo = sp - kRedZone;
    if (lo < region->start || lo > sp) lo = region->start;
    std::uint64_t hi = region->end;
    if (hi - lo > MINIDUMP_STACK_MAX) hi = lo + MINIDUMP_STACK_MAX;
    s.start = lo;
    s.mem = out.append_memory(lo, hi - lo);
    return s;
}

// A list stream: its 32-bit count, then `count` entries of `entry_size`
// bytes that the caller writes next.
Loc begin_list(Out& out, int count, std::uint32_t entry_size) {
    out.align();
    Loc l{4 + entry_size * static_cast<std::uint32_t>(count), out.pos()};
    unsigned char head[4];
    put32(head, 0, static_cast<std::uint32_t>(count));
    out.write(head, 4);
    return l;
}

Loc write_thread_list(Out& out, const MinidumpCrash& crash, int count) {
    Loc l = begin_list(out, count, kThreadSize);
    for (int i = 0; i < count; i++) {
        const ThreadRegisters& r = i == 0 ? crash.crashing : crash.others[i - 1];
        unsigned char* t = g_rec;
        zero(t, kThreadSize);
        put32(t, 0, static_cast<std::uint32_t>(r.tid));
        put32(t, 4, i == 0 ? 0 : 1);  // suspend count: the parked ones are held
        put64(t, 24, g_stacks[i].start);
        put_loc(t, 32, g_stacks[i].mem);
        put_loc(t, 40, g_stacks[i].context);
        out.write(t, kThreadSize);
    }
    return l;
}

Loc write_memory_list(Out& out, int count) {
    int used = 0;
    for (int i = 0; i < count; i++) used += g_stacks[i].mem.size > 0;
    Loc l = begin_list(out, used, kMemoryDescSize);
    for (int i = 0; i < count; i++) {
        if (g_stacks[i].mem.size == 0) continue;
        unsigned char d[kMemoryDescSize];
        put64(d, 0, g_stacks[i].start);
        put_loc(d, 8, g_stacks[i].mem);
        out.write(d, kMemoryDescSize);
    }
    return l;
}

// MINIDUMP_STRING: byte length, UTF-16LE text, a 16-bit terminator.
Loc write_string(Out& out, const char* text) {
    std::uint32_t n = 4;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s != '\0' && n + 6 < sizeof(g_rec)) {
        std::uint32_t cp = *s++;
        int more = cp >= 0xf0 ? 3 : cp >= 0xe0 ? 2 : cp >= 0xc0 ? 1 : 0;
        if (more > 0) cp &= 0x3fu >> more;
        for (; more > 0 && (*s & 0xc0) == 0x80; more--) cp = (cp << 6) | (*s++ & 0x3f);
        if (more > 0 || cp > 0x10ffff) cp = 0xfffd;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put16(g_rec, n, static_cast<std::uint16_t>(0xd800 + (cp >> 10)));
            put16(g_rec, n + 2, static_cast<std::uint16_t>(0xdc00 + (cp & 0x3ff)));
            n += 4;
        } else {
            put16(g_rec, n, static_cast<std::uint16_t>(cp));
            n += 2;
        }
    }
    put32(g_rec, 0, n - 4);
    put16(g_rec, n, 0);
    return out.append(g_rec, n + 2);
}

Loc write_module_list(Out& out, const ProcMaps& maps) {
    for (int i = 0; i < maps.module_count; i++) {
        const ProcModule& m = maps.modules[i];
        g_module_name[i] = write_string(out, m.path);
        unsigned char cv[4 + PROC_BUILD_ID_MAX];
        put32(cv, 0, kCvElfSignature);
        for (int k = 0; k < m.build_id_len; k++) cv[4 + k] = m.build_id[k];
        g_module_cv[i] = m.build_id_len > 0
                             ? out.append(cv, 4 + static_cast<std::uint32_t>(m.build_id_len))
                             : Loc{};
    }
    Loc l = begin_list(out, maps.module_count, kModuleSize);
    for (int i = 0; i < maps.module_count; i++) {
        const ProcModule& m = maps.modules[i];
        unsigned char* e = g_rec;
        zero(e, kModuleSize);
        put64(e, 0, m.base);
        put32(e, 8, static_cast<std::uint32_t>(m.end - m.base));
        put32(e, 20, g_module_name[i].rva);
        // VS_FIXEDFILEINFO at 24 stays empty: ELF files carry no version
        // resource.
        put_loc(e, 76, g_module_cv[i]);
        out.write(e, kModuleSize);
    }
    return l;
}

Loc write_exception(Out& out, const MinidumpCrash& crash) {
    unsigned char* e = g_rec;
    zero(e, kExceptionSize);
    put32(e, 0, static_cast<std::uint32_t>(crash.crashing.tid));
    put32(e, 8, static_cast<std::uint32_t>(crash.signo));
    put32(e, 12, static_cast<std::uint32_t>(crash.si_code));
    put64(e, 24, crash.fault_address);
    put_loc(e, 160, g_stacks[0].context);
    return out.append(e, kExceptionSize);
}

Loc write_system_info(Out& out) {
    SafeText csd(g_copy, 200);
    csd.put(g_details.release).put(" ").put(g_details.version);
    Loc csd_loc = write_string(out, csd.c_str());

    unsigned char* s = g_rec;
    zero(s, kSystemInfoSize);
    put16(s, 0, kArchAmd64);
    put16(s, 2, static_cast<std::uint16_t>(g_details.cpu_family < 0 ? 0 : g_details.cpu_family));
    int model = g_details.cpu_model < 0 ? 0 : g_details.cpu_model;
    int stepping = g_details.cpu_stepping < 0 ? 0 : g_details.cpu_stepping;
    put16(s, 4, static_cast<std::uint16_t>((model << 8) | (stepping & 0xff)));
    s[6] = static_cast<unsigned char>(g_details.cpu_count > 255 ? 255 : g_details.cpu_count);
    s[7] = 1;  // a workstation
    put32(s, 8, static_cast<std::uint32_t>(g_details.os_major));
    put32(s, 12, static_cast<std::uint32_t>(g_details.os_minor));
    put32(s, 16, static_cast<std::uint32_t>(g_details.os_build));
    put32(s, 20, kPlatformLinux);
    put32(s, 24, csd_loc.rva);
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        put32(s, 32, b);
        put32(s, 36, d);
        put32(s, 40, c);
    }
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        put32(s, 44, a);
        put32(s, 48, d);
    }
    if (__get_cpuid(0x80000001, &a, &b, &c, &d)) put32(s, 52, d);
    return out.append(s, kSystemInfoSize);
}

Loc write_misc_info(Out& out) {
    unsigned char m[kMiscInfoSize] = {};
    put32(m, 0, kMiscInfoSize);
    put32(m, 4, 1);  // the process id is valid
    put32(m, 8, static_cast<std::uint32_t>(safe_pid()));
    return out.append(m, kMiscInfoSize);
}

}  // namespace

int minidump_write(int fd, const MinidumpCrash& crash, const ProcMaps& maps) {
    system_details_read(g_details);
    Out out(fd);
    Directory dir;
    // Header and directory come last, when every location is known.
    unsigned char blank[kHeaderSize + kMaxStreams * kDirEntrySize] = {};
    out.write(blank, sizeof(blank));

    int threads = 1 + (crash.other_count < THREAD_PARK_MAX ? crash.other_count : THREAD_PARK_MAX);
    for (int i = 0; i < threads; i++) {
        const ThreadRegisters& r = i == 0 ? crash.crashing : crash.others[i - 1];
        StackRange s = write_stack(out, maps, r);
        s.context = write_context(out, r);
        g_stacks[i] = s;
    }
    dir.add(MD_THREAD_LIST, write_thread_list(out, crash, threads));
    dir.add(MD_MODULE_LIST, write_module_list(out, maps));
    dir.add(MD_MEMORY_LIST, write_memory_list(out, threads));
    dir.add(MD_EXCEPTION, write_exception(out, crash));
    dir.add(MD_SYSTEM_INFO, write_system_info(out));
    dir.add(MD_MISC_INFO, write_misc_info(out));
    dir.add(MD_LINUX_CPU_INFO, out.append_file("/proc/cpuinfo"));
    dir.add(MD_LINUX_PROC_STATUS, out.append_file("/proc/self/status"));
    dir.add(MD_LINUX_CMD_LINE, out.append_file("/proc/self/cmdline"));
    dir.add(MD_LINUX_AUXV, out.append_file("/proc/self/auxv"));
    dir.add(MD_LINUX_MAPS, out.append(maps.text, static_cast<std::uint32_t>(maps.text_len)));

    unsigned char* h = blank;
    put32(h, 0, kSignature);
    put32(h, 4, kVersion);
    put32(h, 8, static_cast<std::uint32_t>(dir.count));
    put32(h, 12, kHeaderSize);
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    put32(h, 20, static_cast<std::uint32_t>(now.tv_sec));
    for (int i = 0; i < dir.count; i++) {
        put32(h, kHeaderSize + kDirEntrySize * i, dir.type[i]);
        put_loc(h, kHeaderSize + kDirEntrySize * i + 4, dir.loc[i]);
    }
    int wrote = safe_pwrite_all(fd, h, kHeaderSize + kDirEntrySize * dir.count, 0);
    return out.failed() || wrote != 0 ? -1 : 0;
}

}  // namespace platform
