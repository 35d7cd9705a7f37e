// The exception report's text, written piece by piece into the report file
// so that a fault in a later step still leaves the earlier sections.
// Async-signal-safe; every piece is formatted in the caller's scratch buffer.
#pragma once

#include <cstdint>

#include "platform/debug_help.h"
#include "platform/proc_maps.h"
#include "platform/sigsafe.h"
#include "platform/system_details.h"

struct CrashReportHead {
    const char* product_line = "";  // "Tarvo version 1.0"
    const platform::SystemDetails* system = nullptr;
    std::uint32_t code = 0;
    const char* code_name = "";
    std::uint64_t fault_pc = 0;  // the faulting instruction
    const platform::ProcMaps* maps = nullptr;
};

// Sections 1 to 7: title, system details, exception code and fault address.
void crash_report_write_head(int fd, platform::SafeText& text, const CrashReportHead& head);

// Section 8: the call stack. `symbols` may be null (no helper answer).
void crash_report_write_stack(int fd, platform::SafeText& text, const platform::ProcMaps& maps,
                              const platform::StackFrame* frames, int count,
                              const platform::FrameSymbol* symbols);
