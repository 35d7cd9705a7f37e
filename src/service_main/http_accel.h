// http_accel: which responses the service accelerates, and the job that turns
// a diverted browser connection into a client of the download store.
//
// Lifecycle: http_accel_init once at start-up, after the controller exists and
// before the proxy thread runs; the hooks only read what it set. The decision
// runs on the proxy's event-loop thread and reads headers and free-space
// figures only; the accelerate hook only queues http_accel_thread. The job
// and the completed download's hand-off run on work-queue threads.
//
// Ownership: from the accelerate hook's call on, the job owns both streams
// and both header clones. It closes the browser and frees the headers when its
// conversation ends; the upstream stream goes to the download's first worker
// (the store then owns it) or is closed by the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ACL_VSTREAM;
struct ACL_WORKQ;
struct HTTP_CLIENT;
struct HTTP_COMPLETION;
struct HTTP_CTRL;
struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct HTTP_RES;

#define HTTP_ACCEL_MIN_LENGTH 1048576  // smallest body worth several connections
#define HTTP_ACCEL_FIRST_DLEN 102400   // body bytes read before the store takes over
#define HTTP_ACCEL_EXT "flv"
#define HTTP_ACCEL_DEBUG_SECTION 50
#define HTTP_ACCEL_FLV_HEAD 13  // FLV signature, version, flags, offset, first tag size

// Where a video's caption comes from: fills buf (NUL-terminated, at most
// size - 1 bytes) with a recently captured page title and returns 0, or
// empties it and returns -1. The page-title list of the proxy.
typedef int (*HTTP_ACCEL_TITLE_FN)(char* buf, std::size_t size);

// Records the controller, the work queue the jobs go to, the configured
// upper bound of connections per download and the caption source (may be
// null: no caption).
void http_accel_init(HTTP_CTRL* ctrl, ACL_WORKQ* wq, int http_max_threads,
                     HTTP_ACCEL_TITLE_FN title_fn);

// The can-accelerate hook: non-zero to divert the exchange.
int http_accel_can_hook(HTTP_HDR_REQ* hdr_req, HTTP_HDR_RES* hdr_res);

// The length, type, range and space tests of the decision: 1 to accelerate.
int http_can_accel(const HTTP_HDR_REQ* hdr_req, const HTTP_HDR_RES* hdr_res);

// The accelerate hook: queues http_accel_thread with all four.
void http_accel_hook(ACL_VSTREAM* client, ACL_VSTREAM* server, HTTP_HDR_REQ* hdr_req,
                     HTTP_HDR_RES* hdr_res);

// One diverted exchange as the job holds it. `reader` is the body reader
// the prefetch made on `server`; it stays the job's even after the store
// took `server` (the first worker copies its framing state).
struct HTTP_ACCEL_ARG {
    ACL_VSTREAM* client;  // the browser
    ACL_VSTREAM* server;  // the web server; null once closed or given away
    HTTP_HDR_REQ* hdr_req;
    HTTP_HDR_RES* hdr_res;
    HTTP_RES* reader;
};

// Runs the whole exchange on the calling thread and frees `arg` and all it
// holds (see Ownership).
void http_accel_run(HTTP_ACCEL_ARG* arg);

// Reads exactly `first_dlen` body bytes from arg->server into `buf`, writing
// each piece to the browser as it arrives; leaves the reader in
// arg->server->context for the first worker. On failure closes the upstream
// stream (arg->server becomes null) and returns -1.
int http_body_prepare(HTTP_ACCEL_ARG* arg, int first_dlen, std::string& buf);

// The store client of the exchange: prefetch, resource id, final path,
// caption and FLV test. Null on failure.
HTTP_CLIENT* http_client_new(HTTP_CTRL* ctrl, HTTP_ACCEL_ARG* arg, int max_thread, int first_dlen,
                             const char* ext);

// 1 when `buf` starts with an FLV header whose flags say audio, video or both.
int flv_head_ok(const char* buf, int len);

// The completed download's hand-off to the shared resource list: the P2P
// session's pending transfer is dropped and the file is added.
void http_accel_add_resource(const HTTP_COMPLETION* rc);
