// tarvologger: sends one file (a crash dump of tarvoproxy) to the logging
// server and exits.
//
//     tarvologger -h[help] -f filepath -v version -u uid -s server_addr
//
// Every outcome ends with status 0: the crash reporter that starts this
// program neither waits for it nor reads its result. Failures are in the log,
// "<program folder>/tarvologger.log". The dump is never removed, so a later
// run can send it again.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acl_msg.h"
#include "logger_dump.h"
#include "logger_getopt.h"
#include "platform/net_errors.h"
#include "platform/self.h"

namespace {

// The deployment's logging server unless -s names another.
constexpr const char* kDefaultServer = "127.0.0.1:8887";

constexpr std::size_t kPathMax = 259;     // bytes of -f kept
constexpr std::size_t kVersionMax = 255;  // bytes of -v kept
constexpr std::size_t kAddrMax = 255;     // bytes of -s kept

// Test seam: the connect time-out in seconds (1 to LOGGER_DUMP_TIMEOUT).
// Tests of a server that never accepts set it so as not to wait the full
// time-out; nothing else sets it.
constexpr const char* kConnectTimeoutEnv = "TARVO_LOGGER_CONNECT_TIMEOUT";

void usage(const char* prog) {
    std::printf("usage: %s -h[help] -f filepath -v version -u uid -s server_addr\r\n", prog);
    std::fflush(stdout);
    if (acl_msg_opened())
        acl_msg_info("usage: %s -h[help] -f filepath -v version -u uid -s server_addr", prog);
}

std::string cut(const char* text, std::size_t max) {
    std::string s(text);
    if (s.size() > max) s.resize(max);
    return s;
}

// The usual text-to-integer rule: leading blanks, a sign, digits; anything
// else ends the number, no digits give 0. The id travels as unsigned 32-bit.
unsigned int parse_uid(const char* text) {
    return static_cast<unsigned int>(std::strtoll(text, nullptr, 10));
}

// "<folder of the program>/<base name>.log".
std::string log_path() {
    std::string folder = platform::program_folder();
    if (!folder.empty()) folder.pop_back();  // the format below puts the '/' back
    char path[4096];
    std::snprintf(path, sizeof(path), "%s/%s.log", folder.c_str(),
                  platform::program_base_name().c_str());
    return path;
}

void send_dump(const std::string& server, const std::string& filepath, const std::string& version,
               unsigned int uid) {
    LOGGER_DUMP* dump = logger_dump_new(server.c_str());
    if (const char* seam = std::getenv(kConnectTimeoutEnv)) {
        int t = std::atoi(seam);
        if (t >= 1 && t <= LOGGER_DUMP_TIMEOUT) dump->conn_timeout = t;
    }
    if (logger_dump_connect(dump) == 0)
        logger_dump_file(dump, filepath.c_str(), version.c_str(), uid);
    logger_dump_free(dump);
}

}  // namespace

int main(int argc, char* argv[]) {
    const char* prog = argc > 0 ? argv[0] : "tarvologger";
    std::string log = log_path();
    acl_msg_open(log.c_str(), "log");
    platform::socket_startup(2, 0, nullptr, nullptr);

    std::string filepath, version, server = kDefaultServer;
    unsigned int uid = 0;
    LOGGER_GETOPT g;
    int ch;
    while ((ch = logger_getopt(g, argc, argv, "hf:v:u:s:")) != -1) {
        switch (ch) {
            case 'h':
                usage(prog);
                return 0;
            case 'f':
                filepath = cut(g.arg, kPathMax);
                break;
            case 'v':
                version = cut(g.arg, kVersionMax);
                break;
            case 'u':
                uid = parse_uid(g.arg);
                break;
            case 's':
                server = cut(g.arg, kAddrMax);
                break;
            default:  // the option error is already printed; the rest still counts
                break;
        }
    }

    if (filepath.empty() || version.empty()) {
        usage(prog);
        return 0;
    }
    send_dump(server, filepath, version, uid);
    acl_msg_close();
    return 0;
}
