#include "lc_config.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

int LC_ConfigLoad(LC_CONFIG* cfg, const char* path) {
    cfg->lines.clear();
    std::FILE* fp = std::fopen(path, "rb");
    if (fp == nullptr) return -1;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), fp)) > 0) text.append(buf, n);
    bool failed = std::ferror(fp) != 0;
    std::fclose(fp);
    if (failed) {
        errno = EIO;
        return -1;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            cfg->lines.push_back(text.substr(start));
            break;
        }
        cfg->lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return 0;
}

int LC_ConfigGetString(const LC_CONFIG* cfg, const char* key, std::string& value) {
    std::size_t klen = std::strlen(key);
    if (klen == 0) return -1;
    for (auto& line : cfg->lines) {
        if (line.size() > klen + 1 && line.compare(0, klen, key) == 0 && line[klen] == '=') {
            value = line.substr(klen + 1, LC_CONFIG_TEXT_MAX);
            return 0;
        }
    }
    return -1;
}

int LC_ConfigGetInt(const LC_CONFIG* cfg, const char* key, int* value) {
    std::string text;
    if (LC_ConfigGetString(cfg, key, text) != 0) return -1;
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size()) return -1;
    long long v = 0;
    for (; i < text.size(); i++) {
        char c = text[i];
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return -1;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return -1;
    *value = static_cast<int>(v);
    return 0;
}
