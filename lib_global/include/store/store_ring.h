// store_ring: the intrusive doubly linked ring that holds an entry's workers
// (in order of creation) and its waiting clients.
//
// A ring head links to itself when empty. A member carries its link as its
// record's first field, so the record is found from the link by a cast.
// A link that is in no ring links to itself (or is zeroed, never linked yet).
#pragma once

struct STORE_RING {
    STORE_RING* prev;
    STORE_RING* next;
};

inline void store_ring_init(STORE_RING* ring) { ring->prev = ring->next = ring; }

inline bool store_ring_linked(const STORE_RING* item) {
    return item->next != nullptr && item->next != item;
}

// Puts `item` (not in any ring) at the tail of `ring`.
inline void store_ring_append(STORE_RING* ring, STORE_RING* item) {
    item->prev = ring->prev;
    item->next = ring;
    ring->prev->next = item;
    ring->prev = item;
}

// Takes `item` out of its ring; an unlinked item is left as it is.
inline void store_ring_detach(STORE_RING* item) {
    if (!store_ring_linked(item)) return;
    item->prev->next = item->next;
    item->next->prev = item->prev;
    store_ring_init(item);
}

inline int store_ring_size(const STORE_RING* ring) {
    int n = 0;
    for (const STORE_RING* p = ring->next; p != ring; p = p->next) n++;
    return n;
}
