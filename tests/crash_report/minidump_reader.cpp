#include "minidump_reader.h"

#include <algorithm>
#include <cstdio>

namespace minidump_test {

namespace {

class Reader {
  public:
    Reader(const std::string& b, Dump& d) : b_(b), d_(d) {}

    bool in_file(std::uint64_t at, std::uint64_t len, const std::string& what) {
        if (at + len <= b_.size()) return true;
        problem(what + " at " + std::to_string(at) + "+" + std::to_string(len) +
                " lies beyond the file (" + std::to_string(b_.size()) + " bytes)");
        return false;
    }
    std::uint16_t u16(std::uint64_t at) const {
        return static_cast<std::uint16_t>(byte(at) | byte(at + 1) << 8);
    }
    std::uint32_t u32(std::uint64_t at) const {
        return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
    }
    std::uint64_t u64(std::uint64_t at) const {
        return static_cast<std::uint64_t>(u32(at)) | static_cast<std::uint64_t>(u32(at + 4)) << 32;
    }
    Location loc(std::uint64_t at) const { return {u32(at), u32(at + 4)}; }
    void problem(const std::string& p) { d_.problems.push_back(p); }
    std::string bytes(Location l) const { return b_.substr(l.rva, l.size); }

    // MINIDUMP_STRING: a 32-bit byte length, UTF-16LE text, a 16-bit NUL.
    std::string string_at(std::uint32_t rva, const std::string& what) {
        if (!in_file(rva, 4, what)) return {};
        std::uint32_t len = u32(rva);
        if (len % 2 != 0) problem(what + ": odd UTF-16 length");
        if (!in_file(rva + 4, len + 2ULL, what)) return {};
        if (u16(rva + 4 + len) != 0) problem(what + ": no terminator");
        std::string out;
        for (std::uint32_t i = 0; i < len; i += 2) {
            std::uint16_t c = u16(rva + 4 + i);
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }

  private:
    unsigned byte(std::uint64_t at) const {
        return at < b_.size() ? static_cast<unsigned char>(b_[at]) : 0;
    }
    const std::string& b_;
    Dump& d_;
};

void expect_size(Reader& r, const std::string& what, Location l, std::uint64_t size) {
    if (l.size != size)
        r.problem(what + " has " + std::to_string(l.size) + " bytes, expected " +
                  std::to_string(size));
}

// A list stream: a 32-bit count, then the entries. The offsets of the
// entries that lie in the file.
std::vector<std::uint64_t> list_entries(Reader& r, Location l, std::uint64_t entry_size,
                                        const std::string& what) {
    std::vector<std::uint64_t> at;
    if (!r.in_file(l.rva, 4, what)) return at;
    std::uint32_t n = r.u32(l.rva);
    expect_size(r, what, l, 4 + entry_size * n);
    for (std::uint32_t i = 0; i < n; i++) {
        std::uint64_t entry = l.rva + 4 + entry_size * i;
        if (!r.in_file(entry, entry_size, what + " entry")) break;
        at.push_back(entry);
    }
    return at;
}

void read_threads(Reader& r, Dump& d, Location l) {
    for (std::uint64_t at : list_entries(r, l, 48, "thread list")) {
        Thread t;
        t.id = r.u32(at);
        t.stack_start = r.u64(at + 24);
        t.stack = r.loc(at + 32);
        t.context = r.loc(at + 40);
        std::string name = "thread " + std::to_string(t.id);
        r.in_file(t.stack.rva, t.stack.size, name + " stack");
        expect_size(r, name + " context", t.context, 1232);
        if (r.in_file(t.context.rva, 1232, name + " context")) {
            if ((r.u32(t.context.rva + 48) & 0x00100000) == 0) r.problem(name + ": not AMD64");
            t.rsp = r.u64(t.context.rva + 152);
            t.rip = r.u64(t.context.rva + 248);
        }
        // The stack memory holds the stack pointer, or starts just above it
        // when the stack has overflowed into its guard.
        if (t.stack.size > 0 &&
            (t.rsp >= t.stack_start + t.stack.size || t.rsp + (1 << 20) < t.stack_start))
            r.problem(name + ": stack memory does not hold its stack pointer");
        d.threads.push_back(t);
    }
}

std::string hex(const std::string& raw) {
    std::string out;
    char two[3];
    for (unsigned char c : raw) {
        std::snprintf(two, sizeof(two), "%02x", c);
        out += two;
    }
    return out;
}

void read_modules(Reader& r, Dump& d, Location l) {
    for (std::uint64_t at : list_entries(r, l, 108, "module list")) {
        Module m;
        m.base = r.u64(at);
        m.size = r.u32(at + 8);
        m.name = r.string_at(r.u32(at + 20), "module name");
        Location cv = r.loc(at + 76);
        if (cv.size > 0 && r.in_file(cv.rva, cv.size, m.name + " CodeView record")) {
            if (cv.size < 4 || r.u32(cv.rva) != 0x4270454c)
                r.problem(m.name + ": CodeView record is not an ELF build id");
            else
                m.build_id_hex = hex(r.bytes({cv.size - 4, cv.rva + 4}));
        }
        d.modules.push_back(m);
    }
}

void read_memory(Reader& r, Dump& d, Location l) {
    for (std::uint64_t at : list_entries(r, l, 16, "memory list")) {
        Location mem = r.loc(at + 8);
        r.in_file(mem.rva, mem.size, "memory range");
        d.memory.emplace_back(r.u64(at), mem);
    }
}

void read_exception(Reader& r, Dump& d, Location l) {
    expect_size(r, "exception stream", l, 168);
    if (!r.in_file(l.rva, 168, "exception stream")) return;
    d.exception_thread = r.u32(l.rva);
    d.exception_code = r.u32(l.rva + 8);
    d.exception_address = r.u64(l.rva + 24);
    d.exception_context = r.loc(l.rva + 160);
    expect_size(r, "exception context", d.exception_context, 1232);
    r.in_file(d.exception_context.rva, d.exception_context.size, "exception context");
}

void read_system_info(Reader& r, Dump& d, Location l) {
    expect_size(r, "system info", l, 56);
    if (!r.in_file(l.rva, 56, "system info")) return;
    d.arch = r.u16(l.rva);
    d.platform_id = r.u32(l.rva + 20);
    r.string_at(r.u32(l.rva + 24), "CSD version");
}

}  // namespace

Dump read_dump(const std::string& b) {
    Dump d;
    Reader r(b, d);
    if (!r.in_file(0, 32, "header")) return d;
    if (r.u32(0) != 0x504d444d) r.problem("no MDMP signature");
    if ((r.u32(4) & 0xffff) != 0xa793) r.problem("not version 0xA793");
    std::uint32_t count = r.u32(8), dir = r.u32(12);
    if (!r.in_file(dir, 12ULL * count, "stream directory")) return d;

    // Every stream inside the file, none overlapping another.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (std::uint32_t i = 0; i < count; i++) {
        std::uint32_t type = r.u32(dir + 12ULL * i);
        Location l = r.loc(dir + 12ULL * i + 4);
        r.in_file(l.rva, l.size, "stream " + std::to_string(type));
        if (d.streams.count(type)) r.problem("stream " + std::to_string(type) + " twice");
        d.streams[type] = l;
        d.stream_order.push_back(type);
        if (l.size > 0) spans.emplace_back(l.rva, l.rva + l.size);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); i++) {
        if (spans[i].first < spans[i - 1].second) r.problem("streams overlap");
    }
    if (!spans.empty() && spans.front().first < dir + 12ULL * count)
        r.problem("a stream overlaps the directory");

    auto has = [&](std::uint32_t t) { return d.streams.count(t) > 0; };
    if (has(3)) read_threads(r, d, d.streams[3]);
    if (has(4)) read_modules(r, d, d.streams[4]);
    if (has(5)) read_memory(r, d, d.streams[5]);
    if (has(6)) read_exception(r, d, d.streams[6]);
    if (has(7)) read_system_info(r, d, d.streams[7]);
    if (has(15)) {
        expect_size(r, "misc info", d.streams[15], 24);
        if (r.in_file(d.streams[15].rva, 24, "misc info"))
            d.misc_pid = r.u32(d.streams[15].rva + 8);
    }
    auto text = [&](std::uint32_t t) {
        return has(t) && r.in_file(d.streams[t].rva, d.streams[t].size, "text stream")
                   ? r.bytes(d.streams[t])
                   : std::string();
    };
    d.proc_status = text(0x47670004);
    d.cmdline = text(0x47670006);
    d.auxv = text(0x47670008);
    d.maps = text(0x47670009);
    return d;
}

}  // namespace minidump_test
