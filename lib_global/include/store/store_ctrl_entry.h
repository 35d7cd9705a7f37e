// store_ctrl_entry: the controller's record of one resource being fetched into
// one cache file, and its range planner. The HTTP entry
// (store_http/http_ctrl_entry.h) extends it by embedding it as its first field.
//
// Everything here runs on the controller thread and does no input or output
// except the debug log (section STORE_DEBUG_SECTION).
//
// Lifetime. An entry lives from the first request for its id until it is
// freed by the controller's "try to free": only when no client is attached
// (`client_opens` 0) and no worker still holds it (`worker_holds` 0).
// `worker_holds` counts every worker made for the entry from its creation
// until the controller has answered its MSG_WORKER_QUIT with MSG_CTRL_BYE; a
// worker that failed to open or was told to stop has left the worker ring (and
// `worker_opens`) but still holds the entry, since it will still send its quit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "store/store_client.h"
#include "store/store_ring.h"

#define STORE_OFF_INC_MIN 512000   // shortest chunk limit of a multi-connection download
#define STORE_OFF_INC_MAX 2097152  // longest base chunk
#define STORE_SINGLE_MAX 512000    // lengths up to this use one connection
#define STORE_SLOW_WORKER 25600    // per-worker speed (bytes/s) below which the stop test runs
#define STORE_STOP_REST 3          // seconds after start / after a stop without stop tests
#define STORE_RANGES_HINT 10       // size hint of the downloaded set

struct ACL_VSTREAM;
struct STORE_CTRL;
struct STORE_RANGE_SET;
struct STORE_WORKER;

struct STORE_CTRL_ENTRY {
    STORE_CTRL* ctrl;
    STORE_RANGE_SET* ranges;  // bytes on disk
    STORE_RING workers;       // open workers, in order of creation
    STORE_RING waiters;       // clients parked until more data is on disk
    int client_opens;         // attached clients
    int worker_opens;         // open HTTP workers (P2P workers are not counted)
    int complete;
    int next_worker_id;
    int64_t off_inc;          // base chunk size
    int64_t chunk_max;        // longest range the planner hands out ("min", "*pdlen")
    int64_t http_bytes;       // written by HTTP workers, prefetched bytes included
    int64_t http_bytes_last;  // at the last speed computation
    int64_t cur_speed;        // bytes per second
    int64_t avr_speed;
    time_t start_time;
    time_t stop_time;  // last worker stop by the planner
    time_t stat_time;  // last trailer save
    int sync_stop;
    char* id;
    char path[STORE_PATH_MAX];       // final path
    char part_path[STORE_PATH_MAX];  // working path (final path + ".part" while incomplete)
    ACL_VSTREAM* fp;                 // download stream on the working file
    int max_thread;
    int worker_limit;        // HTTP workers that may be open at once
    int rest_count;          // rest slots taken from the limit by servers refusing ranges
    int created;             // HTTP workers created so far
    int growth;              // growth factor of the chunk limit
    int64_t content_length;  // -1 when unknown
    int64_t first_dlen;
    int can_save;
    int part_save;
    int worker_holds;  // workers not yet answered MSG_CTRL_BYE (see Lifetime)
};

// A zeroed record of `size` bytes (ends the process with "%s(%d): size(%d) too
// small" below sizeof(STORE_CTRL_ENTRY)) initialised by store_ctrl_entry_init.
STORE_CTRL_ENTRY* store_ctrl_entry_alloc(STORE_CTRL* ctrl, STORE_CLIENT* client, std::size_t size);

// Initialises from the first client and enters the entry in the controller's
// table under its id. A content length of 0 ends the process ("%s(%d):
// content_length(%d) invalid"), as does a table refusing the id ("%s(%d):
// enter htable error").
void store_ctrl_entry_init(STORE_CTRL* ctrl, STORE_CTRL_ENTRY* entry, STORE_CLIENT* client);

// Frees the entry through the controller's ctrl_entry_free operation ("%s(%d):
// ctrl_entry_free null" without one).
void store_ctrl_entry_free(STORE_CTRL_ENTRY* entry);

// Frees the generic part's members (range set, id, download stream); not the
// record. Called by every ctrl_entry_free operation.
void store_ctrl_entry_clean(STORE_CTRL_ENTRY* entry);

// Counts a new HTTP worker: tail of the ring, start time, worker_opens and
// created + 1, and one hold. For a worker made by worker_create (`planned`),
// when worker_opens is then below max_thread, the chunk limit is reset to
// off_inc (at least STORE_OFF_INC_MIN) and the growth factor to 1.
void store_ctrl_entry_count_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker, int planned);

// Counts a P2P worker: tail of the ring, start time and one hold only.
void store_ctrl_entry_count_p2p_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker);

// Takes the worker out of the ring; worker_opens - 1 unless P2P ("%s(%d):
// worker_opens(%d) < 0" ends the process). A worker already out of the ring is
// left as it is, so the open-failure handler and the later quit may both call it.
void store_ctrl_entry_detach_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker);

// The worker's quit has been answered: it no longer holds the entry.
void store_ctrl_entry_release_worker(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker);

// The next range for an HTTP worker: the first gap of the planned set (every
// open worker's claim plus the downloaded ranges), cut to the chunk limit.
// With an unknown length: from 0, dlen -1. The caller starts a worker only when
// *from is below the content length.
void store_ctrl_entry_position(STORE_CTRL_ENTRY* entry, int64_t* from, int64_t* dlen);

// Chunk size from the measured speed, when a worker is open, the speed is not
// 0 and the first downloaded range reaches STORE_FIRST_CLAIM bytes.
void store_ctrl_entry_chunk_from_speed(STORE_CTRL_ENTRY* entry);

// Chunk size after a resume, from the bytes still missing.
void store_ctrl_entry_upstat(STORE_CTRL_ENTRY* entry);

// 1 when the worker (asked after each chunk of a savable download) runs so far
// ahead of the contiguous prefix that it should stop; its range is then cut at
// its position. Else 0.
int store_ctrl_entry_worker_if_stop(STORE_CTRL_ENTRY* entry, STORE_WORKER* worker);

// Speeds: when at least one second has passed since the controller's last
// computation, the controller's total speed and this entry's current and
// average speeds. 1 when computed, else 0.
int store_ctrl_entry_speed(STORE_CTRL_ENTRY* entry);

// Bytes recorded as downloaded, and the first downloaded range's end (-1
// without one).
int64_t store_ctrl_entry_downloaded(const STORE_CTRL_ENTRY* entry);
int64_t store_ctrl_entry_prefix_end(const STORE_CTRL_ENTRY* entry);

// Whether the downloaded set covers a known positive content length.
int store_ctrl_entry_covered(const STORE_CTRL_ENTRY* entry);
