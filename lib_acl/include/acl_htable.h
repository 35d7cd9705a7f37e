// acl_htable: a hash table from text keys to pointer values.
//
// Keys are compared byte for byte (callers that want case-blind keys fold the
// case before they enter or look up). A key is entered once: entering it again
// is refused and the first value stays.
//
// Lifecycle:
//   - the table copies each key; the caller's key buffer may change at once.
//   - a value is owned by the caller until acl_htable_enter succeeds; from then
//     on the entry holds it until acl_htable_delete or acl_htable_free, which
//     hand it to their `free_fn` (when given; null leaves it to the caller).
//     When acl_htable_enter refuses a key the value was not taken.
//   - ACL_HTABLE_INFO records stay valid until their entry is deleted or the
//     table is freed; entering other keys does not move them.
//
// Threads: the table is not thread-safe unless created with
// ACL_HTABLE_FLAG_USE_LOCK; then every call takes a read/write lock (shared for
// find, walk and counts, exclusive for enter and delete). A walk's callback must
// not enter or delete on the same table.
#pragma once

#define ACL_HTABLE_FLAG_USE_LOCK 0x1  // guard every call with the table's read/write lock

struct ACL_HTABLE;  // opaque: the buckets, the entry count, the optional lock

// One entry as the table keeps it.
struct ACL_HTABLE_INFO {
    const char* key;  // the table's own copy
    void* value;
};

typedef void (*ACL_HTABLE_FREE_FN)(void* value);
typedef void (*ACL_HTABLE_WALK_FN)(ACL_HTABLE_INFO* info, void* arg);

// A table sized for about `size` entries (below 1: a small default); it grows
// on its own. `flags`: 0 or ACL_HTABLE_FLAG_USE_LOCK. Ends the process when it
// cannot be allocated.
ACL_HTABLE* acl_htable_create(int size, unsigned int flags);

// Enters a copy of `key` with `value`. Returns the new entry, or null when the
// key is already there (warning "%s(%d): duplex key(%s) exist") or the lock
// failed.
ACL_HTABLE_INFO* acl_htable_enter(ACL_HTABLE* table, const char* key, void* value);

// The value entered under `key`, or null.
void* acl_htable_find(ACL_HTABLE* table, const char* key);

// The entry under `key`, or null.
ACL_HTABLE_INFO* acl_htable_locate(ACL_HTABLE* table, const char* key);

// Removes the entry under `key`, handing its value to `free_fn` (may be null).
// Returns 0, or -1 when the key is not there or the lock failed.
int acl_htable_delete(ACL_HTABLE* table, const char* key, ACL_HTABLE_FREE_FN free_fn);

// Calls `walk_fn(info, arg)` for every entry, in no particular order.
void acl_htable_walk(ACL_HTABLE* table, ACL_HTABLE_WALK_FN walk_fn, void* arg);

// Entries in the table.
int acl_htable_used(ACL_HTABLE* table);

// Frees the table and every key; `free_fn` (may be null) gets every value.
void acl_htable_free(ACL_HTABLE* table, ACL_HTABLE_FREE_FN free_fn);
