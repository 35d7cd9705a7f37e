#include "store_http/http_ctrl_entry.h"

#include <cstdio>
#include <cstdlib>

#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "store/store_range.h"
#include "store_http/http_client.h"

namespace {

constexpr int kP2pRangesHint = 100;

}  // namespace

STORE_CTRL_ENTRY* http_ctrl_entry_new(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    auto* hc = reinterpret_cast<HTTP_CLIENT*>(client);
    auto* he = reinterpret_cast<HTTP_CTRL_ENTRY*>(
        store_ctrl_entry_alloc(ctrl, client, sizeof(HTTP_CTRL_ENTRY)));
    if (hc->hdr_req != nullptr) he->hdr_req = http_hdr_req_clone(hc->hdr_req);
    if (hc->hdr_res != nullptr) he->hdr_res = http_hdr_res_clone(hc->hdr_res);
    he->p2p_ranges = store_range_set_new(kP2pRangesHint);
    std::snprintf(he->caption, sizeof(he->caption), "%s", hc->caption);
    return &he->entry;
}

void http_ctrl_entry_free(STORE_CTRL_ENTRY* entry) {
    auto* he = reinterpret_cast<HTTP_CTRL_ENTRY*>(entry);
    if (he->hdr_req != nullptr) http_hdr_req_free(he->hdr_req);
    if (he->hdr_res != nullptr) http_hdr_res_free(he->hdr_res);
    store_range_set_free(he->p2p_ranges);
    store_ctrl_entry_clean(entry);
    std::free(he);
}
