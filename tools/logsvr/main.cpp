// tarvo_logsvr: stand-in logging server.
//
//     tarvo_logsvr [-p port] [-d store_dir] [-n count]
//
// Listens on 127.0.0.1:port (default 8887; 0 picks a free port), prints
// "listening port=<port>", then one line per connection (see logsvr.h). Stores
// uploads under store_dir (default "logsvr_store" in the current folder) and
// appends every statistics line, as received, to stat_lines.log there. Ends
// after `count` connections when -n is given, otherwise runs until killed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "logsvr.h"

int main(int argc, char** argv) {
    int port = 8887;
    int count = 0;
    std::string dir = "logsvr_store";
    for (int i = 1; i < argc; i++) {
        bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "-p") == 0 && has_value)
            port = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "-d") == 0 && has_value)
            dir = argv[++i];
        else if (std::strcmp(argv[i], "-n") == 0 && has_value)
            count = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [-p port] [-d store_dir] [-n count]\n", argv[0]);
            return 2;
        }
    }

    LOGSVR svr;
    if (logsvr_open(svr, port, dir) != 0) {
        std::perror("tarvo_logsvr: listen");
        return 1;
    }
    svr.stat_file = svr.store_dir + LOGSVR_STAT_FILE;
    std::printf("listening port=%d\n", svr.listener.port());
    std::fflush(stdout);
    logsvr_run(
        svr, count, [] { return false; },
        [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        });
    return 0;
}
