#include "p2p_filter.h"

#include "acl_msg.h"
#include "down_url_filter.h"
#include "platform/profile.h"
#include "platform/self.h"

namespace {

constexpr std::size_t kValueBuf = 1025;  // 1,024 characters and the terminator

int _check_is_p2p(const std::vector<std::string>* patterns, const char* subject) {
    if (patterns == nullptr) return 0;
    ACL_URL_FILTER* uf = acl_url_filter_new(patterns);
    if (uf == nullptr) {
        acl_msg_error("%s, %s(%d): create url filter error.", __FILE__, __func__, __LINE__);
        return 0;
    }
    int ret = acl_url_filter_check(uf, subject);
    acl_url_filter_free(uf);
    return ret;
}

int _check_is_p2p_url(P2P_FILTER* pf, const char* url) {
    if (url == nullptr || *url == '\0')
        acl_msg_fatal("%s, %s(%d): invalid params.", __FILE__, __func__, __LINE__);
    return _check_is_p2p(pf->file_patterns.get(), url);
}

int _check_is_p2p_contenttype(P2P_FILTER* pf, const char* type) {
    if (type == nullptr) acl_msg_fatal("%s, %s(%d): invalid params.", __FILE__, __func__, __LINE__);
    if (*type == '\0') return 0;
    return _check_is_p2p(pf->type_patterns.get(), type);
}

}  // namespace

std::vector<std::string> p2p_filter_split(const std::string& value) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= value.size()) {
        std::size_t end = value.find(';', pos);
        if (end == std::string::npos) end = value.size();
        if (end > pos) out.push_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

P2P_FILTER* p2p_filter_new(void) { return new P2P_FILTER; }

int p2p_filter_load(P2P_FILTER* pf, const char* fpath) {
    if (pf == nullptr) acl_msg_fatal("%s, %s(%d): pf is null.", __FILE__, __func__, __LINE__);
    if (fpath == nullptr) acl_msg_fatal("%s, %s(%d): fpath is null.", __FILE__, __func__, __LINE__);
    struct Key {
        const char* name;
        const char* def;
        std::unique_ptr<std::vector<std::string>>* field;
    };
    const Key keys[] = {
        {"file_regular", ".+\\.flv$", &pf->file_patterns},
        {"type_regular", "video/*flv$", &pf->type_patterns},
        {"exclude", "", &pf->exclude_patterns},
    };
    for (const Key& k : keys) {
        char buf[kValueBuf] = "";
        std::size_t n =
            platform::profile_read_string("p2p", k.name, k.def, buf, sizeof(buf), fpath);
        if (n == 0) {
            acl_msg_error("%s, %s(%d): read ini file (%s) error(%s)", __FILE__, __func__, __LINE__,
                          fpath, platform::last_error_text().c_str());
            return -1;
        }
        *k.field =
            std::make_unique<std::vector<std::string>>(p2p_filter_split(std::string(buf, n)));
    }
    return 0;
}

int p2p_filter_check(P2P_FILTER* pf, const char* url, const char* content_type) {
    if (pf == nullptr) acl_msg_fatal("%s, %s(%d): pf is null.", __FILE__, __func__, __LINE__);
    int ret = 0;
    if (pf->file_patterns != nullptr) {
        ret = _check_is_p2p_url(pf, url);
        if (ret < 0) {
            acl_msg_error("%s, %s(%d): _check_is_exclude error.", __FILE__, __func__, __LINE__);
            return -1;
        }
        if (ret == 1) return 1;
    }
    if (pf->type_patterns != nullptr) ret = _check_is_p2p_contenttype(pf, content_type);
    if (ret < 0) {
        acl_msg_error("%s, %s(%d): _check_is_p2p_contenttype error.", __FILE__, __func__, __LINE__);
        return -1;
    }
    return ret;
}

void p2p_filter_free(P2P_FILTER* pf) {
    if (pf == nullptr) acl_msg_fatal("%s, %s(%d): pf is null.", __FILE__, __func__, __LINE__);
    delete pf;
}
