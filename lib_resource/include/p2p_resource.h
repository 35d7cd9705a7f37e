// The shared resource list: the videos this proxy has stored completely, the
// file "res_list.dat" that keeps them, their announcement to the P2P session
// server, the peers' range requests answered from the cache, the cache-space
// bookkeeping and the checks the acceleration path asks before storing a
// download.
//
// A resource is named by its id: a CRC-64 over the video's first bytes and
// its length (resource_id_build), so every peer storing the same video
// computes the same id. The list is keyed by the id in upper-case hex
// ("%I64X": no leading zeros).
//
// res_list.dat (next to the program, no header, records to the end of file,
// integers little-endian):
//     offset  width  field
//      0      16     id as upper-case hex ASCII, NUL padded
//     16       4     size (low 32 bits)
//     20       2     path length n, 1 to 260
//     22       n     file path, no terminator
// The caption is not stored. Loading lists a record under its id as printed
// above whatever form of hex its text has (so it saves back as it loaded),
// and skips a record whose id text is not hex. Every change rewrites the whole file through a
// temporary file in the same folder that is flushed and renamed over it, so a
// crash leaves the old list or the new one, never none.
//
// Lifecycle: p2p_client_init once at start-up; p2p_client_close tears the list,
// the filter and the session down (after it every operation refuses).
//
// Threads: the acceleration threads (add, checks), the session's threads (the
// data-request handler), the pipe reader (removal, close) and the disk-space
// job. Every access to the list holds res_lock; the ready message to the
// desktop program is sent under it too. The session lock is always taken
// before res_lock. disk_free_space, space_left, login_state and client_id are
// atomics read without the lock.
//
// Debug lines are written at section 73, level 2, unless a line names
// another section.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "p2p_session.h"

struct ACL_HTABLE;
struct ACL_WORKQ;
struct HTTP_HDR_REQ;
struct HTTP_HDR_RES;
struct NAMED_PIPE;
struct P2P_FILTER;

#define P2P_RESOURCE_DEBUG_SECTION 73
#define P2P_RESOURCE_PATH_MAX 260     // bytes of a path in res_list.dat
#define P2P_RESOURCE_ID_INPUT 102404  // bytes the id's CRC covers
#define P2P_RESOURCE_ID_SOURCE 102400
#define P2P_RESOURCE_LIST_FILE "res_list.dat"

// The video-site domain whose downloads are never stored in part or fetched
// over more than one connection: its servers answer ranges with whole files,
// so a download cut into ranges would store the file several times over.
#define P2P_RESOURCE_WHOLE_FILE_SITE "video.whole-file-site.example"

struct P2P_RESOURCE_ITEM {
    std::uint64_t id = 0;
    std::uint64_t size = 0;
    std::string file_path;
    std::string caption;  // empty for records read from res_list.dat
    bool has_caption = false;
};

struct P2P_CLIENT {
    std::string cache_path;
    std::uint64_t max_space = 0;
    std::atomic<std::uint32_t> client_id{0};
    NAMED_PIPE* pipe = nullptr;
    std::atomic<bool> pipe_ready{false};
    std::atomic<std::uint64_t> disk_free_space{0};
    std::atomic<std::uint64_t> space_left{0};
    P2P_FILTER* filter = nullptr;
    P2P_SESSION_CALLBACKS callbacks{};
    std::atomic<std::uint16_t> login_state{255};
    std::string app_dir;  // the program folder, ends with "/"
    ACL_HTABLE* res_table = nullptr;
    std::recursive_mutex res_lock;  // the pipe's "DEL" removes under the lock it holds
    std::atomic<bool> closed{false};
};

extern P2P_CLIENT g_client;

// What the service gives the resource module at start-up.
struct P2P_CLIENT_SERVICE {
    // Reads the configuration; calls _init_client and fills client_id,
    // space_left, app_dir and filter of g_client. 0, or -1.
    int (*read_config)(void* arg);
    // The session server's address and port (read by read_config).
    void (*session_server)(void* arg, std::string* ip, int* port);
    // Stores the space left (decimal text) as the registry value SpaceUsed.
    int (*save_space_left)(void* arg, const char* decimal);
    P2P_LOGIN_FN on_login;  // the login handler
    void* arg;
};

// Start-up: logs "p2p client init.", reads the configuration, loads the list,
// queues the disk-space job and the pipe reader on `wq`, and registers with
// the session server. The result of p2p_client_register.
int p2p_client_init(ACL_WORKQ* wq, P2P_DATA_RECEIVED_FN on_data_received,
                    const P2P_CLIENT_SERVICE* service);

// Sets up g_client: the cache folder, the quota (megabytes), the list, the
// pipe object, the callbacks; login_state 255. 0.
int _init_client(const char* cache_path, std::uint32_t max_space_mb,
                 P2P_DATA_RECEIVED_FN on_data_received);

// Init_Session with g_client's callbacks, then Session_Login(client_id).
int p2p_client_register(const char* ip, int port);

void p2p_client_close(void);

// After a stored download: records, saves and announces the video and tells
// the desktop program. -1 while not logged in (nothing changes), or when the
// session refused or the file could not be saved.
int resource_add(std::uint64_t id, const char* file_path, const char* caption, std::uint64_t size);

// Drops the record, saves the list and withdraws it at the server (when
// logged in). The caller holds res_lock. 0, or -1.
int p2p_resource_remove(std::uint64_t id);

// The id of a video from its first `n` bytes and its content length. 0, or -1
// for n <= 0 or content_len <= 0.
int resource_id_build(const char* src, int n, std::int64_t content_len, std::uint64_t* id);

// CRC-64 (Jones polynomial, reflected, initial all ones, no final XOR).
std::uint64_t resource_crc64(const void* data, std::size_t n);

// The key of an id in the list: upper-case hex without leading zeros.
std::string resource_key(std::uint64_t id);

bool resource_can_accelerate(const HTTP_HDR_REQ* req, const HTTP_HDR_RES* res);
bool resource_has_space(std::uint64_t size);
bool resource_can_part_save(const HTTP_HDR_REQ* req);
int resource_max_connections(const HTTP_HDR_REQ* req, const HTTP_HDR_RES* res);
void resource_get_cache_path(char* buf, std::size_t size);

// The data-request handler of the session: reads the requested range of a
// listed resource into `buf` (2,048 bytes). The bytes read, 0 when there is
// nothing to send (a listed resource whose file has gone is removed), -1 on
// a file error. A request longer than the buffer is refused with 0.
int _p2p_get_from_localrc(const P2P_DATA_REQUEST* req, char* buf, int size);

// The list file: load (0; -1 when it is missing or damaged, the records before
// the damage staying listed) and save (0, or -1).
int _load_resource_list(void);
int _save_resource_list(void);

// One disk-space check of `cache_path`: free space, then the bytes the folder
// uses (one pause per entry), space_left and SpaceUsed. 0, or -1.
int _check_disk_space(const char* cache_path);
// The pause after each entry of the walk (1,000 ms); a seam for tests.
void resource_set_walk_pause_ms(int ms);
// Where each check stores the space left (p2p_client_init sets the service's
// registry writer).
void resource_set_space_saver(int (*save)(void* arg, const char* decimal), void* arg);

// Records of the list (for tests and status).
int resource_count(void);
// A copy of the listed record for `id`; false when none (its file is not
// consulted).
bool resource_lookup(std::uint64_t id, P2P_RESOURCE_ITEM* out);
