#include "down_url_filter.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstring>

#include "acl_msg.h"

struct ACL_URL_FILTER {
    pcre2_code* re = nullptr;  // the pattern being tried, or null
    const std::vector<std::string>* patterns = nullptr;
};

namespace {

constexpr int kOvectorInts = 50;  // output vector size: 50 integers, 25 pairs

// PCRE2's build must be one the patterns were written for: a link size of 2,
// 3 or 4 and a newline of LF or CR.
int __acl_url_filter_init() {
    std::uint32_t link_size = 0, newline = 0;
    if (pcre2_config(PCRE2_CONFIG_LINKSIZE, &link_size) < 0 || link_size < 2 || link_size > 4)
        return -1;
    if (pcre2_config(PCRE2_CONFIG_NEWLINE, &newline) < 0) return -1;
    int newline_char = newline == PCRE2_NEWLINE_LF ? 10 : newline == PCRE2_NEWLINE_CR ? 13 : -1;
    return newline_char == 10 || newline_char == 13 ? 0 : -1;
}

void drop_compiled(ACL_URL_FILTER* uf) {
    if (uf->re != nullptr) pcre2_code_free(uf->re);
    uf->re = nullptr;
}

}  // namespace

ACL_URL_FILTER* acl_url_filter_new(const std::vector<std::string>* patterns) {
    if (patterns == nullptr)
        acl_msg_fatal("%s, %s(%d): pattern is null.", __FILE__, __func__, __LINE__);
    auto* uf = new ACL_URL_FILTER;
    uf->patterns = patterns;
    if (__acl_url_filter_init() != 0) {
        acl_msg_error("%s, %s(%d): pcre_config failed.", __FILE__, __func__, __LINE__);
        acl_msg_error("%s, %s(%d): __acl_url_filter_init failed.", __FILE__, __func__, __LINE__);
        delete uf;
        return nullptr;
    }
    return uf;
}

int acl_url_filter_check(ACL_URL_FILTER* uf, const char* subject) {
    if (uf == nullptr) {
        acl_msg_error("%s, %s(%d): uf is null.", __FILE__, __func__, __LINE__);
        return -1;
    }
    const std::size_t subject_len = std::strlen(subject);
    for (const std::string& pattern : *uf->patterns) {
        int err = 0;
        PCRE2_SIZE err_offset = 0;
        uf->re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED,
                               0, &err, &err_offset, nullptr);
        if (uf->re == nullptr) {
            acl_msg_error("%s, %s(%d): pcre_compile failed.", __FILE__, __func__, __LINE__);
            continue;
        }
        pcre2_match_data* md = pcre2_match_data_create(kOvectorInts / 2, nullptr);
        int rc = md == nullptr ? PCRE2_ERROR_NOMEMORY
                               : pcre2_match(uf->re, reinterpret_cast<PCRE2_SPTR>(subject),
                                             subject_len, 0, 0, md, nullptr);
        if (md != nullptr) pcre2_match_data_free(md);
        drop_compiled(uf);
        if (rc == 1) return 1;
        if (rc == PCRE2_ERROR_NOMATCH) continue;
        if (rc == 0)
            acl_msg_error("%s, %s(%d): pcre_exec vector is too small. (%s)", __FILE__, __func__,
                          __LINE__, pattern.c_str());
        else
            acl_msg_error("%s, %s(%d): pcre_exec failed. (%s)", __FILE__, __func__, __LINE__,
                          pattern.c_str());
    }
    return 0;
}

void acl_url_filter_free(ACL_URL_FILTER* uf) {
    if (uf == nullptr) return;
    drop_compiled(uf);
    delete uf;
}
