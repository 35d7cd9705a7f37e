#include "crash_codes.h"

#include <signal.h>
#include <string.h>

namespace {

struct Named {
    std::uint32_t code;
    const char* name;
};

constexpr Named kNames[] = {
    {CRASH_GUARD_PAGE, "GUARD_PAGE"},
    {CRASH_DATATYPE_MISALIGNMENT, "DATATYPE_MISALIGNMENT"},
    {CRASH_BREAKPOINT, "BREAKPOINT"},
    {CRASH_SINGLE_STEP, "SINGLE_STEP"},
    {CRASH_ACCESS_VIOLATION, "ACCESS_VIOLATION"},
    {CRASH_IN_PAGE_ERROR, "IN_PAGE_ERROR"},
    {CRASH_INVALID_HANDLE, "INVALID_HANDLE"},
    {CRASH_ILLEGAL_INSTRUCTION, "ILLEGAL_INSTRUCTION"},
    {CRASH_NONCONTINUABLE_EXCEPTION, "NONCONTINUABLE_EXCEPTION"},
    {CRASH_INVALID_DISPOSITION, "INVALID_DISPOSITION"},
    {CRASH_ARRAY_BOUNDS_EXCEEDED, "ARRAY_BOUNDS_EXCEEDED"},
    {CRASH_FLT_DENORMAL_OPERAND, "FLT_DENORMAL_OPERAND"},
    {CRASH_FLT_DIVIDE_BY_ZERO, "FLT_DIVIDE_BY_ZERO"},
    {CRASH_FLT_INEXACT_RESULT, "FLT_INEXACT_RESULT"},
    {CRASH_FLT_INVALID_OPERATION, "FLT_INVALID_OPERATION"},
    {CRASH_FLT_OVERFLOW, "FLT_OVERFLOW"},
    {CRASH_FLT_STACK_CHECK, "FLT_STACK_CHECK"},
    {CRASH_FLT_UNDERFLOW, "FLT_UNDERFLOW"},
    {CRASH_INT_DIVIDE_BY_ZERO, "INT_DIVIDE_BY_ZERO"},
    {CRASH_INT_OVERFLOW, "INT_OVERFLOW"},
    {CRASH_PRIV_INSTRUCTION, "PRIV_INSTRUCTION"},
    {CRASH_STACK_OVERFLOW, "STACK_OVERFLOW"},
};

std::uint32_t fpe_code(int si_code) {
    switch (si_code) {
        case FPE_INTDIV:
            return CRASH_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF:
            return CRASH_INT_OVERFLOW;
        case FPE_FLTDIV:
            return CRASH_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF:
            return CRASH_FLT_OVERFLOW;
        case FPE_FLTUND:
            return CRASH_FLT_UNDERFLOW;
        case FPE_FLTRES:
            return CRASH_FLT_INEXACT_RESULT;
        case FPE_FLTINV:
            return CRASH_FLT_INVALID_OPERATION;
        case FPE_FLTSUB:
            return CRASH_ARRAY_BOUNDS_EXCEEDED;
        default:
            return SIGFPE;
    }
}

}  // namespace

std::uint32_t crash_exception_code(const CrashFault& f) {
    switch (f.signo) {
        case SIGSEGV:
            return f.stack_guard ? CRASH_STACK_OVERFLOW : CRASH_ACCESS_VIOLATION;
        case SIGBUS:
            if (f.si_code == BUS_ADRALN) return CRASH_DATATYPE_MISALIGNMENT;
            if (f.si_code == BUS_ADRERR && f.file_mapping) return CRASH_IN_PAGE_ERROR;
            return CRASH_ACCESS_VIOLATION;
        case SIGFPE:
            return fpe_code(f.si_code);
        case SIGILL:
            return f.si_code == ILL_PRVOPC || f.si_code == ILL_PRVREG ? CRASH_PRIV_INSTRUCTION
                                                                      : CRASH_ILLEGAL_INSTRUCTION;
        case SIGTRAP:
            return f.si_code == TRAP_TRACE ? CRASH_SINGLE_STEP : CRASH_BREAKPOINT;
        default:
            return static_cast<std::uint32_t>(f.signo);
    }
}

const char* crash_exception_name(std::uint32_t code, int signo) {
    for (const Named& n : kNames) {
        if (n.code == code) return n.name;
    }
    // sigdescr_np reads a constant table: no locale, no buffer, unlike
    // strsignal.
    const char* text = ::sigdescr_np(signo);
    return text != nullptr ? text : "Unknown exception";
}
