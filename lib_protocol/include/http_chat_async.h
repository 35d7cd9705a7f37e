// http_chat_async: header and body readers on an async stream.
//
// All callbacks run on the loop thread of the stream's aio handle. Each read
// goes out with the reader's own request record (ACL_AIO_READ_REQ): the
// stream's callbacks and its context stay as its owner set them, and a write
// callback of the owner keeps running with the owner's context while a read
// is under way. A reader sets only the stream's timeout (seconds for every
// registration, reads and writes alike).
//
// When the stream closes or times out during a read and the stream has a close
// (or timeout) callback of its own, that callback answers, with the stream's
// context, instead of the user's callback. A timeout always ends in closing
// the stream.
//
// Status codes: http_status.h.
//
// Lifetime: the header or reader must stay alive until its callback has
// reported the end of the read (or the stream has closed). Freeing the header
// or reader frees its reader state; do that only outside a read.
#pragma once

#include "acl_aio.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_req.h"
#include "http_res.h"
#include "http_status.h"

// Header callback: HTTP_CHAT_OK when the header is complete (the header is
// not parsed yet), else an error status. A negative result closes the stream.
typedef int (*HTTP_HDR_NOTIFY)(int status, void* arg);

// Body callback: progress (HTTP_CHAT_DATA, HTTP_CHAT_CHUNK_HDR,
// HTTP_CHAT_CHUNK_TRAILER) with the bytes as read, the end (HTTP_CHAT_OK, data
// null, `dlen` the total of bytes delivered, framing included, capped at
// INT32_MAX), or an error (data null, dlen 0).
// The data lives until the callback returns. A negative result on a delivery
// stops the reading and closes the stream.
typedef int (*HTTP_BODY_NOTIFY)(int status, char* data, int dlen, void* arg);

// Reads header lines into `hdr` until the empty line that ends it. `timeout`
// in seconds (0: none).
void hdr_get_async(HTTP_HDR* hdr, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify, void* arg,
                   int timeout);
void http_hdr_req_get_async(HTTP_HDR_REQ* req, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify,
                            void* arg, int timeout);
void http_hdr_res_get_async(HTTP_HDR_RES* res, ACL_ASTREAM* astream, HTTP_HDR_NOTIFY notify,
                            void* arg, int timeout);

// Reads the request body: chunked, or of its positive content length. A
// request without either has no body: the warning "%s: content_length(%d)" is
// logged, -1 returned and the callback never called. Otherwise 0.
int http_req_body_get_async(HTTP_REQ* req, ACL_ASTREAM* astream, HTTP_BODY_NOTIFY notify, void* arg,
                            int timeout);

// Reads the response body: chunked, of its positive content length, or else
// until the peer closes.
void http_res_body_get_async(HTTP_RES* res, ACL_ASTREAM* astream, HTTP_BODY_NOTIFY notify,
                             void* arg, int timeout);
