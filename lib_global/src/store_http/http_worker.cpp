// The HTTP range worker: its records, opening its connection with a Range
// header (redirects, the fall-back to one connection), and reading the body.
#include "store_http/http_worker.h"

#include <strings.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "http_chat_sync.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_res.h"
#include "store/store_ctrl_entry.h"
#include "store/store_time.h"
#include "store_http/http_ctrl_entry.h"

namespace {

std::atomic<int> g_default_port{80};

HTTP_WORKER* hw_of(STORE_WORKER* w) { return reinterpret_cast<HTTP_WORKER*>(w); }

void close_connection(HTTP_WORKER* hw) {
    if (hw->body != nullptr) {
        http_res_free(hw->body);
        hw->body = nullptr;
    }
    if (hw->res != nullptr) {
        http_hdr_res_free(hw->res);
        hw->res = nullptr;
    }
    if (hw->server != nullptr) {
        acl_vstream_close(hw->server);
        hw->server = nullptr;
    }
}

std::string connect_addr(const HTTP_HDR_REQ* req) {
    std::string host(req->host, strnlen(req->host, HTTP_WORKER_HOST_MAX - 1));
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (host.find(':') == std::string::npos) host += ":" + std::to_string(g_default_port.load());
    return host;
}

int fail(HTTP_WORKER* hw) {
    close_connection(hw);
    hw->worker.support_range = 0;
    return -1;
}

}  // namespace

void http_worker_set_default_port(int port) { g_default_port = port > 0 ? port : 80; }

STORE_WORKER* http_first_worker_create(STORE_CTRL_ENTRY* entry, ACL_VSTREAM* server, int64_t from) {
    if (server == nullptr) acl_msg_fatal("%s(%d): first_server null", __func__, __LINE__);
    auto* he = reinterpret_cast<HTTP_CTRL_ENTRY*>(entry);
    int64_t len = entry->content_length < 0 ? -1 : entry->content_length - from;
    STORE_WORKER* w = store_worker_alloc(entry, from, len, HTTP_WORKER_BUF, sizeof(HTTP_WORKER));
    HTTP_WORKER* hw = hw_of(w);
    hw->server = server;
    auto* prefetch = static_cast<HTTP_RES*>(server->context);
    server->context = nullptr;
    if (prefetch == nullptr)
        acl_msg_fatal("%s(%d): first_server without body reader", __func__, __LINE__);
    // Own header clone and own copy of the framing state: the job frees its reader.
    hw->res = http_hdr_res_clone(prefetch->hdr_res);
    hw->body = http_res_new(hw->res);
    *hw->body->body = *prefetch->body;
    if (he->hdr_req != nullptr) hw->tmpl_req = http_hdr_req_clone(he->hdr_req);
    w->support_range = entry->max_thread > 1;
    return w;
}

STORE_WORKER* http_worker_create(STORE_CTRL_ENTRY* entry, int64_t from, int64_t length) {
    auto* he = reinterpret_cast<HTTP_CTRL_ENTRY*>(entry);
    STORE_WORKER* w = store_worker_alloc(entry, from, length, HTTP_WORKER_BUF, sizeof(HTTP_WORKER));
    HTTP_WORKER* hw = hw_of(w);
    if (he->hdr_req != nullptr) hw->tmpl_req = http_hdr_req_clone(he->hdr_req);
    if (he->hdr_res != nullptr) hw->tmpl_res = http_hdr_res_clone(he->hdr_res);
    return w;
}

void http_worker_free(STORE_WORKER* worker) {
    HTTP_WORKER* hw = hw_of(worker);
    close_connection(hw);
    if (hw->req != nullptr) http_hdr_req_free(hw->req);
    if (hw->tmpl_req != nullptr) http_hdr_req_free(hw->tmpl_req);
    if (hw->tmpl_res != nullptr) http_hdr_res_free(hw->tmpl_res);
    store_worker_free(worker);
}

int http_worker_start(STORE_WORKER* worker) {
    HTTP_WORKER* hw = hw_of(worker);
    close_connection(hw);
    if (hw->req != nullptr) {
        http_hdr_req_free(hw->req);
        hw->req = nullptr;
    }
    if (hw->tmpl_req == nullptr) acl_msg_fatal("%s(%d): http_ctx null", __func__, __LINE__);
    STORE_CTRL_ENTRY* entry = worker->entry;
    hw->req = http_hdr_req_clone(hw->tmpl_req);
    int retry_cnt = 0;
    for (;;) {
        std::string addr = connect_addr(hw->req);
        hw->server = acl_vstream_connect_ex(addr.c_str(), ACL_BLOCKING, HTTP_WORKER_TIMEOUT,
                                            HTTP_WORKER_TIMEOUT, HTTP_WORKER_BUF);
        if (hw->server == nullptr) {
            acl_msg_error("%s(%d): connect server(%s) error", __func__, __LINE__, addr.c_str());
            return fail(hw);
        }
        if (entry->max_thread > 1) {
            char range[64];
            std::snprintf(range, sizeof(range), "bytes=%lld-%lld",
                          static_cast<long long>(worker->off_begin),
                          static_cast<long long>(worker->off_begin + worker->off_dlen - 1));
            http_hdr_entry_replace(&hw->req->hdr, "Range", range, 1);
        }
        std::string text;
        http_hdr_build_request(hw->req, text);
        if (acl_vstream_writen(hw->server, text.data(), text.size()) == ACL_VSTREAM_EOF)
            return fail(hw);
        hw->res = http_hdr_res_new();
        if (http_hdr_res_get_sync(hw->res, hw->server, HTTP_WORKER_TIMEOUT) != HTTP_CHAT_OK) {
            acl_msg_error("%s: get res hdr error", __func__);
            return fail(hw);
        }
        if (http_hdr_res_parse(hw->res) != 0) {
            acl_msg_error("%s: parse hdr_res error", __func__);
            return fail(hw);
        }
        int status = hw->res->reply_status;
        if (status >= 301 && status <= 399) {
            const char* location = http_hdr_entry_value(&hw->res->hdr, "Location");
            if (retry_cnt >= HTTP_WORKER_MAX_REDIRECT) {
                acl_msg_error("%s(%d): too many retry_cnt(%d)", __func__, __LINE__, retry_cnt);
                return fail(hw);
            }
            if (location == nullptr || *location == '\0') {
                acl_msg_error("%s: 302 reply with no Location", __func__);
                return fail(hw);
            }
            acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s(%d): Redirect to Location:%s", __func__,
                                                   __LINE__, location);
            HTTP_HDR_REQ* next = http_hdr_req_redirect(hw->req, location);
            if (next == nullptr) return fail(hw);
            http_hdr_req_free(hw->req);
            hw->req = next;
            close_connection(hw);
            retry_cnt++;
            continue;
        }
        if (status >= 401 && status <= 499) {
            if (entry->max_thread == 1) return fail(hw);
            // The server refuses ranges: the download goes on with one connection.
            entry->max_thread = 1;
            close_connection(hw);
            http_hdr_req_free(hw->req);
            hw->req = http_hdr_req_clone(hw->tmpl_req);
            continue;
        }
        if (status != 200 && status != 206) return fail(hw);
        if (entry->max_thread < 2) {
            worker->support_range = 0;
        } else if (http_support_range(hw->res, worker->off_begin,
                                      worker->off_begin + worker->off_dlen - 1)) {
            worker->support_range = 1;
        } else if (worker->support_range) {
            acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s(%d): stop this worker thread", __func__,
                                                   __LINE__);
            return fail(hw);
        }
        hw->body = http_res_new(hw->res);
        return 0;
    }
}

int http_worker_read(STORE_WORKER* worker, char* buf, int size) {
    HTTP_WORKER* hw = hw_of(worker);
    if (hw->body == nullptr || hw->server == nullptr) return -1;
    int n = http_res_body_get_sync2(hw->body, hw->server, buf, size);
    if (n < 1) {
        if (acl_do_debug(STORE_HTTP_DEBUG_SECTION, 3)) {
            if (hw->req != nullptr) http_hdr_print(&hw->req->hdr, "req_hdr");
            if (hw->res != nullptr) http_hdr_print(&hw->res->hdr, "test res hdr");
        }
        return -1;
    }
    return n;
}

int http_support_range(const HTTP_HDR_RES* res, int64_t from, int64_t to) {
    const char* value = http_hdr_entry_value(&res->hdr, "Content-Range");
    if (value == nullptr) return 0;
    char buf[256];
    std::snprintf(buf, sizeof(buf), "%s", value);
    if (strncasecmp(buf, "bytes", 5) != 0) return 0;
    const char* p = buf + 5;
    while (*p == ' ' || *p == '\t') p++;
    const char* dash = std::strchr(p, '-');
    if (dash == nullptr || dash == p) return 0;
    const char* slash = std::strchr(dash + 1, '/');
    if (slash == nullptr || slash == dash + 1) return 0;
    auto number = [](const char* b, const char* e, int64_t* out) {
        if (b == e) return false;
        int64_t v = 0;
        for (const char* c = b; c < e; c++) {
            if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
            v = v * 10 + (*c - '0');
        }
        *out = v;
        return true;
    };
    int64_t first = 0, last = 0;
    if (!number(p, dash, &first) || !number(dash + 1, slash, &last)) return 0;
    if (first != from) {
        acl_msg_warn("%s(%d): from(%lld) != off_from(%lld), buf(%s)", __func__, __LINE__,
                     static_cast<long long>(first), static_cast<long long>(from), buf);
        return 0;
    }
    if (last != to) {
        acl_msg_warn("%s(%d): to(%lld) != off_to(%lld), buf(%s)", __func__, __LINE__,
                     static_cast<long long>(last), static_cast<long long>(to), buf);
        return 0;
    }
    acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: ok, buf(%s)", __func__, buf);
    return 1;
}
