// http_ctrl_entry: the HTTP download entry. Besides the generic entry it keeps
// clones of the first client's request and response headers, from which every
// later worker builds its own request, and the first client's page title.
// Made and freed only by the controller's operations (http_ctrl.h).
#pragma once

#include "store/store_ctrl_entry.h"

#define HTTP_CAPTION_MAX 256  // page title, NUL included

struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct STORE_RANGE_SET;

struct HTTP_CTRL_ENTRY {
    STORE_CTRL_ENTRY entry;       // first field
    STORE_RANGE_SET* p2p_ranges;  // ranges planned for peers (size hint 100)
    int p2p_status;
    HTTP_HDR_REQ* hdr_req;  // template, owned
    HTTP_HDR_RES* hdr_res;  // template, owned
    char caption[HTTP_CAPTION_MAX];
};

// The controller's ctrl_entry_new and ctrl_entry_free operations. The client
// must be an HTTP_CLIENT.
STORE_CTRL_ENTRY* http_ctrl_entry_new(STORE_CTRL* ctrl, STORE_CLIENT* client);
void http_ctrl_entry_free(STORE_CTRL_ENTRY* entry);
