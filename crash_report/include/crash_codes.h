// Exception codes: a crash signal carries the meaning of a Windows exception
// code, and the report names it the Windows way.
//
//   signal   condition                                   code        name
//   SIGSEGV  fault in the guard area below the stack     0xC00000FD  STACK_OVERFLOW
//   SIGSEGV  any other                                   0xC0000005  ACCESS_VIOLATION
//   SIGBUS   BUS_ADRALN (misaligned access)              0x80000002  DATATYPE_MISALIGNMENT
//   SIGBUS   BUS_ADRERR on a file mapping (past its end) 0xC0000006  IN_PAGE_ERROR
//   SIGBUS   any other                                   0xC0000005  ACCESS_VIOLATION
//   SIGFPE   FPE_INTDIV                                  0xC0000094  INT_DIVIDE_BY_ZERO
//   SIGFPE   FPE_INTOVF                                  0xC0000095  INT_OVERFLOW
//   SIGFPE   FPE_FLTDIV                                  0xC000008E  FLT_DIVIDE_BY_ZERO
//   SIGFPE   FPE_FLTOVF                                  0xC0000091  FLT_OVERFLOW
//   SIGFPE   FPE_FLTUND                                  0xC0000093  FLT_UNDERFLOW
//   SIGFPE   FPE_FLTRES                                  0xC000008F  FLT_INEXACT_RESULT
//   SIGFPE   FPE_FLTINV                                  0xC0000090  FLT_INVALID_OPERATION
//   SIGFPE   FPE_FLTSUB (subscript out of range)         0xC000008C  ARRAY_BOUNDS_EXCEEDED
//   SIGILL   ILL_PRVOPC, ILL_PRVREG                      0xC0000096  PRIV_INSTRUCTION
//   SIGILL   any other                                   0xC000001D  ILLEGAL_INSTRUCTION
//   SIGTRAP  TRAP_TRACE                                  0x80000004  SINGLE_STEP
//   SIGTRAP  any other (int3, TRAP_BRKPT)                0x80000003  BREAKPOINT
//
// A signal without such a code (SIGABRT, an unknown SIGFPE code) gets the
// signal number as its code, and the system's text for the signal as its
// name ("Aborted"), as the report does for every code it cannot name.
#pragma once

#include <cstdint>

constexpr std::uint32_t CRASH_GUARD_PAGE = 0x80000001;
constexpr std::uint32_t CRASH_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr std::uint32_t CRASH_BREAKPOINT = 0x80000003;
constexpr std::uint32_t CRASH_SINGLE_STEP = 0x80000004;
constexpr std::uint32_t CRASH_ACCESS_VIOLATION = 0xC0000005;
constexpr std::uint32_t CRASH_IN_PAGE_ERROR = 0xC0000006;
constexpr std::uint32_t CRASH_INVALID_HANDLE = 0xC0000008;
constexpr std::uint32_t CRASH_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr std::uint32_t CRASH_NONCONTINUABLE_EXCEPTION = 0xC0000025;
constexpr std::uint32_t CRASH_INVALID_DISPOSITION = 0xC0000026;
constexpr std::uint32_t CRASH_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr std::uint32_t CRASH_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr std::uint32_t CRASH_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr std::uint32_t CRASH_FLT_INEXACT_RESULT = 0xC000008F;
constexpr std::uint32_t CRASH_FLT_INVALID_OPERATION = 0xC0000090;
constexpr std::uint32_t CRASH_FLT_OVERFLOW = 0xC0000091;
constexpr std::uint32_t CRASH_FLT_STACK_CHECK = 0xC0000092;
constexpr std::uint32_t CRASH_FLT_UNDERFLOW = 0xC0000093;
constexpr std::uint32_t CRASH_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr std::uint32_t CRASH_INT_OVERFLOW = 0xC0000095;
constexpr std::uint32_t CRASH_PRIV_INSTRUCTION = 0xC0000096;
constexpr std::uint32_t CRASH_STACK_OVERFLOW = 0xC00000FD;

// What the signal handler learnt about the fault.
struct CrashFault {
    int signo = 0;
    int si_code = 0;
    bool stack_guard = false;   // SIGSEGV in the guard area below the stack
    bool file_mapping = false;  // SIGBUS address inside a mapped file
};

// The code for a fault, by the table above. Async-signal-safe.
std::uint32_t crash_exception_code(const CrashFault& fault);

// The name for `code`: the constant's name without "EXCEPTION_", or, for a
// code the table does not name, the system's text for signal `signo` (or
// "Unknown exception" when there is none). Async-signal-safe.
const char* crash_exception_name(std::uint32_t code, int signo);
