// Hop-by-hop fields: they describe one connection and never travel on.
#include <cctype>
#include <string>
#include <vector>

#include "http_hdr.h"
#include "proxy_entry.h"

namespace {

const char* const hop_fields[] = {
    "Keep-Alive", "TE", "Upgrade", "Proxy-Authorization", "Proxy-Connection", "Connection",
};

// Fields that Connection may not take away: without them the next reader
// would find another end of the message, or another server.
const char* const kept_fields[] = {"Content-Length", "Transfer-Encoding", "Host"};

bool iequal(const std::string& a, const char* b) {
    if (a.size() != std::char_traits<char>::length(b)) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::string> connection_options(const HTTP_HDR* hdr) {
    std::vector<std::string> names;
    for (size_t i = 1; i < hdr->entries.size(); i++) {
        const HTTP_HDR_ENTRY& e = *hdr->entries[i];
        if (!iequal(e.name, "Connection")) continue;
        size_t begin = 0;
        for (;;) {
            size_t comma = e.value.find(',', begin);
            std::string item = e.value.substr(
                begin, comma == std::string::npos ? std::string::npos : comma - begin);
            size_t b = item.find_first_not_of(" \t"), end = item.find_last_not_of(" \t");
            if (b != std::string::npos) names.push_back(item.substr(b, end - b + 1));
            if (comma == std::string::npos) break;
            begin = comma + 1;
        }
    }
    return names;
}

}  // namespace

void aproxy_drop_hop_fields(HTTP_HDR* hdr) {
    for (const std::string& name : connection_options(hdr)) {
        bool kept = false;
        for (const char* k : kept_fields) kept = kept || iequal(name, k);
        if (!kept) http_hdr_entry_delete(hdr, name.c_str());
    }
    for (const char* name : hop_fields) http_hdr_entry_delete(hdr, name);
}
