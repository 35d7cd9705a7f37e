// The debug-help library's twin for the crash handler: a stack walk from a
// signal context, and symbol names with source file and line for the
// addresses found.
//
// Stack walk: libunwind's local unwinder, loaded (dlopen, kept private to
// this module so that it never takes over the C++ exception unwinder) and
// set to cache nothing at prepare time; walking is then async-signal-safe.
//
// Symbols: reading debug information allocates, which a signal handler may
// not do. So prepare forks a small helper process while the program is still
// single-threaded; it waits on a socket, and for a list of addresses it reads
// the crashed process's modules with libdw (symbol, displacement, file and
// line) and answers. It ends when the program ends. In the crash handler only
// send, poll and receive are used, with a deadline.
//
// Lifecycle: debug_help_prepare() once, early at start-up; the other calls
// afterwards, from the crash handler.
#pragma once

#include <cstdint>

namespace platform {

constexpr int DEBUG_FRAMES_MAX = 64;  // frames walked at most
constexpr int DEBUG_NAME_MAX = 256;   // bytes of a symbol name kept, NUL included
constexpr int DEBUG_FILE_MAX = 256;   // bytes of a source path kept, NUL included

struct StackFrame {
    std::uint64_t pc = 0;  // program counter
    std::uint64_t sp = 0;  // the frame's stack pointer
};

struct FrameSymbol {
    bool has_name = false;
    char name[DEBUG_NAME_MAX] = {};  // demangled
    std::uint64_t displacement = 0;  // pc minus the symbol's address
    bool has_line = false;
    char file[DEBUG_FILE_MAX] = {};
    int line = 0;
};

// Loads the unwinder and starts the symbol helper. 0, or -1 when neither is
// available (each part that works is kept).
int debug_help_prepare();

// Walks the stack of the signal context `context` (a ucontext_t): the
// interrupted frame first. The count of frames; the walk ends at a failed
// step, a zero pc or `max` frames. 0 when the unwinder is not loaded.
int debug_stack_walk(const void* context, StackFrame* frames, int max);

// Symbols for `count` frames (the first is the interrupted instruction, the
// others return addresses). 0 when the helper answered within `timeout_ms`,
// else -1 and `out` stays empty.
int debug_symbolize(const StackFrame* frames, int count, FrameSymbol* out, int timeout_ms);

}  // namespace platform
