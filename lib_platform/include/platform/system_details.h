// The machine and memory figures a crash report carries, read in the signal
// path from uname, /proc and /sys (the twins of the Windows version,
// processor and memory-status queries). Async-signal-safe.
#pragma once

#include <cstdint>

namespace platform {

struct SystemDetails {
    bool os_known = false;
    char sysname[65] = {};                         // "Linux"
    char release[65] = {};                         // "6.1.0-18-amd64"
    char version[65] = {};                         // the kernel's build text
    char machine[65] = {};                         // "x86_64"
    int os_major = 0, os_minor = 0, os_build = 0;  // from the release

    char vendor[64] = {};  // "GenuineIntel"; "" when /proc/cpuinfo has none
    int mhz = -1;          // the first processor's speed, -1 when unknown
    int cpu_count = 0;     // processors on line
    int cpu_family = -1, cpu_model = -1, cpu_stepping = -1;  // -1 when unknown

    // Memory in KiB; a field the system does not report stays 0.
    unsigned memory_load = 0;  // percent of physical memory in use
    std::uint64_t phys_total_kb = 0, phys_avail_kb = 0;
    std::uint64_t virt_total_kb = 0, virt_avail_kb = 0;  // the process's address space
    std::uint64_t working_set_kb = 0, working_set_peak_kb = 0;
};

// Fills `out` as far as the system reports it.
void system_details_read(SystemDetails& out);

}  // namespace platform
