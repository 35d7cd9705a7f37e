// Small text helpers shared by the HTTP modules. Every helper takes explicit
// lengths or NUL-terminated input and never reads past either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace http_text {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// ASCII case-insensitive equality; locale plays no part.
inline bool iequals(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); i++) {
        if (b[i] == '\0' || lower(a[i]) != lower(b[i])) return false;
    }
    return b[i] == '\0';
}

// Whether `s` begins with `prefix`, ignoring ASCII case.
inline bool istarts_with(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; i++) {
        if (i >= s.size() || lower(s[i]) != lower(prefix[i])) return false;
    }
    return true;
}

// Copies at most `size` - 1 bytes of `src` (up to its first NUL) into `dst`
// and terminates it: longer texts are cut, never overflowed.
template <size_t N>
void copy_cut(char (&dst)[N], const std::string& src) {
    size_t n = 0;
    while (n < src.size() && n + 1 < N && src[n] != '\0') n++;
    src.copy(dst, n);
    dst[n] = '\0';
}

// Decimal signed 64-bit number: optional blanks, optional sign, at least one
// digit, optional blanks, nothing else. False on any other text or overflow.
bool parse_int64(const std::string& s, int64_t* out);

// A token character of RFC 9110 section 5.6.2 (method and field names).
inline bool is_tchar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    switch (c) {
        case '!':
        case '#':
        case '$':
        case '%':
        case '&':
        case '\'':
        case '*':
        case '+':
        case '-':
        case '.':
        case '^':
        case '_':
        case '`':
        case '|':
        case '~':
            return true;
        default:
            return false;
    }
}

// Whether `s` is a non-empty token.
bool is_token(const std::string& s);

// `s` without leading and trailing blanks.
std::string trim(const std::string& s);

// Content-Length value: digits only between optional blanks, fitting 63 bits.
bool parse_length(const std::string& s, int64_t* out);

// Leading decimal digits after optional blanks, saturated at INT32_MAX; 0
// when there are none. For fields whose range is checked afterwards.
int parse_int_prefix(const char* s);

}  // namespace http_text
