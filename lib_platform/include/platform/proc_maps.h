// The process's memory map and its loaded modules, read in the signal path.
//
// The twin of walking the loaded modules of a Windows process: the regions
// come from /proc/self/maps, a module is a file mapped from its offset 0 with
// an ELF header there, and its image reaches to the end of the last region of
// the same file. Everything is async-signal-safe and works in a fixed table
// filled by proc_maps_read(); the table is static, so at most one caller (the
// crash handler) may use it at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

constexpr int PROC_MAPS_MAX = 4096;    // regions kept; more are dropped
constexpr int PROC_MODULES_MAX = 512;  // modules kept
constexpr int PROC_PATH_MAX = 260;     // bytes of a module path kept, NUL included
constexpr int PROC_BUILD_ID_MAX = 64;  // bytes of an ELF build id kept

struct ProcRegion {
    std::uint64_t start = 0, end = 0;
    bool readable = false, writable = false, executable = false;
    std::uint64_t offset = 0;  // file offset of the region's start
    int path_at = -1;          // offset of the path in the raw text, -1 when anonymous
    int path_len = 0;
};

struct ProcModule {
    std::uint64_t base = 0;  // where the file's offset 0 is mapped
    std::uint64_t end = 0;   // end of its last region
    std::uint64_t bias = 0;  // load bias: base minus the first segment's address
    char path[PROC_PATH_MAX] = {};
    unsigned char build_id[PROC_BUILD_ID_MAX] = {};
    int build_id_len = 0;
};

struct ProcMaps {
    const char* text = nullptr;  // the raw /proc/self/maps text
    std::size_t text_len = 0;
    const ProcRegion* regions = nullptr;
    int region_count = 0;
    const ProcModule* modules = nullptr;
    int module_count = 0;
};

// Reads /proc/self/maps into the static table and finds the modules. 0, or
// -1 when the file cannot be read.
int proc_maps_read(ProcMaps& out);

// The region holding `addr`, or null.
const ProcRegion* proc_region_of(const ProcMaps& maps, std::uint64_t addr);

// The module whose image holds `addr`, or null.
const ProcModule* proc_module_of(const ProcMaps& maps, std::uint64_t addr);

// Section of `addr` within `module`, from the section headers of the module's
// file: number (from 1, the ELF section index) and offset within it. 0, or -1
// when the file or no allocated section holds it.
int proc_module_section(const ProcModule& module, std::uint64_t addr, int* section,
                        std::uint64_t* offset);

// Whether a fault at `addr` lies in the guard area below the stack that holds
// `sp`: unmapped or inaccessible, and no more than 1 MiB below that stack.
bool proc_is_stack_guard(const ProcMaps& maps, std::uint64_t addr, std::uint64_t sp);

}  // namespace platform
