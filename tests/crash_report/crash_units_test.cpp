// The pieces of the crash report that need no crash: the version line, the
// exception codes and names, the file names and the uploader's command line.
#include <gtest/gtest.h>

#include <csignal>

#include "crash_codes.h"
#include "crash_report.h"
#include "crash_version.h"

namespace {

CrashVersion version(unsigned a, unsigned b, unsigned c, unsigned d) {
    CrashVersion v;
    v.present = true;
    v.product = "Tarvo";
    v.ms = a << 16 | b;
    v.ls = c << 16 | d;
    return v;
}

TEST(CrashVersionText, FollowsTheVersionTable) {
    struct Case {
        CrashVersion v;
        const char* text;
    };
    const Case cases[] = {
        {CrashVersion{}, "Version"},
        {version(0, 9, 3, 7), "Tarvo Beta 9.3 beta 7"},
        {version(0, 9, 3, 0), "Tarvo Beta 9.3"},
        {version(2, 1, 0, 5), "Tarvo version 2.1 beta 5"},
        {version(2, 1, 4, 305), "Tarvo version 2.1.4 beta 5"},
        {version(2, 1, 0, 200), "Tarvo version 2.1b"},
        {version(2, 1, 4, 100), "Tarvo version 2.1.4a"},
        {version(2, 1, 4, 0), "Tarvo version 2.1.4"},
        {version(2, 1, 0, 0), "Tarvo version 2.1"},
        {version(2, 1, 0, 2700), "Tarvo version 2.1?"},  // no 27th letter
    };
    for (const Case& c : cases) EXPECT_EQ(crash_version_text(c.v), c.text);
    EXPECT_EQ(crash_version_dotted(version(2, 1, 4, 305)), "2.1.4.305");
    EXPECT_EQ(crash_version_dotted(CrashVersion{}), "0.0.0.0");
}

TEST(CrashVersionText, ThisBuildHasTheProjectVersion) {
    CrashVersion v = crash_build_version();
    EXPECT_EQ(crash_version_text(v), "Tarvo version 1.0");
    EXPECT_EQ(crash_version_dotted(v), "1.0.0.0");
}

TEST(CrashCodes, SignalsMapToTheirWindowsCodes) {
    struct Case {
        CrashFault f;
        std::uint32_t code;
        const char* name;
    };
    const Case cases[] = {
        {{SIGSEGV, SEGV_MAPERR, false, false}, 0xC0000005, "ACCESS_VIOLATION"},
        {{SIGSEGV, SEGV_MAPERR, true, false}, 0xC00000FD, "STACK_OVERFLOW"},
        {{SIGBUS, BUS_ADRERR, false, true}, 0xC0000006, "IN_PAGE_ERROR"},
        {{SIGBUS, BUS_ADRERR, false, false}, 0xC0000005, "ACCESS_VIOLATION"},
        {{SIGBUS, BUS_ADRALN, false, false}, 0x80000002, "DATATYPE_MISALIGNMENT"},
        {{SIGFPE, FPE_INTDIV, false, false}, 0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {{SIGFPE, FPE_INTOVF, false, false}, 0xC0000095, "INT_OVERFLOW"},
        {{SIGFPE, FPE_FLTDIV, false, false}, 0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {{SIGFPE, FPE_FLTOVF, false, false}, 0xC0000091, "FLT_OVERFLOW"},
        {{SIGFPE, FPE_FLTUND, false, false}, 0xC0000093, "FLT_UNDERFLOW"},
        {{SIGFPE, FPE_FLTRES, false, false}, 0xC000008F, "FLT_INEXACT_RESULT"},
        {{SIGFPE, FPE_FLTINV, false, false}, 0xC0000090, "FLT_INVALID_OPERATION"},
        {{SIGFPE, FPE_FLTSUB, false, false}, 0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {{SIGILL, ILL_ILLOPC, false, false}, 0xC000001D, "ILLEGAL_INSTRUCTION"},
        {{SIGILL, ILL_PRVOPC, false, false}, 0xC0000096, "PRIV_INSTRUCTION"},
        {{SIGTRAP, TRAP_BRKPT, false, false}, 0x80000003, "BREAKPOINT"},
        {{SIGTRAP, 0x80, false, false}, 0x80000003, "BREAKPOINT"},  // int3: SI_KERNEL
        {{SIGTRAP, TRAP_TRACE, false, false}, 0x80000004, "SINGLE_STEP"},
        {{SIGABRT, SI_TKILL, false, false}, SIGABRT, "Aborted"},
        {{SIGFPE, 0, false, false}, SIGFPE, "Floating point exception"},
    };
    for (const Case& c : cases) {
        std::uint32_t code = crash_exception_code(c.f);
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_STREQ(crash_exception_name(code, c.f.signo), c.name);
    }
    // Every name of the Windows table is known by its code.
    EXPECT_STREQ(crash_exception_name(CRASH_GUARD_PAGE, 0), "GUARD_PAGE");
    EXPECT_STREQ(crash_exception_name(CRASH_INVALID_HANDLE, 0), "INVALID_HANDLE");
    EXPECT_STREQ(crash_exception_name(CRASH_FLT_STACK_CHECK, 0), "FLT_STACK_CHECK");
    EXPECT_STREQ(crash_exception_name(CRASH_FLT_DENORMAL_OPERAND, 0), "FLT_DENORMAL_OPERAND");
    EXPECT_STREQ(crash_exception_name(CRASH_NONCONTINUABLE_EXCEPTION, 0),
                 "NONCONTINUABLE_EXCEPTION");
    EXPECT_STREQ(crash_exception_name(CRASH_INVALID_DISPOSITION, 0), "INVALID_DISPOSITION");
}

TEST(CrashFiles, SitNextToTheProgram) {
    EXPECT_EQ(crash_sibling_path("/opt/tarvo/tarvoproxy", ".rpt"), "/opt/tarvo/tarvoproxy.rpt");
    EXPECT_EQ(crash_sibling_path("/opt/tarvo/tarvoproxy.exe", ".dmp"), "/opt/tarvo/tarvoproxy.dmp");
    // A dot in a folder name is not the file's extension.
    EXPECT_EQ(crash_sibling_path("/opt/tarvo.1/tarvoproxy", ".dmp"), "/opt/tarvo.1/tarvoproxy.dmp");
}

TEST(CrashUploader, CommandLineCarriesDumpVersionAndArguments) {
    EXPECT_EQ(crash_uploader_command_line("/opt/t/tarvoproxy.dmp", "1.0.0.0",
                                          "-u 0 -s logs.example:8887"),
              "-f \"/opt/t/tarvoproxy.dmp\" -v \"1.0.0.0\" -u 0 -s logs.example:8887");
}

}  // namespace
