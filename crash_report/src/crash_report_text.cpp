#include "crash_report_text.h"

using platform::SafeText;

namespace {

void flush(int fd, SafeText& text) {
    platform::safe_write_all(fd, text.c_str(), text.size());
    text.clear();
}

bool is_x86(const char* machine) {
    return platform::safe_starts_with(machine, "x86") ||
           (machine[0] == 'i' && machine[2] == '8' && machine[3] == '6');
}

void put_os(SafeText& t, const platform::SystemDetails& s) {
    if (!s.os_known) {
        t.put("Could not get OS version\r\n");
        return;
    }
    t.put(s.sysname).put(" ").put_dec(static_cast<unsigned>(s.os_major)).put(".");
    t.put_dec(static_cast<unsigned>(s.os_minor)).put(" build ");
    t.put_dec(static_cast<unsigned>(s.os_build));
    t.put(" (").put(s.release).put(" ").put(s.version).put(")\r\n");
}

// Vendor, speed, type, count, architecture, level, stepping.
void put_processor(SafeText& t, const platform::SystemDetails& s) {
    t.put("Vendor: ").put(s.vendor[0] != '\0' ? s.vendor : "Unknown");
    if (s.mhz >= 0)
        t.put(", Speed: ").put_dec(static_cast<unsigned>(s.mhz)).put("MHz, ");
    else
        t.put(", Speed: Unknown, ");
    t.put(is_x86(s.machine) ? "Type: Intel Pentium compatible, " : "Type: Unknown, ");
    t.put("Number Of Processors: ").put_dec(static_cast<unsigned>(s.cpu_count)).put(", ");
    t.put("Architecture: ").put(s.machine[0] != '\0' ? s.machine : "Unknown").put(", ");
    t.put("Level: Unknown ").put_dec(static_cast<unsigned>(s.cpu_family < 0 ? 0 : s.cpu_family));
    t.put(", Stepping: ").put_dec(static_cast<unsigned>(s.cpu_model < 0 ? 0 : s.cpu_model));
    t.put("-").put_dec(static_cast<unsigned>(s.cpu_stepping < 0 ? 0 : s.cpu_stepping));
}

void put_memory(SafeText& t, const platform::SystemDetails& s) {
    t.put("Memory Used ").put_dec(s.memory_load).put("%, Total Physical Memory ");
    t.put_dec(s.phys_total_kb).put("KB, Physical Memory Available ").put_dec(s.phys_avail_kb);
    t.put("KB, Total Virtual Memory ").put_dec(s.virt_total_kb);
    t.put("KB, Available Virtual Memory ").put_dec(s.virt_avail_kb);
    t.put("KB, Working Set Min: ").put_dec(s.working_set_kb);
    t.put("KB Max: ").put_dec(s.working_set_peak_kb).put("KB .\r\n");
}

// Section number (2 or 4 digits), ':', offset, ' ', module path. A module the
// map does not know shows section 0 and the address itself.
void put_location(SafeText& t, const platform::ProcMaps& maps, std::uint64_t addr,
                  int section_digits) {
    const platform::ProcModule* m = platform::proc_module_of(maps, addr);
    int section = 0;
    std::uint64_t offset = addr;
    if (m != nullptr && platform::proc_module_section(*m, addr, &section, &offset) != 0) {
        section = 0;
        offset = addr - m->bias;
    }
    t.put_hex(static_cast<unsigned>(section), section_digits).put(":").put_hex(offset, 8);
    t.put(" ").put(m != nullptr ? m->path : "");
}

}  // namespace

void crash_report_write_head(int fd, SafeText& t, const CrashReportHead& h) {
    t.put("Exception report created by ").put(h.product_line);
    t.put("\r\n===================================================\r\n\r\n");
    t.put("System details:\r\n").put("---------------\r\n\r\nOperating System:      ");
    put_os(t, *h.system);
    flush(fd, t);
    t.put("Processor Information: ");
    put_processor(t, *h.system);
    t.put("\r\nMemory Information:    ");
    put_memory(t, *h.system);
    flush(fd, t);
    t.put("\r\nException Details:\r\n------------------\r\n\r\nException code: ");
    t.put_hex(h.code, 8).put(" ").put(h.code_name);
    t.put("\r\nFault address:  ").put_hex(h.fault_pc, 8).put(" ");
    put_location(t, *h.maps, h.fault_pc, 2);
    t.put("\r\n");
    flush(fd, t);
}

void crash_report_write_stack(int fd, SafeText& t, const platform::ProcMaps& maps,
                              const platform::StackFrame* frames, int count,
                              const platform::FrameSymbol* symbols) {
    t.put("\r\nCall stack:\r\n-----------\r\n\r\n");
    t.put("Address   Frame     Function\t\t\tSourceFile\r\n");
    flush(fd, t);
    for (int i = 0; i < count && frames[i].pc != 0; i++) {
        t.put_hex(frames[i].pc, 8).put("  ").put_hex(frames[i].sp, 8).put("  ");
        const platform::FrameSymbol* s = symbols != nullptr ? &symbols[i] : nullptr;
        if (s != nullptr && s->has_name)
            t.put(s->name).put("+").put_hex(s->displacement, 1);
        else
            put_location(t, maps, frames[i].pc, 4);
        if (s != nullptr && s->has_line)
            t.put("  ").put(s->file).put(" line ").put_dec(static_cast<unsigned>(s->line));
        t.put("\r\n");
        flush(fd, t);
    }
}
