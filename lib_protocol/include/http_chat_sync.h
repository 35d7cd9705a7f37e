// http_chat_sync: blocking header and body readers for worker threads.
//
// They read a buffered stream in blocking mode. A line of the peer is read
// up to HTTP_CHAT_SYNC_LINE_MAX - 1 bytes; the rest of a longer line is
// dropped (the line is cut, never split into two).
#pragma once

#include "acl_vstream.h"
#include "http_hdr_req.h"
#include "http_res.h"
#include "http_status.h"

#define HTTP_CHAT_SYNC_LINE_MAX 8192  // bytes of a line buffer, NUL included

// Reads a header into `hdr` (entries only; parse it afterwards). With
// `timeout` above 0 each wait for data is limited to that many seconds (the
// stream's own time-out is restored afterwards). Returns HTTP_CHAT_OK, or
// HTTP_CHAT_ERR_TOO_MANY_LINES, HTTP_CHAT_ERR_TIMEOUT, or HTTP_CHAT_ERR_IO for
// the end of the stream or another failure.
int http_hdr_get_sync(HTTP_HDR* hdr, ACL_VSTREAM* stream, int timeout);
int http_hdr_req_get_sync(HTTP_HDR_REQ* req, ACL_VSTREAM* stream, int timeout);
int http_hdr_res_get_sync(HTTP_HDR_RES* res, ACL_VSTREAM* stream, int timeout);

// Reads body bytes of the response into `buf` (at most `size`), without chunk
// framing: only chunk data is returned. Returns the count, 0 once the body has
// ended (a body without length or chunking ends when the peer closes), or -1
// on a read error, a time-out, bad chunk framing, or a peer that closed before
// a body of known length (or a chunked one) was complete.
int http_res_body_get_sync2(HTTP_RES* res, ACL_VSTREAM* stream, void* buf, int size);
