#include "p2p_resource.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "acl_htable.h"
#include "acl_msg.h"
#include "acl_workq.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "localres_protocal.h"
#include "named_pipe.h"
#include "p2p_filter.h"
#include "platform/file.h"
#include "resource_list.h"

P2P_CLIENT g_client;

#define res_debug acl_debug(P2P_RESOURCE_DEBUG_SECTION, 2)

namespace {

constexpr int kListBuckets = 20;

void free_item(void* value) { delete static_cast<P2P_RESOURCE_ITEM*>(value); }

// The pipe job: the reader runs for the life of the channel.
void pipe_job(int, ACL_WORKER_ATTR*) {
    if (g_client.pipe == nullptr) return;
    g_client.pipe_ready = true;
    if (local_res_server_start(g_client.pipe) != 0) g_client.pipe_ready = false;
}

}  // namespace

// Declared in disk_space.cpp.
void resource_disk_space_job(int event_type, ACL_WORKER_ATTR* worker);

bool resource_list_enter(const char* key, P2P_RESOURCE_ITEM* item) {
    return acl_htable_enter(g_client.res_table, key, item) != nullptr;
}

int _init_client(const char* cache_path, std::uint32_t max_space_mb,
                 P2P_DATA_RECEIVED_FN on_data_received) {
    if (cache_path == nullptr)
        acl_msg_fatal("%s(%d): acl_mystrdup cache_path failed.", __func__, __LINE__);
    g_client.cache_path = cache_path;
    if (g_client.res_table != nullptr) acl_htable_free(g_client.res_table, free_item);
    g_client.res_table = acl_htable_create(kListBuckets, 0);
    if (g_client.res_table == nullptr)
        acl_msg_fatal("%s(%d): create resource list hash table failed.", __func__, __LINE__);
    if (g_client.pipe == nullptr) g_client.pipe = named_pipe_create();
    if (g_client.pipe == nullptr)
        acl_msg_error("%s(%d): create named pipe failed.", __func__, __LINE__);
    g_client.pipe_ready = false;
    g_client.client_id = 0;
    g_client.max_space = static_cast<std::uint64_t>(max_space_mb) * 1048576ULL;
    g_client.login_state = 255;
    g_client.closed = false;
    g_client.callbacks.on_data_request = _p2p_get_from_localrc;
    g_client.callbacks.on_data_received = on_data_received;
    return 0;
}

int p2p_client_init(ACL_WORKQ* wq, P2P_DATA_RECEIVED_FN on_data_received,
                    const P2P_CLIENT_SERVICE* service) {
    acl_msg_error("%s(%d): p2p client init.", __func__, __LINE__);
    if (wq == nullptr) acl_msg_fatal("%s(%d): wq is null!", __func__, __LINE__);
    if (service == nullptr) acl_msg_fatal("%s(%d): service is null!", __func__, __LINE__);
    g_client.callbacks.on_data_received = on_data_received;
    g_client.callbacks.on_login = service->on_login;
    service->read_config(service->arg);
    // read_config ran _init_client, which filled the two others.
    g_client.callbacks.on_login = service->on_login;
    resource_set_space_saver(service->save_space_left, service->arg);

    {
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        _load_resource_list();
    }
    acl_workq_add(wq, resource_disk_space_job, 0, nullptr);
    acl_workq_add(wq, pipe_job, 0, nullptr);

    std::string ip;
    int port = 0;
    service->session_server(service->arg, &ip, &port);
    return p2p_client_register(ip.c_str(), port);
}

int p2p_client_register(const char* ip, int port) {
    int ret = Init_Session(ip, port, &g_client.callbacks);
    if (ret != 0) {
        acl_msg_error("%s(%d): P2P Invoke Init_Session error! error id (%d)", __func__, __LINE__,
                      ret);
        return -1;
    }
    Session_Login(g_client.client_id);
    return 0;
}

void p2p_client_close(void) {
    {
        std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
        if (g_client.closed.exchange(true)) return;
        g_client.cache_path.clear();
        if (g_client.res_table != nullptr) acl_htable_free(g_client.res_table, free_item);
        g_client.res_table = nullptr;
        if (g_client.filter != nullptr) p2p_filter_free(g_client.filter);
        g_client.filter = nullptr;
    }
    // The session's handlers take res_lock under the session lock: close the
    // session without holding it.
    Session_Close();
}

int resource_add(std::uint64_t id, const char* file_path, const char* caption, std::uint64_t size) {
    if (g_client.login_state != 0) {
        res_debug("%s(%d): p2p client did not login yet!", __func__, __LINE__);
        return -1;
    }
    if (file_path == nullptr || caption == nullptr)
        acl_msg_fatal("%s(%d): invalid file path or caption.", __func__, __LINE__);
    // res_list.dat holds 1 to 260 bytes of path: a record outside that would
    // make the file unreadable from it on.
    const std::size_t path_len = std::strlen(file_path);
    if (path_len == 0 || path_len > P2P_RESOURCE_PATH_MAX) {
        acl_msg_error("%s(%d): invalid file path size %d", __func__, __LINE__,
                      static_cast<int>(path_len));
        return -1;
    }
    const std::string key = resource_key(id);
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (g_client.closed) return -1;

    auto* item = new P2P_RESOURCE_ITEM;
    item->id = id;
    item->size = size;
    item->file_path = file_path;
    item->caption = caption;
    item->has_caption = true;

    res_debug("%s(%d): before add source to p2p server. Will invoke Session_ModifyRc!", __func__,
              __LINE__);
    int ret = Session_ModifyRc(id, 1);
    if (ret != 0) {
        acl_msg_error("%s(%d): P2P Invoke can not add resource (%llu) to server! error id (%d)",
                      __func__, __LINE__, static_cast<unsigned long long>(id), ret);
        delete item;
        return -1;
    }
    res_debug("%s(%d): Session_ModifyRc success add resource (%llu) to server!", __func__, __LINE__,
              static_cast<unsigned long long>(id));

    const std::string path = item->file_path;
    const std::string title = item->caption;
    if (!resource_list_enter(key.c_str(), item)) delete item;  // the old record stays
    if (_save_resource_list() != 0) {
        acl_msg_error("%s(%d): can not save resource list to local!", __func__, __LINE__);
        return -1;
    }
    if (g_client.pipe_ready && g_client.pipe != nullptr) {
        acl_msg_info("%s(%d): resource is added. starting send RES_READY message.", __func__,
                     __LINE__);
        if (local_res_ready(g_client.pipe, path.c_str(), title.c_str()) != 0)
            acl_msg_warn("%s(%d): send res_ready message failed!", __func__, __LINE__);
    }
    return 0;
}

int p2p_resource_remove(std::uint64_t id) {
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (g_client.res_table == nullptr) return -1;
    const std::string key = resource_key(id);
    if (acl_htable_delete(g_client.res_table, key.c_str(), free_item) != 0) {
        acl_msg_error("%s(%d): can not delete resource from local resource list!", __func__,
                      __LINE__);
        return -1;
    }
    if (_save_resource_list() != 0) {
        acl_msg_error("%s(%d): can not save resource list to local!", __func__, __LINE__);
        return -1;
    }
    if (g_client.login_state != 0) {
        acl_msg_error("%s(%d): p2p client did not login yet!", __func__, __LINE__);
        return -1;
    }
    int ret = Session_ModifyRc(id, 0);
    if (ret != 0) {
        acl_msg_error(
            "%s(%d): P2P Invoke can not delete resource (%llu) from server! error id (%d)",
            __func__, __LINE__, static_cast<unsigned long long>(id), ret);
        return -1;
    }
    return 0;
}

namespace {

// The record for `id` when its file still exists; the caller holds res_lock.
const P2P_RESOURCE_ITEM* find_resource(std::uint64_t id) {
    if (g_client.res_table == nullptr) return nullptr;
    const std::string key = resource_key(id);
    auto* item =
        static_cast<const P2P_RESOURCE_ITEM*>(acl_htable_find(g_client.res_table, key.c_str()));
    if (item == nullptr || platform::file_size(item->file_path.c_str()) < 0) return nullptr;
    return item;
}

}  // namespace

int _p2p_get_from_localrc(const P2P_DATA_REQUEST* req, char* buf, int size) {
    if (g_client.login_state != 0) return 0;
    const unsigned long long rid = static_cast<unsigned long long>(req->rid);
    res_debug("%s(%d): request rc id is %llu", __func__, __LINE__, rid);
    // The buffer is the limit: never read more than it holds.
    if (req->length == 0 || req->length > static_cast<std::uint64_t>(size)) return 0;
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    const P2P_RESOURCE_ITEM* item = find_resource(req->rid);
    if (item == nullptr) {
        res_debug("%s(%d): request rc id(%llu) not found from local. should remove from server.",
                  __func__, __LINE__, rid);
        if (g_client.res_table != nullptr &&
            acl_htable_find(g_client.res_table, resource_key(req->rid).c_str()) != nullptr)
            p2p_resource_remove(req->rid);
        acl_debug(31, 2)("%s(%d): request rc id(%llu) not found from local. removed from server.",
                         __func__, __LINE__, rid);
        return 0;
    }
    res_debug("%s(%d): request rc id(%llu) has been found from local. file path is '%s'.", __func__,
              __LINE__, rid, item->file_path.c_str());
    std::FILE* fp = std::fopen(item->file_path.c_str(), "rb");
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__,
                      item->file_path.c_str(), std::strerror(errno));
        return -1;
    }
    if (fseeko(fp, static_cast<off_t>(req->offset), SEEK_SET) != 0) {
        acl_msg_error("%s(%d): seek to resource file failed.", __func__, __LINE__);
        std::fclose(fp);
        return -1;
    }
    std::size_t n = std::fread(buf, 1, req->length, fp);
    std::fclose(fp);
    if (n != req->length) {
        acl_msg_error("%s(%d): read from resource failed.", __func__, __LINE__);
        return -1;
    }
    res_debug("%s(%d): request rc id(%llu) . file path is '%s'.", __func__, __LINE__, rid,
              item->file_path.c_str());
    return static_cast<int>(n);
}

namespace {

bool contains_site(const char* text) {
    return text != nullptr && std::strstr(text, P2P_RESOURCE_WHOLE_FILE_SITE) != nullptr;
}

bool is_whole_file_site(const HTTP_HDR_REQ* req) {
    return contains_site(req->host) || contains_site(http_hdr_entry_value(&req->hdr, "Server"));
}

}  // namespace

bool resource_can_accelerate(const HTTP_HDR_REQ* req, const HTTP_HDR_RES* res) {
    if (req == nullptr) acl_msg_fatal("%s(%d): hdr_req is null.", __func__, __LINE__);
    if (res == nullptr) acl_msg_fatal("%s(%d): hdr_res is null.", __func__, __LINE__);
    std::int64_t len = res->hdr.content_length;
    if (len >= 0 && g_client.disk_free_space.load() <= static_cast<std::uint64_t>(len)) {
        acl_msg_info("%s(%d): disk space is full.", __func__, __LINE__);
        return false;
    }
    char url[1024];
    std::snprintf(url, sizeof(url), "http://%s%s", req->host, req->url_part.c_str());
    for (char* p = url; *p; p++)
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    const char* type = http_hdr_entry_value(&res->hdr, "Content-Type");
    if (type == nullptr || g_client.filter == nullptr) return false;
    int ret = p2p_filter_check(g_client.filter, url, type);
    if (ret < 0) {
        acl_msg_error("%s, %s(%d): p2p_filter_check error.", __FILE__, __func__, __LINE__);
        return false;
    }
    if (ret == 0) {
        acl_msg_info("%s(%d): is not a p2p resource.", __func__, __LINE__);
        return false;
    }
    return true;
}

bool resource_has_space(std::uint64_t size) {
    return size < g_client.space_left.load() && size < g_client.disk_free_space.load();
}

bool resource_can_part_save(const HTTP_HDR_REQ* req) {
    if (is_whole_file_site(req)) {
        acl_msg_info("%s(%d): Can not part save.", __func__, __LINE__);
        return false;
    }
    acl_msg_info("%s(%d): Can part save.", __func__, __LINE__);
    return true;
}

int resource_max_connections(const HTTP_HDR_REQ* req, const HTTP_HDR_RES* res) {
    int n = http_hdr_entry_value(&res->hdr, "Transfer-Encoding") == nullptr ? 5 : 1;
    const char* ranges = http_hdr_entry_value(&res->hdr, "Accept-Ranges");
    if (ranges == nullptr || strcasecmp(ranges, "bytes") != 0) n = 1;
    if (is_whole_file_site(req)) {
        http_hdr_print(&req->hdr, "request");
        http_hdr_print(&res->hdr, "respond");
        n = 1;
    }
    return n;
}

void resource_get_cache_path(char* buf, std::size_t size) {
    if (buf == nullptr) acl_msg_fatal("%s(%d): param cache_path is null.", __func__, __LINE__);
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (size <= g_client.cache_path.size())
        acl_msg_fatal("%s(%d): param cache_path size is too small.", __func__, __LINE__);
    std::memcpy(buf, g_client.cache_path.c_str(), g_client.cache_path.size() + 1);
}

int resource_count(void) {
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    return g_client.res_table != nullptr ? acl_htable_used(g_client.res_table) : 0;
}

bool resource_lookup(std::uint64_t id, P2P_RESOURCE_ITEM* out) {
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (g_client.res_table == nullptr) return false;
    auto* item = static_cast<const P2P_RESOURCE_ITEM*>(
        acl_htable_find(g_client.res_table, resource_key(id).c_str()));
    if (item == nullptr) return false;
    *out = *item;
    return true;
}
