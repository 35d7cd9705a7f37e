// Debug switches: which numbered sections write debug lines, up to which level.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acl_msg.h"

namespace {

constexpr int kOff = -1;  // no debug line of any level

// Built once at start-up before other threads run, then only read.
std::vector<int>* debug_table = nullptr;

// Splits `item` at ':', ',', tab or blank; true when it yields exactly two tokens.
bool split_pair(const std::string& item, std::string& first, std::string& second) {
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < item.size()) {
        size_t start = item.find_first_not_of(":, \t", pos);
        if (start == std::string::npos) break;
        size_t end = item.find_first_of(":, \t", start);
        if (end == std::string::npos) end = item.size();
        tokens.push_back(item.substr(start, end - start));
        pos = end;
    }
    if (tokens.size() != 2) return false;
    first = tokens[0];
    second = tokens[1];
    return true;
}

}  // namespace

int acl_debug_init(const char* switches) {
    // A section no item names stays off (-1) unless "All" raises it: an empty
    // text writes no debug line, and "20:2" alone enables section 20 only.
    delete debug_table;
    debug_table = new std::vector<int>(ACL_DEBUG_SECTIONS, kOff);
    if (switches == nullptr) return 0;

    int floor = kOff;
    std::string text(switches);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(pos, end - pos);
        pos = end + 1;

        std::string name, value;
        if (!split_pair(item, name, value)) continue;
        int level = std::atoi(value.c_str());
        if (strcasecmp(name.c_str(), "All") == 0) {
            floor = level;
            continue;
        }
        int section = std::atoi(name.c_str());
        if (section < 0 || section >= ACL_DEBUG_SECTIONS || level < 0) continue;
        (*debug_table)[static_cast<size_t>(section)] = level;
    }
    for (int& level : *debug_table) {
        if (level < floor) level = floor;
    }
    return 0;
}

void acl_debug_end(void) {
    delete debug_table;
    debug_table = nullptr;
}

int acl_do_debug(int section, int level) {
    if (debug_table == nullptr || section < 0 || section >= ACL_DEBUG_SECTIONS) return 0;
    return level <= (*debug_table)[static_cast<size_t>(section)];
}
