#include "crash_version.h"

#include <cstdio>

CrashVersion crash_build_version() {
    CrashVersion v;
#if defined(TARVO_VERSION_MAJOR)
    v.present = true;
    v.product = TARVO_PRODUCT_NAME;
    v.ms = (static_cast<std::uint32_t>(TARVO_VERSION_MAJOR) << 16) | TARVO_VERSION_MINOR;
    v.ls = (static_cast<std::uint32_t>(TARVO_VERSION_PATCH) << 16) | TARVO_VERSION_TWEAK;
#endif
    return v;
}

std::string crash_version_text(const CrashVersion& v) {
    if (!v.present) return "Version";
    unsigned ms_hi = v.ms >> 16, ms_lo = v.ms & 0xffff;
    unsigned ls_hi = v.ls >> 16, r = v.ls & 0xffff;
    const char* name = v.product.c_str();
    char buf[512];
    if (ms_hi == 0 && r != 0)
        std::snprintf(buf, sizeof(buf), "%s Beta %u.%u beta %u", name, ms_lo, ls_hi, r);
    else if (ms_hi == 0)
        std::snprintf(buf, sizeof(buf), "%s Beta %u.%u", name, ms_lo, ls_hi);
    else if (r % 100 != 0 && ls_hi == 0)
        std::snprintf(buf, sizeof(buf), "%s version %u.%u beta %u", name, ms_hi, ms_lo, r % 100);
    else if (r % 100 != 0)
        std::snprintf(buf, sizeof(buf), "%s version %u.%u.%u beta %u", name, ms_hi, ms_lo, ls_hi,
                      r % 100);
    else if (r / 100 != 0) {
        unsigned n = r / 100;
        char letter = n <= 26 ? static_cast<char>('a' + n - 1) : '?';
        if (ls_hi == 0)
            std::snprintf(buf, sizeof(buf), "%s version %u.%u%c", name, ms_hi, ms_lo, letter);
        else
            std::snprintf(buf, sizeof(buf), "%s version %u.%u.%u%c", name, ms_hi, ms_lo, ls_hi,
                          letter);
    } else if (ls_hi != 0)
        std::snprintf(buf, sizeof(buf), "%s version %u.%u.%u", name, ms_hi, ms_lo, ls_hi);
    else
        std::snprintf(buf, sizeof(buf), "%s version %u.%u", name, ms_hi, ms_lo);
    return buf;
}

std::string crash_version_dotted(const CrashVersion& v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%u.%u.%u.%u", v.ms >> 16, v.ms & 0xffff, v.ls >> 16,
                  v.ls & 0xffff);
    return buf;
}
