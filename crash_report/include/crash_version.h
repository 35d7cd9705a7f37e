// The program's product name and file version, as the first line of a crash
// report and the "-v" argument of the uploader show them.
//
// The version is the build's (the CMake project version major.minor.patch.
// tweak); its two 32-bit halves are laid out as in a Windows version
// resource: MS = major << 16 | minor, LS = patch << 16 | tweak.
#pragma once

#include <cstdint>
#include <string>

struct CrashVersion {
    bool present = false;  // false: the build has no version
    std::string product;   // product name
    std::uint32_t ms = 0;  // most significant half
    std::uint32_t ls = 0;  // least significant half
};

// This build's product name and version.
CrashVersion crash_build_version();

// "<product> version 1.2.3" and the other forms of the version table:
//   no version                     "Version"
//   MS high 0, R != 0              "%s Beta %d.%d beta %d"   (MS low, LS high, R)
//   MS high 0, R == 0              "%s Beta %d.%d"           (MS low, LS high)
//   R % 100 != 0, LS high 0        "%s version %d.%d beta %d" (MS high, MS low, R % 100)
//   R % 100 != 0                   "%s version %d.%d.%d beta %d"
//   R / 100 != 0, LS high 0        "%s version %d.%d%c"      (letter R / 100, 'a' = 1)
//   R / 100 != 0                   "%s version %d.%d.%d%c"
//   LS high != 0                   "%s version %d.%d.%d"
//   otherwise                      "%s version %d.%d"
// with R the low word of LS. A letter beyond 'z' is shown as '?'.
std::string crash_version_text(const CrashVersion& v);

// "a.b.c.d" from the four words (all 0 without a version).
std::string crash_version_dotted(const CrashVersion& v);
