// tarvo_sessionsvr: stand-in P2P session server with its STUN service.
//
//     tarvo_sessionsvr -a ADDRESS -p PORT
//
// Serves the session protocol on UDP ADDRESS:PORT and STUN binding requests on
// UDP ADDRESS:8002 (see sessionsvr.h), prints "listening session=A:P
// stun=A:8002", then one line per datagram, until it is ended by a signal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/udp.h"
#include "sessionsvr.h"

int main(int argc, char** argv) {
    std::string address;
    int port = 0;
    for (int i = 1; i < argc; i++) {
        bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "-a") == 0 && has_value)
            address = argv[++i];
        else if (std::strcmp(argv[i], "-p") == 0 && has_value)
            port = std::atoi(argv[++i]);
        else
            address.clear(), port = -1, i = argc;
    }
    platform::UdpAddr addr;
    if (address.empty() || port <= 0 || port > 65535 ||
        platform::ipv4_parse(address.c_str(), &addr.ip) != 0) {
        std::fprintf(stderr, "usage: %s -a ADDRESS -p PORT\n", argv[0]);
        return 2;
    }
    addr.port = static_cast<std::uint16_t>(port);

    SessionServer svr([](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    if (svr.open(addr, SESSIONSVR_STUN_PORT) != 0) {
        std::perror("tarvo_sessionsvr: bind");
        return 1;
    }
    std::printf("listening session=%s stun=%s:%u\n", platform::udp_addr_text(addr).c_str(),
                address.c_str(), static_cast<unsigned>(SESSIONSVR_STUN_PORT));
    std::fflush(stdout);
    svr.run([] { return false; });
    return 0;
}
