// store_client: what a browser thread hands the controller. The HTTP client
// (store_http/http_client.h) extends it by embedding it as its first field.
//
// Ownership: the browser thread owns the record. The controller reads and
// writes it only between the client's request and the controller's answer
// (the hand-over discipline of store_msg.h): it sets `entry`, opens and closes
// `fp`, sets `position` and `avail`, and links `ring` into the entry's ring of
// waiting clients. store_client_free frees the copies and gives the queue back;
// it closes neither stream (the read stream is closed by the controller at the
// client's quit; the server stream goes to a first worker or is closed by the
// controller).
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/store_ring.h"

#define STORE_PATH_MAX 1200  // bytes of a cache file path, NUL included

struct ACL_VSTREAM;
struct STORE_CTRL_ENTRY;
struct STORE_MSG_POOL;
struct STORE_MSG_QUEUE;

struct STORE_CLIENT {
    STORE_RING ring;            // link in the entry's waiting ring; first field
    STORE_CTRL_ENTRY* entry;    // set with MSG_CTRL_OPEN_OK
    ACL_VSTREAM* server;        // upstream still carrying the body, or null
    char* data;                 // copy of the prefetched first body bytes, or null
    int64_t dlen;               // their length (0 without data)
    char* id;                   // resource id, decimal text (the download's key)
    char path[STORE_PATH_MAX];  // final cache file path
    ACL_VSTREAM* fp;            // own read stream on the cache file
    STORE_MSG_QUEUE* queue;     // from the controller's pool
    int can_save;
    int part_save;
    int64_t content_length;  // -1 when unknown
    int max_thread;          // parallel connections wanted
    int64_t position;        // next byte to send; starts at the prefetched length
    int64_t avail;           // bytes offered beyond position
    int sync_stop;           // stop the workers as soon as no client is attached
    int waiting;             // in the entry's waiting ring
};

// A zeroed record of `size` bytes (ends the process with "%s(%d): size(%d) too
// small" below sizeof(STORE_CLIENT)) with copies of id, path (cut to
// STORE_PATH_MAX - 1) and data, and a queue from `pool`. Data with a length
// below 1 is not recorded. `position` starts at the recorded length.
STORE_CLIENT* store_client_alloc(STORE_MSG_POOL* pool, const char* id, const char* path,
                                 int max_thread, int64_t content_length, const char* data,
                                 int64_t dlen, ACL_VSTREAM* server, std::size_t size);

void store_client_free(STORE_CLIENT* client);
