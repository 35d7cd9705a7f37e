// store_timer: a controller timer. The item finds its entry again by the
// entry's id when it fires, so an entry freed in between is simply not found.
// Items may be extended (a larger record carries more after these fields).
//
// Ownership: the controller's timer list holds an item until it fires; the
// controller frees it (store_timer_item_free) after its callback has run.
#pragma once

#include <cstddef>

struct STORE_CTRL;
struct STORE_TIMER_ITEM;

typedef void (*STORE_TIMER_FN)(STORE_TIMER_ITEM* item);

struct STORE_TIMER_ITEM {
    STORE_CTRL* ctrl;
    char* key;  // private copy of the entry's id
    STORE_TIMER_FN fn;
};

// A zeroed record of `size` bytes; ends the process with "%s(%d): size(%d) too
// small (<%d)" below sizeof(STORE_TIMER_ITEM).
STORE_TIMER_ITEM* store_timer_item_alloc(STORE_CTRL* ctrl, const char* key, STORE_TIMER_FN fn,
                                         std::size_t size);

void store_timer_item_free(STORE_TIMER_ITEM* item);
