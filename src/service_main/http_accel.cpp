// The acceleration decision, the job of a diverted exchange and the hand-off
// of a completed download to the shared resource list.
#include "http_accel.h"

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acl_msg.h"
#include "acl_vstream.h"
#include "acl_workq.h"
#include "http_chat_sync.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_res.h"
#include "p2p_resource.h"
#include "p2p_session.h"
#include "store/store_file.h"
#include "store_http/http_client.h"
#include "store_http/http_ctrl.h"

namespace {

struct ACCEL_SETTINGS {
    HTTP_CTRL* ctrl = nullptr;
    ACL_WORKQ* wq = nullptr;
    int http_max_threads = 1;
    HTTP_ACCEL_TITLE_FN title_fn = nullptr;
};

ACCEL_SETTINGS g_accel;  // written by http_accel_init before any hook runs

constexpr int kPrefetchPiece = 8192;

void free_arg(HTTP_ACCEL_ARG* arg) {
    if (arg->client != nullptr) acl_vstream_close(arg->client);
    if (arg->server != nullptr) acl_vstream_close(arg->server);
    if (arg->reader != nullptr) http_res_free(arg->reader);
    http_hdr_req_free(arg->hdr_req);
    http_hdr_res_free(arg->hdr_res);
    delete arg;
}

void close_server(HTTP_ACCEL_ARG* arg) {
    if (arg->server == nullptr) return;
    arg->server->context = nullptr;
    acl_vstream_close(arg->server);
    arg->server = nullptr;
}

// Step 1 of the job: the browser gets the server's header as it came, except
// that the body now reaches it unframed from the store.
int send_header(HTTP_ACCEL_ARG* arg) {
    http_hdr_entry_off(&arg->hdr_res->hdr, "Transfer-Encoding");
    std::string text;
    http_hdr_build(&arg->hdr_res->hdr, text);
    if (acl_vstream_writen(arg->client, text.data(), text.size()) == ACL_VSTREAM_EOF) {
        acl_msg_error("%s(%d): write header to client error", __func__, __LINE__);
        return -1;
    }
    return 0;
}

int connection_count(const HTTP_HDR_REQ* req, const HTTP_HDR_RES* res) {
    if (g_accel.http_max_threads <= 1) return 1;
    int n = resource_max_connections(req, res);
    return n > 1 ? std::min(n, g_accel.http_max_threads) : 1;
}

void accel_thread(int, ACL_WORKER_ATTR* attr) {
    http_accel_run(static_cast<HTTP_ACCEL_ARG*>(attr->job_arg));
}

}  // namespace

void http_accel_init(HTTP_CTRL* ctrl, ACL_WORKQ* wq, int http_max_threads,
                     HTTP_ACCEL_TITLE_FN title_fn) {
    if (ctrl == nullptr || wq == nullptr)
        acl_msg_fatal("%s(%d): ctrl or wq null", __func__, __LINE__);
    g_accel.ctrl = ctrl;
    g_accel.wq = wq;
    g_accel.http_max_threads = http_max_threads;
    g_accel.title_fn = title_fn;
}

int http_can_accel(const HTTP_HDR_REQ* hdr_req, const HTTP_HDR_RES* hdr_res) {
    acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)("%s(%d): url=http://%s/%s", __func__, __LINE__,
                                           hdr_req->host, hdr_req->url_part.c_str());
    int64_t length = hdr_res->hdr.content_length;
    if (length < HTTP_ACCEL_MIN_LENGTH) return 0;
    if (http_hdr_entry_value(&hdr_res->hdr, "Content-Type") == nullptr) return 0;
    if (http_hdr_entry_value(&hdr_req->hdr, "Range") != nullptr) return 0;
    acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)(
        "%s(%d): g_client.disk_free_space=%llu, hdr_res->hdr.content_length=%lld", __func__,
        __LINE__, static_cast<unsigned long long>(g_client.disk_free_space.load()),
        static_cast<long long>(length));
    return resource_has_space(static_cast<uint64_t>(length)) ? 1 : 0;
}

int http_accel_can_hook(HTTP_HDR_REQ* hdr_req, HTTP_HDR_RES* hdr_res) {
    if (acl_do_debug(HTTP_ACCEL_DEBUG_SECTION, 3)) {
        http_hdr_print(&hdr_req->hdr, "request");
        http_hdr_print(&hdr_res->hdr, "respond");
    }
    if (hdr_res->reply_status >= 301 && hdr_res->reply_status <= 499) return 0;
    if (strcasecmp(hdr_req->method, "HEAD") == 0) return 0;
    return http_can_accel(hdr_req, hdr_res);
}

void http_accel_hook(ACL_VSTREAM* client, ACL_VSTREAM* server, HTTP_HDR_REQ* hdr_req,
                     HTTP_HDR_RES* hdr_res) {
    auto* arg = new HTTP_ACCEL_ARG{client, server, hdr_req, hdr_res, nullptr};
    if (acl_workq_add(g_accel.wq, accel_thread, 0, arg) != 0) {
        acl_msg_error("%s(%d): add http_accel_thread error", __func__, __LINE__);
        free_arg(arg);
    }
}

void http_accel_run(HTTP_ACCEL_ARG* arg) {
    HTTP_HDR_REQ* req = arg->hdr_req;
    HTTP_HDR_RES* res = arg->hdr_res;
    if (send_header(arg) == 0) {
        int max_thread = connection_count(req, res);
        int64_t length = res->hdr.content_length;
        int can_save = resource_can_accelerate(req, res) &&
                       resource_has_space(static_cast<uint64_t>(std::max<int64_t>(length, 0)));
        int part_save = resource_can_part_save(req) ? 1 : 0;
        for (char* p = req->host; *p != '\0'; ++p)
            *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        int first_dlen = static_cast<int>(std::min(HTTP_ACCEL_FIRST_DLEN, HTTP_ACCEL_MIN_LENGTH));
        HTTP_CLIENT* client =
            http_client_new(g_accel.ctrl, arg, max_thread, first_dlen, HTTP_ACCEL_EXT);
        if (client != nullptr) {
            acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)("%s(%d): can_save(%d), is_flv(%d)", __func__,
                                                   __LINE__, can_save, client->is_flv);
            if (!can_save && client->is_flv) can_save = 1;
            int sync_stop = 1;
            acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)(
                "%s(%d): can_save(%d), part_save(%d), "
                "sync_stop(%d)",
                __func__, __LINE__, can_save, part_save, sync_stop);
            client->client.can_save = can_save;
            client->client.part_save = part_save;
            client->client.sync_stop = sync_stop;
            http_client_request(&g_accel.ctrl->ctrl, client);
            // The controller gave the upstream stream to a first worker or
            // closed it; either way it is no longer the job's.
            arg->server = nullptr;
            http_client_free(client);
        }
    }
    free_arg(arg);
}

int http_body_prepare(HTTP_ACCEL_ARG* arg, int first_dlen, std::string& buf) {
    if (arg->reader == nullptr) arg->reader = http_res_new(arg->hdr_res);
    buf.clear();
    char piece[kPrefetchPiece];
    while (static_cast<int>(buf.size()) < first_dlen) {
        int want = std::min<int>(sizeof(piece), first_dlen - static_cast<int>(buf.size()));
        int n = http_res_body_get_sync2(arg->reader, arg->server, piece, want);
        if (n <= 0) {
            acl_msg_error("%s(%d): get body error", __func__, __LINE__);
            close_server(arg);
            return -1;
        }
        buf.append(piece, static_cast<std::size_t>(n));
        if (acl_vstream_writen(arg->client, piece, static_cast<std::size_t>(n)) ==
            ACL_VSTREAM_EOF) {
            acl_msg_error("%s(%d): write to client error", __func__, __LINE__);
            close_server(arg);
            return -1;
        }
    }
    arg->server->context = arg->reader;
    return 0;
}

HTTP_CLIENT* http_client_new(HTTP_CTRL* ctrl, HTTP_ACCEL_ARG* arg, int max_thread, int first_dlen,
                             const char* ext) {
    HTTP_HDR_REQ* req = arg->hdr_req;
    HTTP_HDR_RES* res = arg->hdr_res;
    std::string url = std::string("http://") + req->host + req->url_part;
    acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)("%s(%d): current url(%s)", __func__, __LINE__,
                                           url.c_str());
    std::string prefetch;
    const char* input = nullptr;
    int input_len = 0;
    if (arg->server != nullptr) {
        if (first_dlen <= 0)
            acl_msg_fatal("%s(%d): first_dlen(%d) invalid", __func__, __LINE__, first_dlen);
        if (http_body_prepare(arg, first_dlen, prefetch) != 0) return nullptr;
        input = prefetch.data();
        input_len = static_cast<int>(prefetch.size());
    } else {
        acl_msg_warn("%s(%d): use url(%s) as id buf", __func__, __LINE__, url.c_str());
        input = url.data();
        input_len = static_cast<int>(url.size());
    }
    int64_t length = res->hdr.content_length;
    uint64_t id = 0;
    if (resource_id_build(input, input_len, length, &id) != 0) {
        acl_msg_error("%s(%d): resource_id_build error, first_dlen, len=%d", __func__, __LINE__,
                      input_len);
        close_server(arg);
        return nullptr;
    }
    char key[21];
    std::snprintf(key, sizeof(key), "%llu", static_cast<unsigned long long>(id));
    char path[STORE_PATH_MAX];
    if (store_file_path(path, sizeof(path), ctrl->cache_dir, key, ext) != 0) {
        acl_msg_error("%s(%d): cache file path too long, dir(%s)", __func__, __LINE__,
                      ctrl->cache_dir);
        close_server(arg);
        return nullptr;
    }
    HTTP_CLIENT* client = http_client_alloc(&ctrl->ctrl, key, path, max_thread, length,
                                            prefetch.data(), static_cast<int64_t>(prefetch.size()),
                                            arg->server, arg->client, req, res);
    client->caption[0] = '\0';
    if (g_accel.title_fn != nullptr) g_accel.title_fn(client->caption, sizeof(client->caption));
    client->is_flv =
        prefetch.empty() ? 0 : flv_head_ok(prefetch.data(), static_cast<int>(prefetch.size()));
    acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)("%s(%d): title(%s), url(%s)", __func__, __LINE__,
                                           client->caption, url.c_str());
    return client;
}

int flv_head_ok(const char* buf, int len) {
    if (len < HTTP_ACCEL_FLV_HEAD) {
        acl_msg_warn("%s(%d): len(%d) too small", __func__, __LINE__, len);
        return 0;
    }
    if (buf[0] != 'F' || buf[1] != 'L' || buf[2] != 'V') return 0;
    unsigned char flags = static_cast<unsigned char>(buf[4]);
    return flags == 1 || flags == 4 || flags == 5 ? 1 : 0;
}

void http_accel_add_resource(const HTTP_COMPLETION* rc) {
    uint64_t id = std::strtoull(rc->rc, nullptr, 10);
    Session_StopRc(id);
    acl_debug(HTTP_ACCEL_DEBUG_SECTION, 2)(
        "%s(%d): add resource, rc(%s), filepath(%s), caption(%s), content_length(%llu)", __func__,
        __LINE__, rc->rc, rc->path, rc->caption,
        static_cast<unsigned long long>(rc->content_length));
    if (resource_add(id, rc->path, rc->caption, rc->content_length) < 0) {
        acl_msg_error("%s(%d): resource_add error", __func__, __LINE__);
        return;
    }
    acl_msg_info(
        "%s(%d): resource_add ok, rc(%llu), content_length(%llu), filepath(%s), "
        "caption(%s)",
        __func__, __LINE__, static_cast<unsigned long long>(id),
        static_cast<unsigned long long>(rc->content_length), rc->path, rc->caption);
}
