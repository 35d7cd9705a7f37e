// http_hdr_res: a response header with its status.
//
// Lifetime: made by http_hdr_res_new (or a clone), freed by http_hdr_res_free.
// The link to the request header is the user's and never freed here.
#pragma once

#include <string>

#include "http_hdr.h"

#define HTTP_HDR_STATUS_TEXT_MAX 31  // bytes of the status code text that are looked at

struct HTTP_HDR_REQ;

struct HTTP_HDR_RES {
    HTTP_HDR hdr;
    int reply_status = 0;
    std::string reason;               // free for the user; carried and copied only
    HTTP_HDR_REQ* hdr_req = nullptr;  // the request answered, for log lines; not owned
    std::string url;                  // filled by the user for log lines
};

// An empty response header (content length -1, line limit 1024).
HTTP_HDR_RES* http_hdr_res_new(void);

// A copy of `src` (entries, common fields, status and both texts) sharing no
// memory with it. The request link is copied as it is.
HTTP_HDR_RES* http_hdr_res_clone(const HTTP_HDR_RES* src);

void http_hdr_res_free(HTTP_HDR_RES* res);

// Drops all entries and parsed fields.
void http_hdr_res_reset(HTTP_HDR_RES* res);

// Status from entry 0 (100 to 599), the version when the start line has one,
// then the common fields. Returns 0 or -1.
int http_hdr_res_parse(HTTP_HDR_RES* res);
