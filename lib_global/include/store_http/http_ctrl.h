// http_ctrl: the HTTP controller, the only kind of store controller the
// service makes. It fills the controller's operations with the HTTP entry
// (http_ctrl_entry.h), the HTTP workers (http_worker.h) and the completion
// hand-off, and keeps the cache folder and the logging server's address.
//
// Threads: every browser client and every worker holds one thread of the
// work queue for its whole life, and the controller loop one more. When
// clients plus workers reach the queue's thread limit (100 in the service),
// further jobs wait in the queue's FIFO until a thread comes free: a waiting
// client or worker starts late but runs its whole conversation then.
//
// P2P: the worker hook is where the P2P worker will plug in; until then it
// handles nothing and every worker message goes to the generic table.
#pragma once

#include <cstdint>
#include <ctime>

#include "store/store_client.h"
#include "store/store_ctrl.h"
#include "store_http/http_ctrl_entry.h"

#define HTTP_CTRL_DIR_MAX 1025  // cache folder, NUL included
#define HTTP_CTRL_ADDR_MAX 257  // "ip:port" of the logging server, NUL included
#define HTTP_CTRL_DEFAULT_DIR "C:\\Program Files\\VoZadered\\accelerator\\cache"

struct HTTP_CTRL;

// What the hand-off job knows of a completed download; the entry is freed
// before the job runs, so everything is copied.
struct HTTP_COMPLETION {
    HTTP_CTRL* ctrl;
    unsigned uid;
    char rc[21];  // resource id, decimal text
    char path[STORE_PATH_MAX];
    char caption[HTTP_CAPTION_MAX];
    uint64_t content_length;
    uint64_t http_len;
    uint64_t p2p_len;
    unsigned http_avr_speed, http_cur_speed, p2p_avr_speed, p2p_cur_speed;
};

// Called by the hand-off job (on a work-queue thread) after the statistics
// debug lines and before the statistics line is sent: where the service
// makes the finished file a shared resource. The record stays the job's.
typedef void (*HTTP_CTRL_RC_FN)(const HTTP_COMPLETION* rc);

struct HTTP_CTRL {
    STORE_CTRL ctrl;  // first field
    char cache_dir[HTTP_CTRL_DIR_MAX];
    unsigned uid;  // client id of this installation, 0 until known
    int use_p2p;
    int p2p_ok;
    char logsvr_addr[HTTP_CTRL_ADDR_MAX];
    time_t ctime;
    int64_t p2p_total;
    int64_t p2p_speed;
    HTTP_CTRL_RC_FN on_resource;  // null: only the statistics line is sent
};

// The controller with the HTTP operations. A null or empty cache folder is
// HTTP_CTRL_DEFAULT_DIR (made a path by the platform rule when used). The P2P
// range client is not set up yet: p2p_ok stays 0.
HTTP_CTRL* http_ctrl_create(ACL_WORKQ* wq, const char* cache_dir, const char* session_ip,
                            int session_port);

// The logging server's address, "%s:%d".
void http_ctrl_set_logger(HTTP_CTRL* ctrl, const char* ip, int port);

// Sets the hook of the completed download's hand-off; before the loop starts.
void http_ctrl_set_rc_hook(HTTP_CTRL* ctrl, HTTP_CTRL_RC_FN fn);

// Sends one statistics line to the controller's logging server (see
// store_logger_write). 0 or -1.
int http_logger_write(HTTP_CTRL* ctrl, const char* line);

// Frees the controller (tests): its loop must have ended, every entry and
// every hand-off job be done.
void http_ctrl_free(HTTP_CTRL* ctrl);
