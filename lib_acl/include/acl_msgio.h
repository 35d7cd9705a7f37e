// acl_msgio: a typed message channel into an event loop over loopback TCP.
//
// The receiving side listens on 127.0.0.1 (acl_msgio_listen) and registers
// handlers per message type; senders on any thread write messages:
//
//   offset  size  field
//   0       4     message type, unsigned 32-bit, little-endian
//   4       4     body length, signed 32-bit, little-endian
//   8       len   body, opaque
//
// Kinds of channel: a listener; a connection its listener accepted (its
// messages go to the listener's handlers); a client connected to a listener,
// asynchronous on an aio loop or blocking without one; the two ends of a
// private pair (acl_msgio_pair), which no other process can reach.
//
// Size of a message: at most ACL_MSGIO_BODY_MAX bytes of body, or the bound
// set for its type (acl_msgio_limit); a channel with bounds refuses types
// without one. A message past its bound closes the connection.
//
// Dispatch of one message: the handlers registered on the channel (for an
// accepted connection: on its listener) for the type, in registration order,
// then those registered on the process-wide channel (acl_msgio_init). A
// handler's negative result closes that connection only.
//
// Threads and lifecycle:
//   - handlers run on the thread of the aio loop the channel is registered
//     with; register handlers on that thread (or before its loop runs);
//   - any thread may send on a channel; senders on other threads serialise
//     their writes to one connection themselves, and a connection is written
//     either only by its loop thread or only by other threads. On its loop
//     thread a send is queued on the loop and never blocks it; elsewhere it
//     blocks until the message is written;
//   - a sender on another thread must know the channel is still open: an
//     asynchronous channel is freed by its loop when its peer closes it (after
//     "%s: close it now") or after acl_msgio_close, once the close has run;
//   - the listener lives until acl_msgio_close; connections it accepted keep
//     its handlers working after it is gone.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "acl_aio.h"

#define ACL_MSGIO_TYPE_CLIENT 0  // connected client
#define ACL_MSGIO_TYPE_ACCEPT 1  // server side of a connection accepted by a listener
#define ACL_MSGIO_TYPE_LISTEN 2  // listener

#define ACL_MSGIO_HDR_LEN 8                  // header bytes
#define ACL_MSGIO_ADDR_MAX 256               // address text, NUL included
#define ACL_MSGIO_LISTEN_ADDR "127.0.0.1:0"  // where acl_msgio_listen listens
#define ACL_MSGIO_BACKLOG 128
#define ACL_MSGIO_SEND_TIMEOUT 10  // connect limit of a send through a listener, seconds
#define ACL_MSGIO_BODY_MAX \
    (64 * 1024 * 1024)  // longest body accepted; longer closes the connection

struct ACL_MSGIO;

// One received message. `body` holds `dlen` bytes followed by a NUL; it is
// valid until the handler returns.
struct ACL_MSGIO_MSG {
    unsigned int type;
    int dlen;
    const char* body;
};

// Handler of a message type; a negative result closes the connection.
typedef int (*ACL_MSGIO_NOTIFY_FN)(int msg_type, ACL_MSGIO* mio, const ACL_MSGIO_MSG* msg,
                                   void* arg);

struct ACL_MSGIO_HANDLER {
    ACL_MSGIO_NOTIFY_FN fn;
    void* arg;
};

struct ACL_MSGIO_REG {
    unsigned int type;
    std::vector<ACL_MSGIO_HANDLER> handlers;  // in registration order
};

typedef std::vector<ACL_MSGIO_REG> ACL_MSGIO_REGS;

struct ACL_MSGIO {
    int type = ACL_MSGIO_TYPE_CLIENT;
    ACL_AIO* aio = nullptr;              // null for a blocking client
    ACL_ASTREAM* astream = nullptr;      // on the loop (asynchronous kinds)
    ACL_VSTREAM* stream = nullptr;       // the blocking client's stream
    int fd = -1;                         // the socket, for senders on other threads
    char addr[ACL_MSGIO_ADDR_MAX] = "";  // peer or listen address
    int timeout = 0;                     // seconds; accepted connections take their listener's
    // Handlers; an accepted connection shares its listener's.
    std::shared_ptr<ACL_MSGIO_REGS> regs = std::make_shared<ACL_MSGIO_REGS>();
    // Reception state of an asynchronous connection.
    unsigned int hdr_type = 0;
    int hdr_dlen = 0;
    bool closing = false;  // closed by us (acl_msgio_close), not by the peer
    // Body bounds per type (acl_msgio_limit); accepted connections take
    // their listener's.
    std::vector<std::pair<unsigned int, int>> limits;
};

// Creates the process-wide channel: handlers registered on it (acl_msgio_reg
// with a null channel) see the messages of every channel. Call once at
// start-up; a second call keeps the first channel.
void acl_msgio_init(void);
// Frees the process-wide channel.
void acl_msgio_end(void);

// Listens on ACL_MSGIO_LISTEN_ADDR (an ephemeral loopback port) on the aio's
// loop and accepts connections there. Fatal "%s: aio null" or
// "%s: listen error(%s)".
ACL_MSGIO* acl_msgio_listen(ACL_AIO* aio);

// A client connected to `addr` ("ip:port") within `timeout` seconds: its
// messages are read on the aio's loop, or, with a null aio, it is a blocking
// channel read with acl_msgio_wait. Null, with the error logged, on failure.
ACL_MSGIO* acl_msgio_connect(ACL_AIO* aio, const char* addr, int timeout);

// The two ends of a connected socket pair, both read on the aio's loop: what
// one end sends, the other end's handlers get. Nothing outside the process
// can connect to it. 0, or -1 with the error logged.
int acl_msgio_pair(ACL_AIO* aio, ACL_MSGIO** end0, ACL_MSGIO** end1);

// Bounds the body of messages of `type` received on `mio` to `max_dlen`
// bytes. From the first bound on, the channel also refuses (closes on)
// messages of types it has no bound for. Set it before messages arrive.
void acl_msgio_limit(ACL_MSGIO* mio, int type, int max_dlen);

// Copies the channel's address (listen address of a listener, peer address
// otherwise) into buf, cut to size - 1. 0, or -1 when buf is unusable.
int acl_msgio_addr(const ACL_MSGIO* mio, char* buf, std::size_t size);

// Adds a handler for `type` (a null channel: the process-wide channel). The
// same arg registered again for the same type is ignored. Fatal
// "%s: call acl_msgio_init first" with a null channel and no process-wide
// channel.
void acl_msgio_reg(ACL_MSGIO* mio, int type, ACL_MSGIO_NOTIFY_FN callback, void* arg);

// Removes every handler of the channel.
void acl_msgio_unreg_all(ACL_MSGIO* mio);

// Sends one message: on a connection directly, on a listener through a
// temporary connection to itself. 0, or -1 after "%s: write error(%s)",
// "%s: write msg body error(%s)" or "%s: connect server(%s) error". A kind
// outside 0..2 is fatal ("%s: mio->type(%d) invalid").
int acl_msgio_send(ACL_MSGIO* mio, int type, const void* data, int dlen);

// On a blocking client: reads one whole message and dispatches it. 0, or -1
// after "%s: vstream read error" or "%s: dlen=%d < 0".
int acl_msgio_wait(ACL_MSGIO* mio);

// Closes a channel. A blocking client is freed at once; an asynchronous one
// once its loop has run the close (in the next pass at the latest).
void acl_msgio_close(ACL_MSGIO* mio);
