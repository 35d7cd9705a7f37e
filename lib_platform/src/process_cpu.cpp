#include "platform/process_cpu.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace platform {

long process_cpu_ms(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return -1;
    // The command name may hold spaces and parentheses: fields count from
    // the last ')'. utime and stime are fields 14 and 15.
    auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; i++) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0) return -1;
    return static_cast<long>((utime + stime) * 1000 / static_cast<unsigned long long>(hz));
}

}  // namespace platform
