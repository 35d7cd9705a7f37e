#include "platform/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace platform {

int resolve_ipv4(const char* name, std::vector<std::string>& addrs, std::string& error) {
    addrs.clear();
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &res);
    if (rc != 0) {
        error = gai_strerror(rc);
        return -1;
    }
    for (addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        const auto* sa = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        if (inet_ntop(AF_INET, &sa->sin_addr, text, sizeof(text)) == nullptr) continue;
        if (std::find(addrs.begin(), addrs.end(), text) == addrs.end()) addrs.emplace_back(text);
    }
    freeaddrinfo(res);
    if (addrs.empty()) {
        error = "no address";
        return -1;
    }
    return 0;
}

}  // namespace platform
