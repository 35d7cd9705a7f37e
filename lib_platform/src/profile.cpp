// Profile files: a whole-file read per call, so a file edited between two calls
// is always seen as it stands now; a write replaces the file through a
// temporary twin so a reader never meets half a file.
#include "platform/profile.h"

#include "whole_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr std::string_view blanks = " \t";

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::vector<std::string_view> split_lines(std::string_view data) {
    // An editor's UTF-8 byte-order mark is not part of the first line.
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!data.empty()) {
        auto nl = data.find('\n');
        std::string_view line = data.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        data.remove_prefix(nl + 1);
    }
    return lines;
}

// "[name]" gives true and the trimmed name.
bool section_line(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return false;
    auto close = line.find(']');
    name =
        trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

// "key = value" gives true, the trimmed key and the raw value after '='.
bool key_line(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return false;
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(t.substr(0, eq));
    value = t.substr(eq + 1);
    return true;
}

// Blanks first, then one pair of matching enclosing quotes.
std::string_view clean_value(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

// Index of the first line holding [section] key, or -1. Sections named twice
// are searched in file order, as one.
long find_key(const std::vector<std::string_view>& lines, std::string_view section,
              std::string_view key) {
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); i++) {
        std::string_view name, k, v;
        if (section_line(lines[i], name))
            inside = same_name(name, section);
        else if (inside && key_line(lines[i], k, v) && same_name(k, key))
            return static_cast<long>(i);
    }
    return -1;
}

bool lookup(const char* section, const char* key, const char* path, std::string& data,
            std::string_view& value) {
    if (section == nullptr || key == nullptr || path == nullptr) {
        errno = EINVAL;
        return false;
    }
    if (!detail::read_whole_file(path, data)) return false;
    auto lines = split_lines(data);
    long at = find_key(lines, section, key);
    if (at < 0) {
        errno = ENOENT;
        return false;
    }
    std::string_view k;
    key_line(lines[static_cast<std::size_t>(at)], k, value);
    value = clean_value(value);
    return true;
}

bool has_any(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

}  // namespace

std::size_t profile_read_string(const char* section, const char* key, const char* def, char* buf,
                                std::size_t size, const char* path) {
    std::string data;
    std::string_view value;
    if (!lookup(section, key, path, data, value)) value = def != nullptr ? def : "";
    if (buf == nullptr || size == 0) return 0;
    std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    if (n > 0) std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
    return n;
}

int profile_read_int(const char* section, const char* key, int def, const char* path) {
    std::string data;
    std::string_view value;
    if (!lookup(section, key, path, data, value)) return def;
    bool negative = !value.empty() && value.front() == '-';
    if (negative) value.remove_prefix(1);
    // Accumulated as a negative number so INT_MIN fits; longer runs of digits
    // stop at the limit instead of wrapping.
    long long n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        n = n * 10 - (c - '0');
        if (n < -static_cast<long long>(INT_MAX) - 1) n = -static_cast<long long>(INT_MAX) - 1;
    }
    if (!negative) return n < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-n);
    return static_cast<int>(n);
}

int profile_write_string(const char* section, const char* key, const char* value,
                         const char* path) {
    if (section == nullptr || key == nullptr || value == nullptr || path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // A line end inside a name or value would split it into lines that read
    // back as something else; a '=' in a key or ']' in a section name would be
    // read back cut.
    std::string_view sec = trim(section), k = trim(key);
    if (sec.empty() || k.empty() || has_any(sec, "\r\n]") || has_any(k, "\r\n=[") ||
        k.front() == ';' || has_any(value, "\r\n")) {
        errno = EINVAL;
        return -1;
    }

    std::string data;
    if (!detail::read_whole_file(path, data) && errno != ENOENT) return -1;
    auto lines = split_lines(data);
    // Keep the file's own line ends; a new file gets the Windows ones.
    std::string_view eol = "\r\n";
    auto first_nl = data.find('\n');
    if (first_nl != std::string::npos && (first_nl == 0 || data[first_nl - 1] != '\r')) eol = "\n";
    std::string entry = std::string(k) + "=" + value;

    long at = find_key(lines, sec, k);
    long insert_after = -1;  // line after which a new key goes
    bool have_section = false;
    if (at < 0) {
        bool inside = false;
        for (std::size_t i = 0; i < lines.size(); i++) {
            std::string_view name;
            if (section_line(lines[i], name)) {
                if (have_section && inside) break;  // the key goes into the first such section
                inside = same_name(name, sec);
                if (inside) {
                    have_section = true;
                    insert_after = static_cast<long>(i);
                }
            } else if (inside && !trim(lines[i]).empty()) {
                insert_after = static_cast<long>(i);
            }
        }
    }

    std::string out;
    for (std::size_t i = 0; i < lines.size(); i++) {
        if (static_cast<long>(i) == at)
            out.append(entry);
        else
            out.append(lines[i]);
        out.append(eol);
        if (static_cast<long>(i) == insert_after) out.append(entry).append(eol);
    }
    if (at < 0 && !have_section) {
        if (!out.empty() && !trim(lines.back()).empty()) out.append(eol);
        out.append("[").append(sec).append("]").append(eol);
        out.append(entry).append(eol);
    }
    return detail::replace_whole_file(path, out, 0644);
}

}  // namespace platform
