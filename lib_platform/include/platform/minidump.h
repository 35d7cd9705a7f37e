// The minidump writer: the twin of the debug-help library's MiniDumpWriteDump
// with the normal dump type, for an x86-64 Linux process.
//
// The file is the documented minidump format (little-endian): the 32-byte
// header ("MDMP", version 0xA793), the stream directory, then the streams:
//
//   ThreadList (3)          every thread recorded: id, AMD64 CONTEXT (1232
//                           bytes; control, integer, segment and floating-
//                           point parts) and its stack memory from the stack
//                           pointer (less the 128-byte red zone) upwards, at
//                           most MINIDUMP_STACK_MAX bytes of its region
//   ModuleList (4)          every ELF file mapped from offset 0: base, size,
//                           path, and its GNU build id as the CodeView record
//                           (signature "LEpB" followed by the id's bytes)
//   MemoryList (5)          the same stack ranges
//   Exception (6)           the crashing thread with its context; as in Linux
//                           minidumps, the code is the signal number, the
//                           flags are its si_code and the address is the
//                           fault's data address (the Windows exception code
//                           belongs to the crash report)
//   SystemInfo (7)          AMD64, processor family/model/stepping and CPUID
//                           vendor, platform Linux (0x8201), the kernel's
//                           version and its build text as CSD version
//   MiscInfo (15)           the process id
//   LinuxCpuInfo, LinuxProcStatus, LinuxCmdLine, LinuxAuxv, LinuxMaps
//   (0x47670003/4/6/8/9)    /proc/cpuinfo, /proc/self/status, cmdline,
//                           auxv and maps as they were at the crash
//
// The environment is left out: the dump leaves the machine.
//
// Async-signal-safe: the writer builds every record in static buffers and
// writes memory straight from where it lies. A range that cannot be read
// becomes zeros, so the layout always matches the directory.
#pragma once

#include <cstdint>

#include "platform/proc_maps.h"
#include "platform/thread_park.h"

namespace platform {

constexpr std::uint64_t MINIDUMP_STACK_MAX = 256 * 1024;

// Stream types written.
enum MinidumpStream : std::uint32_t {
    MD_THREAD_LIST = 3,
    MD_MODULE_LIST = 4,
    MD_MEMORY_LIST = 5,
    MD_EXCEPTION = 6,
    MD_SYSTEM_INFO = 7,
    MD_MISC_INFO = 15,
    MD_LINUX_CPU_INFO = 0x47670003,
    MD_LINUX_PROC_STATUS = 0x47670004,
    MD_LINUX_CMD_LINE = 0x47670006,
    MD_LINUX_AUXV = 0x47670008,
    MD_LINUX_MAPS = 0x47670009,
};

struct MinidumpCrash {
    int signo = 0;
    int si_code = 0;
    std::uint64_t fault_address = 0;          // si_addr
    ThreadRegisters crashing;                 // the crashing thread, from its signal context
    const ThreadRegisters* others = nullptr;  // the parked threads
    int other_count = 0;
};

// Writes the dump of this process to `fd` (an empty file open for writing),
// with the module and region table `maps`. 0, or -1 when a write failed (the
// file is then incomplete).
int minidump_write(int fd, const MinidumpCrash& crash, const ProcMaps& maps);

}  // namespace platform
