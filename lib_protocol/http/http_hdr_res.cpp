// The response header: status line and lifetime.
#include "http_hdr_res.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "acl_msg.h"
#include "http_text.h"

namespace {

HTTP_HDR_RES* alloc_res(const char* myname) {
    auto* res = new (std::nothrow) HTTP_HDR_RES;
    if (res == nullptr)
        acl_msg_fatal("%s, %s(%d): can't calloc, error=%s", __FILE_NAME__, myname, __LINE__,
                      std::strerror(errno));
    res->hdr.entries.reserve(HTTP_HDR_ENTRIES_INIT);
    res->url.reserve(128);
    return res;
}

}  // namespace

HTTP_HDR_RES* http_hdr_res_new(void) { return alloc_res("http_hdr_res_new"); }

HTTP_HDR_RES* http_hdr_res_clone(const HTTP_HDR_RES* src) {
    if (src == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_res_clone", __LINE__);
    HTTP_HDR_RES* res = alloc_res("http_hdr_res_clone");
    http_hdr_clone(&src->hdr, &res->hdr);
    res->reply_status = src->reply_status;
    res->reason = src->reason;
    res->hdr_req = src->hdr_req;
    res->url = src->url;
    return res;
}

void http_hdr_res_free(HTTP_HDR_RES* res) {
    if (res == nullptr) return;
    http_hdr_free_members(&res->hdr);
    delete res;
}

void http_hdr_res_reset(HTTP_HDR_RES* res) {
    if (res == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_res_reset", __LINE__);
    http_hdr_reset(&res->hdr);
    res->reply_status = 0;
    res->reason.clear();
    res->url.clear();
}

int http_hdr_res_parse(HTTP_HDR_RES* res) {
    static const char myname[] = "http_hdr_res_parse";

    if (res == nullptr) acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    res->reply_status = 0;
    if (res->hdr.entries.empty()) {
        acl_msg_error("%s, %s(%d): null array", __FILE_NAME__, myname, __LINE__);
        return -1;
    }
    const HTTP_HDR_ENTRY& line = *res->hdr.entries[0];

    // The code: up to HTTP_HDR_STATUS_TEXT_MAX bytes after any blanks, up to
    // the next blank.
    size_t begin = line.value.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        acl_msg_error("%s: status empty", myname);
        return -1;
    }
    size_t end = line.value.find_first_of(" \t", begin);
    std::string code = line.value.substr(begin, end == std::string::npos ? end : end - begin);
    if (code.size() > HTTP_HDR_STATUS_TEXT_MAX) code.resize(HTTP_HDR_STATUS_TEXT_MAX);
    int status = http_text::parse_int_prefix(code.c_str());
    if (status < 100 || status > 599) {
        acl_msg_error("%s: status(%d) invalid", myname, status);
        return -1;
    }
    res->reply_status = status;

    // A start line of another protocol keeps its status; the version is taken
    // only when there is one.
    http_hdr_parse_version(&res->hdr, line.name.c_str());
    return http_hdr_parse(&res->hdr);
}
