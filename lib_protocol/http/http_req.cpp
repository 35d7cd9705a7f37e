// The request body reader's lifetime.
#include "http_req.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "acl_msg.h"

HTTP_REQ* http_req_new(HTTP_HDR_REQ* hdr_req) {
    static const char myname[] = "http_req_new";

    if (hdr_req == nullptr)
        acl_msg_fatal("%s, %s(%d): hdr_req null", __FILE_NAME__, myname, __LINE__);
    auto* req = new (std::nothrow) HTTP_REQ;
    if (req == nullptr)
        acl_msg_fatal("%s, %s(%d): can't calloc, error=%s", __FILE_NAME__, myname, __LINE__,
                      std::strerror(errno));
    req->hdr_req = hdr_req;
    req->body = http_body_new();
    return req;
}

void http_req_free(HTTP_REQ* req) {
    if (req == nullptr) return;
    if (req->ctx != nullptr && req->ctx_free != nullptr) req->ctx_free(req->ctx);
    http_body_free(req->body);
    delete req;
}
