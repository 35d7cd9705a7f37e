// http_hdr_req: a request header, with the request line taken apart.
//
// After http_hdr_req_parse_all the record holds the method, host and port, the
// URL part as the client sent it (path and query), the normalised path, the
// query text, and the parameter and cookie tables. Parsing again (after the
// entries were edited) starts these fields afresh.
//
// Lifetime: made by http_hdr_req_new (or a clone or redirect), freed by
// http_hdr_req_free; http_hdr_req_reset empties it for the next request on the
// same connection. The record owns everything it points to.
#pragma once

#include <string>
#include <unordered_map>

#include "http_hdr.h"

#define HTTP_HDR_METHOD_MAX 32          // bytes of the method, NUL included
#define HTTP_HDR_HOST_MAX 512           // bytes of the host, NUL included
#define HTTP_HDR_REDIRECT_HOST_MAX 256  // bytes of a host taken from a redirect URL, NUL included
#define HTTP_HDR_TABLE_BUCKETS 30       // initial buckets of the parameter and cookie tables

struct HTTP_HDR_REQ {
    HTTP_HDR hdr;
    int port = 80;
    char method[HTTP_HDR_METHOD_MAX] = "";
    char host[HTTP_HDR_HOST_MAX] = "";
    std::string url_part;    // path and query from the first "/" of the URL
    std::string url_path;    // the normalised path
    std::string url_params;  // query text after "?"
    std::string file_path;   // free for the user; carried and copied only
    std::unordered_map<std::string, std::string> params;   // first occurrence of a name wins
    std::unordered_map<std::string, std::string> cookies;  // first occurrence of a name wins
};

// An empty request header (content length -1, line limit 1024).
HTTP_HDR_REQ* http_hdr_req_new(void);

// A copy of `src` (entries, common fields, request fields and both tables)
// that shares no memory with it.
HTTP_HDR_REQ* http_hdr_req_clone(const HTTP_HDR_REQ* src);

void http_hdr_req_free(HTTP_HDR_REQ* req);

// Drops all entries and parsed fields so the record can read the next request.
void http_hdr_req_reset(HTTP_HDR_REQ* req);

// Request line, then cookies, then the common fields. A request whose
// framing is in conflict, or whose Transfer-Encoding does not end in
// chunked, fails. Returns 0 or -1.
int http_hdr_req_parse_all(HTTP_HDR_REQ* req);

// Method (any token), URL and version from entry 0; host (an absolute URL's
// authority, else the Host entry), port, URL part, path and parameters.
// Returns 0 or -1.
int http_hdr_req_line_parse(HTTP_HDR_REQ* req);

// Fills the cookie table from the Cookie entry. Returns 0.
int http_hdr_req_cookies_parse(HTTP_HDR_REQ* req);

// Value of a URL parameter or cookie, or null.
const char* http_hdr_req_param(const HTTP_HDR_REQ* req, const char* name);
const char* http_hdr_req_cookie_get(const HTTP_HDR_REQ* req, const char* name);

// Appends the request in the form sent upstream to `buf`: "METHOD url-part
// HTTP/1.1\r\n", every further entry as "name: value\r\n", then "\r\n".
void http_hdr_build_request(const HTTP_HDR_REQ* req, std::string& buf);

// A new parsed GET request for `url` that keeps the other entries of `req`
// (its Host entry gets the host of `url` when `url` is absolute). Null when
// `req` has no entries or the new request does not parse.
HTTP_HDR_REQ* http_hdr_req_redirect(const HTTP_HDR_REQ* req, const char* url);

// Normalises a URL path: pieces "." and ".." are dropped, two or more pieces
// are joined as "/a/b", a single piece stands alone without "/", and a "/" is
// appended when `path` ended with one.
std::string http_hdr_req_path_normal(const std::string& path);
