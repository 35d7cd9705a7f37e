#include "http_text.h"

#include <climits>

namespace http_text {

bool parse_int64(const std::string& s, int64_t* out) {
    size_t i = 0, n = s.size();
    while (i < n && is_blank(s[i])) i++;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    size_t digits = 0;
    uint64_t value = 0;
    // The magnitude may reach INT64_MAX + 1 only for a negative number.
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; i++, digits++) {
        uint64_t d = static_cast<uint64_t>(s[i] - '0');
        if (value > (limit - d) / 10) return false;
        value = value * 10 + d;
    }
    while (i < n && is_blank(s[i])) i++;
    if (digits == 0 || i != n) return false;
    if (negative)
        *out = value == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                             : -static_cast<int64_t>(value);
    else
        *out = static_cast<int64_t>(value);
    return true;
}

bool is_token(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!is_tchar(c)) return false;
    }
    return true;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b])) b++;
    while (e > b && is_blank(s[e - 1])) e--;
    return s.substr(b, e - b);
}

bool parse_length(const std::string& s, int64_t* out) {
    std::string t = trim(s);
    if (t.empty()) return false;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
    }
    return parse_int64(t, out);
}

int parse_int_prefix(const char* s) {
    while (is_blank(*s)) s++;
    int64_t value = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        value = value * 10 + (*s - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace http_text
