#include "store/store_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acl_msg.h"
#include "store/store_msg_queue.h"

STORE_CLIENT* store_client_alloc(STORE_MSG_POOL* pool, const char* id, const char* path,
                                 int max_thread, int64_t content_length, const char* data,
                                 int64_t dlen, ACL_VSTREAM* server, std::size_t size) {
    if (size < sizeof(STORE_CLIENT))
        acl_msg_fatal("%s(%d): size(%d) too small", __func__, __LINE__, static_cast<int>(size));
    if (id == nullptr || path == nullptr)
        acl_msg_fatal("%s(%d): input invalid", __func__, __LINE__);
    auto* client = static_cast<STORE_CLIENT*>(std::calloc(1, size));
    if (client == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    store_ring_init(&client->ring);
    client->id = strdup(id);
    std::snprintf(client->path, sizeof(client->path), "%s", path);
    client->max_thread = max_thread;
    client->content_length = content_length;
    client->server = server;
    if (data != nullptr && dlen > 0) {
        client->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(dlen)));
        if (client->data == nullptr) acl_msg_fatal("%s(%d): malloc error", __func__, __LINE__);
        std::memcpy(client->data, data, static_cast<std::size_t>(dlen));
        client->dlen = dlen;
    }
    client->position = client->dlen;
    client->queue = store_msg_queue_alloc(pool);
    return client;
}

void store_client_free(STORE_CLIENT* client) {
    if (client == nullptr) return;
    std::free(client->id);
    std::free(client->data);
    if (client->queue != nullptr) store_msg_queue_release(client->queue);
    std::free(client);
}
