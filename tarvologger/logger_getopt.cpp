#include "logger_getopt.h"

#include <cstdio>
#include <cstring>

namespace {

int option_error(LOGGER_GETOPT& g, const char* prog, const char* what) {
    std::fprintf(stderr, "%s%s%c\n", prog, what, g.opt);
    return '?';
}

}  // namespace

int logger_getopt(LOGGER_GETOPT& g, int argc, char* const argv[], const char* optstring) {
    g.arg = nullptr;
    if (g.pos == 1) {
        if (g.ind >= argc || argv[g.ind][0] != '-' || argv[g.ind][1] == '\0') return -1;
        if (std::strcmp(argv[g.ind], "--") == 0) {
            g.ind++;
            return -1;
        }
    }

    const char* word = argv[g.ind];
    g.opt = static_cast<unsigned char>(word[g.pos]);
    const char* entry = g.opt == ':' ? nullptr : std::strchr(optstring, g.opt);
    bool last_letter = word[g.pos + 1] == '\0';

    if (entry == nullptr) {
        if (last_letter) {
            g.ind++;
            g.pos = 1;
        } else {
            g.pos++;
        }
        return option_error(g, argv[0], ": illegal option -- ");
    }

    if (entry[1] != ':') {
        if (last_letter) {
            g.ind++;
            g.pos = 1;
        } else {
            g.pos++;
        }
        return g.opt;
    }

    // A letter with a value ends its word either way.
    int at = g.pos;
    g.pos = 1;
    if (!last_letter) {
        g.arg = word + at + 1;
        g.ind++;
        return g.opt;
    }
    if (g.ind + 1 >= argc) {
        g.ind++;
        return option_error(g, argv[0], ": option requires an argument -- ");
    }
    g.arg = argv[g.ind + 1];
    g.ind += 2;
    return g.opt;
}
