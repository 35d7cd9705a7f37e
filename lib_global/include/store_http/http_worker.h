// http_worker: the HTTP range worker. The first worker of a download reads on
// after the prefetch on the connection the browser's request opened; every
// other worker opens its own connection and asks for its range.
//
// The acceleration job hands the first worker its upstream stream with the
// body reader it prefetched through in the stream's `context` (an HTTP_RES*).
// The first worker continues from a copy of that reader's framing state with
// its own clone of the response header, so the job may free its reader and
// headers as soon as its client conversation ends.
//
// Ownership: every record a worker points to is its own (connection, request,
// response, reader, template clones); freeing the worker frees them all and
// never touches the entry, which may be gone by then.
#pragma once

#include <cstdint>

#include "store/store_worker.h"

#define HTTP_WORKER_BUF 8192
#define HTTP_WORKER_TIMEOUT 10  // seconds: connect, read, write, response header
#define HTTP_WORKER_MAX_REDIRECT 10
#define HTTP_WORKER_HOST_MAX 64  // host text looked at, NUL included

struct ACL_VSTREAM;
struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct HTTP_RES;
struct STORE_CTRL_ENTRY;

struct HTTP_WORKER {
    STORE_WORKER worker;  // first field
    ACL_VSTREAM* server;
    HTTP_HDR_REQ* req;  // the request sent
    HTTP_HDR_RES* res;  // the response received
    HTTP_RES* body;     // the body reader on `server`
    HTTP_HDR_REQ* tmpl_req;
    HTTP_HDR_RES* tmpl_res;
};

// The controller's operations.
STORE_WORKER* http_first_worker_create(STORE_CTRL_ENTRY* entry, ACL_VSTREAM* server, int64_t from);
STORE_WORKER* http_worker_create(STORE_CTRL_ENTRY* entry, int64_t from, int64_t length);
void http_worker_free(STORE_WORKER* worker);
int http_worker_start(STORE_WORKER* worker);
int http_worker_read(STORE_WORKER* worker, char* buf, int size);

// 1 when the response's "Content-Range" states exactly bytes from-to.
int http_support_range(const HTTP_HDR_RES* res, int64_t from, int64_t to);

// Test seam: the port a host without one is contacted on (80 unless set).
void http_worker_set_default_port(int port);
