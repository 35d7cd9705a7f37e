// Host-name resolution through the system's resolver (blocking, thread-safe).
#pragma once

#include <string>
#include <vector>

namespace platform {

// Resolves `name` to its IPv4 addresses as dotted text, in the order the
// resolver gives them, duplicates removed. 0, or -1 with the resolver's reason
// in `error` (a name that does not exist, no answer ...).
int resolve_ipv4(const char* name, std::vector<std::string>& addrs, std::string& error);

}  // namespace platform
