// NAMED_PIPE: the channel between the proxy and the desktop program, a pair
// of one-way pipes "\\HOST\PIPE\NAME_in" and "\\HOST\PIPE\NAME_out"
// (platform/named_pipe.h says where they live on Linux).
//
// The server (the desktop program, or a test playing it) creates both and
// reads NAME_in; the client (the proxy) opens both and reads NAME_out. A
// message is one write ending in its NUL, at most 1,024 bytes with it; a read
// takes at most 1,024 bytes as one message, so two messages may arrive as one
// and a longer one as several.
//
// The reader (named_pipe_listener_start) runs on a thread of its own and alone
// calls the callback. A failed read is logged at debug section 71, level 2;
// the client then reopens both pipes, and either side sleeps one second before
// it reads again. A message equal to the stop text ends the reader (after the
// callback saw it). Writes (named_pipe_send) come from any thread: a reopen
// replaces the handles under the channel's own lock, so a write may fail like
// any write to a broken channel but never uses a closed handle.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "platform/named_pipe.h"

#define NAMED_PIPE_DEBUG_SECTION 71
#define NAMED_PIPE_BUF_SIZE 1024
#define NAMED_PIPE_NAME_MAX 256  // bytes of a full pipe name with its suffix

struct NAMED_PIPE;

// Called with the channel, the bytes read, their count and the argument. A
// result below 0 ends the reader with -1.
typedef int (*NAMED_PIPE_ON_DATA)(NAMED_PIPE* pipe, const char* data, int len, void* arg);

struct NAMED_PIPE {
    std::string pipe_name;
    std::string host;
    std::string cmd_stop;
    bool is_server = false;
    std::string pipe_path;  // "\\" host "\PIPE\" pipe_name
    NAMED_PIPE_ON_DATA on_data_received = nullptr;
    void* arg = nullptr;
    platform::NamedPipe pipe_in;   // this side reads it
    platform::NamedPipe pipe_out;  // this side writes it
    std::mutex handles_mu;         // pipe_out against a concurrent reopen
    bool running = false;
};

// A new empty channel object, or null after "acl_mycalloc failed!".
NAMED_PIPE* named_pipe_create(void);
void named_pipe_free(NAMED_PIPE* pipe);

// Opens (client) or creates (server) the pipes, then reads until the stop
// message or a callback failure. 0 when the stop message ended it, -1 when the
// open failed ("_pipe_initial failed.") or the callback failed. `host` null
// means ".". Returns only when the reader ends.
int named_pipe_listener_start(NAMED_PIPE* pipe, bool is_server, const char* host,
                              const char* pipe_name, const char* cmd_stop,
                              NAMED_PIPE_ON_DATA on_data, void* arg);

// Opens or creates the pipes without reading (the server side of tests, and
// the reader's own first step). 0, or -1 after the log line.
int _pipe_initial(NAMED_PIPE* pipe, bool is_server, const char* host, const char* pipe_name,
                  const char* cmd_stop);

// One write of all `len` bytes to pipe_out. 0, or -1.
int named_pipe_send(NAMED_PIPE* pipe, const char* data, int len);

// Asks a running reader to end after its current read (tests).
void named_pipe_stop(NAMED_PIPE* pipe);
