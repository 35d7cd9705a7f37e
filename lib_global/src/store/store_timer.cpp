#include "store/store_timer.h"

#include <cstdlib>
#include <cstring>

#include "acl_msg.h"

STORE_TIMER_ITEM* store_timer_item_alloc(STORE_CTRL* ctrl, const char* key, STORE_TIMER_FN fn,
                                         std::size_t size) {
    if (size < sizeof(STORE_TIMER_ITEM))
        acl_msg_fatal("%s(%d): size(%d) too small (<%d)", __func__, __LINE__,
                      static_cast<int>(size), static_cast<int>(sizeof(STORE_TIMER_ITEM)));
    auto* item = static_cast<STORE_TIMER_ITEM*>(std::calloc(1, size));
    if (item == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    item->ctrl = ctrl;
    item->key = strdup(key != nullptr ? key : "");
    item->fn = fn;
    return item;
}

void store_timer_item_free(STORE_TIMER_ITEM* item) {
    if (item == nullptr) return;
    std::free(item->key);
    std::free(item);
}
