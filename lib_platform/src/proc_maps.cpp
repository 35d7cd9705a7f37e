#include "platform/proc_maps.h"

#include <elf.h>

#include "platform/sigsafe.h"

namespace platform {

namespace {

constexpr std::size_t kTextMax = 1 << 20;  // a heavily threaded process has a long map
constexpr std::uint64_t kGuardReach = 1 << 20;

char g_text[kTextMax];
ProcRegion g_regions[PROC_MAPS_MAX];
ProcModule g_modules[PROC_MODULES_MAX];

bool same_path(const char* text, const ProcRegion& r, const char* path) {
    for (int i = 0; i < r.path_len; i++) {
        if (text[r.path_at + i] != path[i]) return false;
    }
    return path[r.path_len] == '\0';
}

// One line "start-end perms offset dev inode [path]"; false for a torn line.
bool parse_line(const char* line, const char* line_end, ProcRegion& r) {
    const char* p = line;
    r.start = safe_parse_hex(&p);
    if (*p++ != '-') return false;
    r.end = safe_parse_hex(&p);
    if (*p++ != ' ' || line_end - p < 4) return false;
    r.readable = p[0] == 'r';
    r.writable = p[1] == 'w';
    r.executable = p[2] == 'x';
    p += 4;
    if (*p++ != ' ') return false;
    r.offset = safe_parse_hex(&p);
    // dev and inode, then blanks up to the path.
    for (int field = 0; field < 2; field++) {
        while (p < line_end && *p == ' ') p++;
        while (p < line_end && *p != ' ') p++;
    }
    while (p < line_end && *p == ' ') p++;
    r.path_at = -1;
    r.path_len = 0;
    if (p < line_end) {
        r.path_at = static_cast<int>(p - g_text);
        r.path_len = static_cast<int>(line_end - p);
    }
    return true;
}

bool range_readable(const ProcMaps& maps, std::uint64_t addr, std::uint64_t len) {
    const ProcRegion* r = proc_region_of(maps, addr);
    return r != nullptr && r->readable && addr + len <= r->end;
}

void read_build_id(const ProcMaps& maps, ProcModule& m, const Elf64_Phdr* ph, int count) {
    for (int i = 0; i < count; i++) {
        if (ph[i].p_type != PT_NOTE) continue;
        std::uint64_t at = m.bias + ph[i].p_vaddr;
        std::uint64_t end = at + ph[i].p_memsz;
        if (!range_readable(maps, at, ph[i].p_memsz)) continue;
        while (at + sizeof(Elf64_Nhdr) <= end) {
            const auto* nh = reinterpret_cast<const Elf64_Nhdr*>(at);
            std::uint64_t name_at = at + sizeof(Elf64_Nhdr);
            std::uint64_t desc_at = name_at + ((nh->n_namesz + 3) & ~3u);
            std::uint64_t next = desc_at + ((nh->n_descsz + 3) & ~3u);
            if (next > end) break;
            const char* name = reinterpret_cast<const char*>(name_at);
            if (nh->n_type == NT_GNU_BUILD_ID && nh->n_namesz == 4 && name[0] == 'G' &&
                name[1] == 'N' && name[2] == 'U' && name[3] == '\0') {
                int n = static_cast<int>(nh->n_descsz);
                if (n > PROC_BUILD_ID_MAX) n = PROC_BUILD_ID_MAX;
                const auto* desc = reinterpret_cast<const unsigned char*>(desc_at);
                for (int k = 0; k < n; k++) m.build_id[k] = desc[k];
                m.build_id_len = n;
                return;
            }
            at = next;
        }
    }
}

// A file region mapped from offset 0 that starts with an ELF header.
bool make_module(const ProcMaps& maps, const ProcRegion& r, ProcModule& m) {
    if (r.path_at < 0 || g_text[r.path_at] != '/' || r.offset != 0 || !r.readable) return false;
    if (r.end - r.start < sizeof(Elf64_Ehdr)) return false;
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(r.start);
    if (eh->e_ident[EI_MAG0] != ELFMAG0 || eh->e_ident[EI_MAG1] != ELFMAG1 ||
        eh->e_ident[EI_MAG2] != ELFMAG2 || eh->e_ident[EI_MAG3] != ELFMAG3 ||
        eh->e_ident[EI_CLASS] != ELFCLASS64)
        return false;
    m = ProcModule{};
    m.base = r.start;
    m.end = r.end;
    int n = r.path_len < PROC_PATH_MAX - 1 ? r.path_len : PROC_PATH_MAX - 1;
    for (int i = 0; i < n; i++) m.path[i] = g_text[r.path_at + i];
    m.path[n] = '\0';

    std::uint64_t ph_at = r.start + eh->e_phoff;
    std::uint64_t ph_len = static_cast<std::uint64_t>(eh->e_phnum) * sizeof(Elf64_Phdr);
    m.bias = r.start;
    if (eh->e_phentsize != sizeof(Elf64_Phdr) || !range_readable(maps, ph_at, ph_len)) return true;
    const auto* ph = reinterpret_cast<const Elf64_Phdr*>(ph_at);
    for (int i = 0; i < eh->e_phnum; i++) {
        if (ph[i].p_type == PT_LOAD) {
            m.bias = r.start - (ph[i].p_vaddr - ph[i].p_offset);
            break;
        }
    }
    read_build_id(maps, m, ph, eh->e_phnum);
    return true;
}

}  // namespace

int proc_maps_read(ProcMaps& out) {
    long len = safe_read_file("/proc/self/maps", g_text, sizeof(g_text));
    if (len < 0) return -1;
    out = ProcMaps{};
    out.text = g_text;
    out.text_len = static_cast<std::size_t>(len);

    int count = 0;
    const char* p = g_text;
    const char* end = g_text + len;
    while (p < end && count < PROC_MAPS_MAX) {
        const char* line_end = p;
        while (line_end < end && *line_end != '\n') line_end++;
        if (parse_line(p, line_end, g_regions[count])) count++;
        p = line_end + 1;
    }
    out.regions = g_regions;
    out.region_count = count;

    int mods = 0;
    for (int i = 0; i < count && mods < PROC_MODULES_MAX; i++) {
        if (!make_module(out, g_regions[i], g_modules[mods])) continue;
        ProcModule& m = g_modules[mods];
        bool known = false;
        for (int k = 0; k < mods; k++)
            known = known || same_path(g_text, g_regions[i], g_modules[k].path);
        if (known) continue;
        for (int k = i + 1; k < count; k++) {
            const ProcRegion& r = g_regions[k];
            if (r.path_at >= 0 && same_path(g_text, r, m.path) && r.end > m.end) m.end = r.end;
        }
        mods++;
    }
    out.modules = g_modules;
    out.module_count = mods;
    return 0;
}

const ProcRegion* proc_region_of(const ProcMaps& maps, std::uint64_t addr) {
    for (int i = 0; i < maps.region_count; i++) {
        if (addr >= maps.regions[i].start && addr < maps.regions[i].end) return &maps.regions[i];
    }
    return nullptr;
}

const ProcModule* proc_module_of(const ProcMaps& maps, std::uint64_t addr) {
    for (int i = 0; i < maps.module_count; i++) {
        if (addr >= maps.modules[i].base && addr < maps.modules[i].end) return &maps.modules[i];
    }
    return nullptr;
}

int proc_module_section(const ProcModule& module, std::uint64_t addr, int* section,
                        std::uint64_t* offset) {
    int fd = safe_open_read(module.path);
    if (fd < 0) return -1;
    Elf64_Ehdr eh;
    int found = -1;
    if (safe_pread(fd, &eh, sizeof(eh), 0) == static_cast<long>(sizeof(eh)) &&
        eh.e_shentsize == sizeof(Elf64_Shdr)) {
        std::uint64_t rel = addr - module.bias;
        Elf64_Shdr batch[32];
        for (int first = 0; first < eh.e_shnum && found < 0; first += 32) {
            int n = eh.e_shnum - first < 32 ? eh.e_shnum - first : 32;
            long want = static_cast<long>(n * sizeof(Elf64_Shdr));
            if (safe_pread(fd, batch, static_cast<std::size_t>(want),
                           eh.e_shoff + static_cast<std::uint64_t>(first) * sizeof(Elf64_Shdr)) !=
                want)
                break;
            for (int i = 0; i < n; i++) {
                const Elf64_Shdr& sh = batch[i];
                if (first + i == 0 || !(sh.sh_flags & SHF_ALLOC)) continue;
                if (rel >= sh.sh_addr && rel < sh.sh_addr + sh.sh_size) {
                    *section = first + i;
                    *offset = rel - sh.sh_addr;
                    found = 0;
                    break;
                }
            }
        }
    }
    safe_close(fd);
    return found;
}

bool proc_is_stack_guard(const ProcMaps& maps, std::uint64_t addr, std::uint64_t sp) {
    const ProcRegion* fault = proc_region_of(maps, addr);
    if (fault != nullptr && fault->readable) return false;
    // The stack: the readable region holding sp, or the nearest one above it
    // when sp itself has run into the guard.
    const ProcRegion* stack = nullptr;
    for (int i = 0; i < maps.region_count; i++) {
        const ProcRegion& r = maps.regions[i];
        if (!r.readable || r.end <= sp) continue;
        if (stack == nullptr || r.start < stack->start) stack = &r;
        if (r.start <= sp) break;
    }
    if (stack == nullptr || stack->start > sp + kGuardReach) return false;
    return addr < stack->start && addr + kGuardReach >= stack->start;
}

}  // namespace platform
