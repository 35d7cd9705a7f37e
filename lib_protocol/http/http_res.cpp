// The response body reader's lifetime.
#include "http_res.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "acl_msg.h"

HTTP_RES* http_res_new(HTTP_HDR_RES* hdr_res) {
    static const char myname[] = "http_res_new";

    if (hdr_res == nullptr)
        acl_msg_fatal("%s, %s(%d): hdr_res null", __FILE_NAME__, myname, __LINE__);
    auto* res = new (std::nothrow) HTTP_RES;
    if (res == nullptr)
        acl_msg_fatal("%s, %s(%d): can't calloc, error=%s", __FILE_NAME__, myname, __LINE__,
                      std::strerror(errno));
    res->hdr_res = hdr_res;
    res->body = http_body_new();
    return res;
}

void http_res_free(HTTP_RES* res) {
    if (res == nullptr) return;
    if (res->ctx != nullptr && res->ctx_free != nullptr) res->ctx_free(res->ctx);
    http_body_free(res->body);
    delete res;
}
