// acl_vstream: buffered streams over sockets and files.
//
// A stream owns its descriptor, a read buffer (at least ACL_VSTREAM_BUFSIZE
// bytes) and a write buffer of the same size for buffered writes. It is used
// two ways:
//
//   - blocking, by worker threads: acl_vstream_read / gets / readn wait for
//     data, acl_vstream_writen waits until every byte is out. When the stream's
//     rw_timeout is above 0 every wait is limited to that many seconds; a read
//     that times out flags the stream ACL_VSTREAM_FLAG_TIMEOUT, sets errnum to
//     ETIMEDOUT and its error text to "read timeout" ("write timeout" for a
//     write) and returns ACL_VSTREAM_EOF. This holds whatever mode the socket is
//     in. The time-out bit is cleared when the next blocking call starts: a
//     worker may wait again. End of file and errors stay.
//   - non-blocking, under the event loop (acl_aio.h): the *_ready readers take
//     what the buffer and the socket hold right now and say whether the
//     requested unit (a line, n bytes, any data) is complete.
//
// End of file flags the stream ACL_VSTREAM_FLAG_EOF ("closed by peer(%s)" with
// the peer address); any other failure flags ACL_VSTREAM_FLAG_ERR with the
// system's text. The event engine treats any of the three flags as an
// exception on the descriptor.
//
// Lifecycle: acl_vstream_close runs the close handles (in the order added),
// flushes buffered output, closes the descriptor and frees the stream. A
// stream registered with an event engine must be unregistered before it is
// closed (the async layer does this). A stream is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "acl_msg.h"

#define ACL_VSTREAM_BUFSIZE 8192  // smallest read buffer; smaller requests are raised to it
#define ACL_VSTREAM_EOF (-1)      // result of a read or write that failed or met the end

// Kinds of descriptor.
#define ACL_VSTREAM_TYPE_SOCK 1  // socket: recv / send
#define ACL_VSTREAM_TYPE_FILE 2  // file: read / write

// Bits of the flag word.
#define ACL_VSTREAM_FLAG_ERR 0x400       // an I/O call failed
#define ACL_VSTREAM_FLAG_EOF 0x800       // end of file / closed by peer
#define ACL_VSTREAM_FLAG_TIMEOUT 0x1000  // a blocking read or write timed out
#define ACL_VSTREAM_FLAG_BAD \
    (ACL_VSTREAM_FLAG_ERR | ACL_VSTREAM_FLAG_EOF | ACL_VSTREAM_FLAG_TIMEOUT)

// Socket modes asked of connect, listen and accept.
#define ACL_BLOCKING 0
#define ACL_NON_BLOCKING 1

#define ACL_INET_SOCK_BUFSIZE 204800  // receive and send buffers of a connecting socket

struct ACL_VSTREAM;

// Called by acl_vstream_close before the descriptor is closed.
typedef void (*ACL_VSTREAM_CLOSE_FN)(ACL_VSTREAM* stream, void* context);

struct ACL_VSTREAM_CLOSE_HANDLE {
    ACL_VSTREAM_CLOSE_FN fn;
    void* context;
};

// The fields above `priv` are the stream's public face: other modules read
// them (the event engine the flag word, the async layer the descriptor, users
// the peer's address and the error code) and the owner sets rw_timeout. What
// lies in `priv` belongs to lib_acl/src/stream alone; others use the
// functions below (acl_vstream_bfrd_cnt, acl_vstream_bufsize,
// acl_vstream_strerror, acl_vstream_set_error).
struct ACL_VSTREAM {
    int fd = -1;  // socket or file descriptor, owned
    int type = ACL_VSTREAM_TYPE_SOCK;
    unsigned flag = 0;        // ACL_VSTREAM_FLAG_* bits
    int rw_timeout = 0;       // seconds; 0 = wait without limit
    int errnum = 0;           // errno of the last failure
    std::string addr_peer;    // "ip:port" of a socket's peer, when known
    std::string addr_local;   // "ip:port" of a socket's own end, when known
    void* context = nullptr;  // the owner's slot: what travels with the stream when it is handed on

    struct Private {
        unsigned oflags = 0;         // open flags, as given to acl_vstream_fdopen
        std::vector<char> read_buf;  // size set when opened, changed by acl_vstream_set_bufsize
        std::size_t read_pos = 0;    // first unread byte in read_buf
        std::size_t read_cnt = 0;    // unread bytes from read_pos on
        std::string write_buf;       // output of the buffered writes, not yet sent
        std::string errbuf;          // text of the last failure
        std::vector<ACL_VSTREAM_CLOSE_HANDLE> close_handles;
    } priv;
};

#define ACL_VSTREAM_SOCK(s) ((s)->fd)
#define ACL_VSTREAM_BFRD_CNT(s) acl_vstream_bfrd_cnt(s)  // unread bytes held in the buffer

// ---- opening and closing -------------------------------------------------

// Wraps an open descriptor. `buflen` below ACL_VSTREAM_BUFSIZE is raised to
// it; `rw_timeout` below 1 is stored as 0. `type` is ACL_VSTREAM_TYPE_*.
// Fatal on a negative descriptor.
ACL_VSTREAM* acl_vstream_fdopen(int fd, unsigned oflags, std::size_t buflen, int rw_timeout,
                                int type);

// Opens a file (`how`: platform FD_* bits of platform/fd_file.h, `mode`: rights
// of a created file). Null, with errno set, when the file cannot be opened.
ACL_VSTREAM* acl_vstream_fopen(const char* path, int how, int mode, std::size_t buflen);

// Runs the close handles, flushes buffered output, closes the descriptor and
// frees the stream. 0, or -1 when the flush or the close failed (the stream is
// freed either way).
int acl_vstream_close(ACL_VSTREAM* stream);

// Adds a close handle. Handles run in the order added.
void acl_vstream_add_close_handle(ACL_VSTREAM* stream, ACL_VSTREAM_CLOSE_FN fn, void* context);
// Removes the one handle equal to (fn, context), if any.
void acl_vstream_delete_close_handle(ACL_VSTREAM* stream, ACL_VSTREAM_CLOSE_FN fn, void* context);

// Resizes the read buffer to `size` bytes (raised to ACL_VSTREAM_BUFSIZE, and
// to the count of unread bytes, which are kept). Streams that relay large
// bodies read them in fewer, larger calls; every byte of the buffer is held
// for the stream's life, so callers bound `size`.
void acl_vstream_set_bufsize(ACL_VSTREAM* stream, std::size_t size);

// Text of the stream's last failure ("" when none).
const char* acl_vstream_strerror(const ACL_VSTREAM* stream);

// Flags the stream failed (ACL_VSTREAM_FLAG_ERR) with system error `err`, as
// a failed call of its own would: for a failure found outside the stream
// (a non-blocking connect's pending error).
void acl_vstream_set_error(ACL_VSTREAM* stream, int err);

// Unread bytes held in the read buffer.
std::size_t acl_vstream_bfrd_cnt(const ACL_VSTREAM* stream);

// Size of the read buffer.
std::size_t acl_vstream_bufsize(const ACL_VSTREAM* stream);

// ---- blocking reads (wait for data; rw_timeout limits each wait) ---------

// Up to `size` bytes: what the buffer holds, else one read from the
// descriptor. The count, or ACL_VSTREAM_EOF.
int acl_vstream_read(ACL_VSTREAM* stream, void* buf, std::size_t size);

// One line with its "\n" into `buf` (NUL-terminated, at most size - 1 bytes:
// a longer line comes in pieces). The bytes stored, or ACL_VSTREAM_EOF when
// nothing could be read. A last line without "\n" is returned as it is.
int acl_vstream_gets(ACL_VSTREAM* stream, void* buf, std::size_t size);

// As acl_vstream_gets, with every trailing "\r" and "\n" removed; an empty line
// gives 0.
int acl_vstream_gets_nonl(ACL_VSTREAM* stream, void* buf, std::size_t size);

// Exactly `size` bytes. `size`, or ACL_VSTREAM_EOF when the stream failed or
// ended first (the bytes read so far are lost).
int acl_vstream_readn(ACL_VSTREAM* stream, void* buf, std::size_t size);

// ---- writes ---------------------------------------------------------------

// Sends every byte (buffered output first). `size`, or ACL_VSTREAM_EOF.
int acl_vstream_writen(ACL_VSTREAM* stream, const void* data, std::size_t size);

// Collects small writes in the write buffer, sending it first when the new
// data does not fit; data as large as the buffer goes out at once. `size`, or
// ACL_VSTREAM_EOF.
int acl_vstream_buffed_writen(ACL_VSTREAM* stream, const void* data, std::size_t size);

// Sends the write buffer. 0, or ACL_VSTREAM_EOF.
int acl_vstream_fflush(ACL_VSTREAM* stream);

// File streams: sends the write buffer, drops what the read buffer holds and
// moves the descriptor to `offset` from the start. The new offset, or -1 (the
// stream is flagged when the move failed).
std::int64_t acl_vstream_fseek(ACL_VSTREAM* stream, std::int64_t offset);

// One send (or file write) call without waiting: the bytes written, 0 when the
// descriptor would block, ACL_VSTREAM_EOF on failure (the stream is flagged).
// Buffered output is not sent first: the async layer, its only user, never
// buffers.
int acl_vstream_write(ACL_VSTREAM* stream, const void* data, std::size_t size);

// Formatted acl_vstream_writen / acl_vstream_buffed_writen. The length, or
// ACL_VSTREAM_EOF.
int acl_vstream_fprintf(ACL_VSTREAM* stream, const char* fmt, ...) ACL_PRINTF(2, 3);
int acl_vstream_buffed_fprintf(ACL_VSTREAM* stream, const char* fmt, ...) ACL_PRINTF(2, 3);

// ---- non-blocking readers for the event loop ---------------------------
//
// Each appends to `buf` from the read buffer and then from the descriptor
// without waiting, stopping as soon as the unit is complete, and sets *ready
// to 1 when it is (else 0). The result is the number of bytes appended, or
// ACL_VSTREAM_EOF when the stream ended or failed (what was collected stays
// in `buf`). "Would block" is not a failure: it leaves *ready at 0.

// A line up to and including "\n".
int acl_vstream_gets_ready(ACL_VSTREAM* stream, std::string* buf, int* ready);
// A line; once complete, every trailing "\r" and "\n" is removed.
int acl_vstream_gets_nonl_ready(ACL_VSTREAM* stream, std::string* buf, int* ready);
// Until `buf` holds `count` bytes.
int acl_vstream_readn_ready(ACL_VSTREAM* stream, std::string* buf, std::size_t count, int* ready);
// At least one byte (all the buffer holds, else one read).
int acl_vstream_read_ready(ACL_VSTREAM* stream, std::string* buf, int* ready);

// ---- sockets ----------------------------------------------------------------

// Switches a socket to ACL_BLOCKING or ACL_NON_BLOCKING. Logs
// "ioctlsocket(fd,FIONBIO) failed" and returns -1 on failure.
int acl_non_blocking(int fd, int mode);

// Waits up to `timeout` seconds until `fd` is writable / readable. 0 when it
// is, -1 when the time ran out (errno ETIMEDOUT) or the wait failed.
int acl_write_wait(int fd, int timeout);
int acl_read_wait(int fd, int timeout);

// Connects `fd` to ip:port with a non-blocking connect limited to `timeout`
// seconds (the socket is left non-blocking). 0, or -1 with errno (ETIMEDOUT
// when the time ran out). A negative timeout is a panic
// ("timed_connect: bad timeout: %d").
int acl_timed_connect(int fd, const char* ip, int port, int timeout);

// Resolves the host of "host:port" and connects to each address in turn; the
// first socket that connects is returned in `block_mode`. Each socket gets
// ACL_INET_SOCK_BUFSIZE receive and send buffers. With `timeout` above 0 the
// connect is timed; otherwise it is direct, and in non-blocking mode a
// connect still under way counts as connected. -1 when no address connects.
int acl_inet_connect_ex(const char* addr, int block_mode, int timeout);

// acl_inet_connect_ex wrapped in a socket stream with `rw_timeout` and a
// buffer of `rw_bufsize`; its peer address is `addr`. Null on failure ("%s(%d):
// addr(%s) invalid, examples(192.168.0.1:80)" for an address without ':').
ACL_VSTREAM* acl_vstream_connect_ex(const char* addr, int block_mode, int connect_timeout,
                                    int rw_timeout, int rw_bufsize);

// Listens on "host:port" (an empty host is "0.0.0.0"; port 0 picks a free
// one) with SO_REUSEADDR and the given backlog. The descriptor, or -1.
int acl_inet_listen(const char* addr, int backlog, int block_mode);

// acl_inet_listen wrapped in a socket stream whose local address is the
// address actually bound (so "127.0.0.1:0" reads back with its port).
ACL_VSTREAM* acl_vstream_listen_ex(const char* addr, int backlog, int block_mode, int bufsize,
                                   int rw_timeout);

// Accepts one connection as a blocking socket stream with the listener's
// buffer size and rw_timeout. The peer's ip is copied into `ipbuf` when given
// (NUL-terminated, cut to size - 1). Null when none was waiting (errno EAGAIN
// on a non-blocking listener) or the accept failed.
ACL_VSTREAM* acl_vstream_accept_ex(ACL_VSTREAM* listen_stream, char* ipbuf, int size);
