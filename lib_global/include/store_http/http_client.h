// http_client: a browser connection served from the store. The browser's
// thread (the acceleration job) becomes a store client: it asks the
// controller to open the download, copies each offered piece of the cache file
// to the browser, asks for more, and leaves when the browser hung up, has the
// whole body, or the download is over. It checks the browser every 5 seconds
// while it waits.
//
// Ownership: the job owns the record, the browser connection and both
// headers; http_client_free frees only the store's part (the job closes the
// browser and frees the headers). After http_client_request the client's
// `server` is always null: the controller gave it to a first worker or closed it.
#pragma once

#include <cstdint>

#include "store/store_client.h"
#include "store_http/http_ctrl_entry.h"

#define HTTP_CLIENT_CHECK 5     // seconds between browser checks
#define HTTP_CLIENT_PIECE 4096  // bytes copied from the file to the browser at once

struct ACL_VSTREAM;
struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct STORE_CTRL;

struct HTTP_CLIENT {
    STORE_CLIENT client;  // first field
    ACL_VSTREAM* browser;
    HTTP_HDR_REQ* hdr_req;
    HTTP_HDR_RES* hdr_res;
    int64_t rest_dlen;  // body bytes the browser is still owed; -1 when the length is unknown
    char caption[HTTP_CAPTION_MAX];
    int is_flv;
    int quitting;
};

// A client for `id` with its final `path`, the prefetched bytes and the
// upstream stream (may be null); rest_dlen = content length - dlen.
HTTP_CLIENT* http_client_alloc(STORE_CTRL* ctrl, const char* id, const char* path, int max_thread,
                               int64_t content_length, const char* data, int64_t dlen,
                               ACL_VSTREAM* server, ACL_VSTREAM* browser, HTTP_HDR_REQ* hdr_req,
                               HTTP_HDR_RES* hdr_res);
void http_client_free(HTTP_CLIENT* client);

// The whole conversation on the calling thread; returns after MSG_CTRL_BYE
// (0) or a failed open (-1).
int http_client_request(STORE_CTRL* ctrl, HTTP_CLIENT* client);

// Sends MSG_CLIENT_REQUEST and waits for the answer: 0 for MSG_CTRL_OPEN_OK.
int http_client_open(HTTP_CLIENT* client, STORE_CTRL* ctrl);

// Sends the offered bytes to the browser; -1 when the client must leave.
int http_invoke_reply(STORE_CTRL* ctrl, HTTP_CLIENT* client);
