#include "store/store_msg.h"

#include <cstdlib>

#include "acl_msg.h"

STORE_MSG* store_msg_new(int owner, int type, void* data, STORE_MSG_FREE_FN free_fn,
                         std::size_t size) {
    if (size < sizeof(STORE_MSG))
        acl_msg_fatal("%s(%d): size(%d) too small", __func__, __LINE__, static_cast<int>(size));
    auto* msg = static_cast<STORE_MSG*>(std::calloc(1, size));
    if (msg == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    msg->type = type;
    msg->owner = owner;
    msg->free_fn = free_fn;
    msg->data = data;
    return msg;
}

STORE_MSG* store_msg_ctrl(int type, void* data) {
    return store_msg_new(STORE_MSG_OWNER_CTRL, type, data, nullptr, sizeof(STORE_MSG));
}

STORE_MSG* store_msg_client(int type, void* data) {
    return store_msg_new(STORE_MSG_OWNER_CLIENT, type, data, nullptr, sizeof(STORE_MSG));
}

STORE_MSG* store_msg_worker(int type, void* data) {
    return store_msg_new(STORE_MSG_OWNER_WORKER, type, data, nullptr, sizeof(STORE_MSG));
}

void store_msg_free(STORE_MSG* msg) {
    if (msg == nullptr) return;
    if (msg->free_fn != nullptr && msg->data != nullptr) msg->free_fn(msg->data);
    std::free(msg);
}

void store_msg_check_ctx(const STORE_MSG* msg, const void* self, const char* func, int line) {
    if (msg->data != self) acl_msg_fatal("%s(%d): msg_ctx invalid", func, line);
}
