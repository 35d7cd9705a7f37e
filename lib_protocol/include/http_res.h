// http_res: the body reader of a response.
//
// A reader is made for a parsed response header and keeps the body's framing
// state between reads, so one reader can be handed from the code that reads
// the first body bytes to the code that reads the rest (on the same stream).
//
// Ownership: the reader owns its body state only, never the header; free the
// reader before (or together with) the header it was made for. A reader with an
// asynchronous read under way must outlive that read: free it only after its
// callback reported the end (status 0 or an error) or after the stream closed.
#pragma once

#include "http_body.h"
#include "http_hdr_res.h"

struct HTTP_BODY_CTX;  // state of an asynchronous body read (http_chat_async)

struct HTTP_RES {
    HTTP_HDR_RES* hdr_res = nullptr;  // not owned
    HTTP_BODY* body = nullptr;        // owned
    HTTP_BODY_CTX* ctx = nullptr;     // owned, internal
    void (*ctx_free)(HTTP_BODY_CTX*) = nullptr;
};

// A reader for `hdr_res` (which must have been parsed). Fatal on null.
HTTP_RES* http_res_new(HTTP_HDR_RES* hdr_res);

// Frees the reader, not the header.
void http_res_free(HTTP_RES* res);
