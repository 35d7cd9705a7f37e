// http_req: the body reader of a request.
//
// Ownership as for http_res.h: the reader owns its body state, never the
// header, and must outlive an asynchronous read under way.
#pragma once

#include "http_body.h"
#include "http_hdr_req.h"

struct HTTP_BODY_CTX;  // state of an asynchronous body read (http_chat_async)

struct HTTP_REQ {
    HTTP_HDR_REQ* hdr_req = nullptr;  // not owned
    HTTP_BODY* body = nullptr;        // owned
    HTTP_BODY_CTX* ctx = nullptr;     // owned, internal
    void (*ctx_free)(HTTP_BODY_CTX*) = nullptr;
};

// A reader for `hdr_req` (which must have been parsed). Fatal on null.
HTTP_REQ* http_req_new(HTTP_HDR_REQ* hdr_req);

// Frees the reader, not the header.
void http_req_free(HTTP_REQ* req);
