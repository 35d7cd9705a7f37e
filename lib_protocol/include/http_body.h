// http_body: the framing state of one HTTP body, shared by the blocking and
// the asynchronous readers.
//
// The state knows what the body needs next (a line, up to N data bytes, any
// data, or nothing) and turns each unit read into the status that the readers
// deliver. It never touches a stream, so any reader (or a test) can drive it:
//
//     HTTP_BODY* body = http_body_new();
//     http_body_start(body, chunked, content_length, read_until_close);
//     while ((want = http_body_want(body, &max)) != HTTP_BODY_WANT_NONE) {
//         ... read a line (with its end-of-line) or at most `max` bytes ...
//         status = http_body_feed(body, data, len);    // 4, 5, 7 or 103
//     }
//
// Kinds of body:
//   chunked         size lines, data, the line break after each chunk, and after
//                   the size 0 line the trailer up to an empty line;
//   length > 0      exactly `content_length` bytes;
//   until close     any data until the peer closes (read_until_close set and no
//                   positive length);
//   none            nothing to read.
#pragma once

#include <cstddef>
#include <cstdint>

#define HTTP_BODY_PIECE_MAX 8192  // most bytes delivered by one asynchronous read

// Where a body is in its framing.
enum HTTP_BODY_STATE {
    HTTP_BODY_UNSTARTED = 0,
    HTTP_BODY_LENGTH,       // length-delimited data
    HTTP_BODY_UNTIL_CLOSE,  // data until the peer closes
    HTTP_BODY_CHUNK_SIZE,   // a chunk-size line
    HTTP_BODY_CHUNK_DATA,   // data of the current chunk
    HTTP_BODY_CHUNK_END,    // the line break after a chunk
    HTTP_BODY_TRAILER,      // trailer lines up to the empty one
    HTTP_BODY_DONE,         // complete
    HTTP_BODY_FAILED,       // framing lost; nothing more is read
};

// What a body needs next.
enum HTTP_BODY_WANT {
    HTTP_BODY_WANT_NONE = 0,  // body complete
    HTTP_BODY_WANT_LINE,      // one line, end-of-line included
    HTTP_BODY_WANT_DATA,      // at most `max` bytes (at least one)
    HTTP_BODY_WANT_ANY,       // whatever arrives, until the peer closes
};

struct HTTP_BODY {
    int state = HTTP_BODY_UNSTARTED;  // an HTTP_BODY_STATE
    int64_t left = 0;                 // bytes still due of the body or of the current chunk
    int64_t total = 0;                // bytes delivered, framing included
    int64_t data_total = 0;           // body bytes without framing
};

// A body state with nothing to read yet. Allocation failure is fatal.
HTTP_BODY* http_body_new(void);

void http_body_free(HTTP_BODY* body);

// Sets the kind of body and restarts the counters.
void http_body_start(HTTP_BODY* body, int chunked, int64_t content_length, int read_until_close);

// Whether http_body_start was called since http_body_new.
int http_body_started(const HTTP_BODY* body);

// What the body needs next; for HTTP_BODY_WANT_DATA `*max` gets the number
// of bytes still due (the reader may read fewer).
HTTP_BODY_WANT http_body_want(const HTTP_BODY* body, int64_t* max);

// Takes one unit read as asked by http_body_want and returns its status:
// HTTP_CHAT_DATA, HTTP_CHAT_CHUNK_HDR or HTTP_CHAT_CHUNK_TRAILER, or
// HTTP_CHAT_ERR_PROTO for a size line that is not a hexadecimal number that
// fits 63 bits, or a chunk not followed by a bare line break. After an error the
// body wants nothing more. Data longer than asked is a broken contract (fatal).
int http_body_feed(HTTP_BODY* body, const char* data, size_t len);

// The peer closed: HTTP_CHAT_OK when that ends the body (read until close, or
// already complete), else HTTP_CHAT_ERR_IO.
int http_body_closed(const HTTP_BODY* body);

// Reads a chunk-size line: blanks, hexadecimal digits, then the end of the
// line, blanks or ';' extensions. Returns 0 and the size, or -1.
int http_body_chunk_size(const char* line, size_t len, int64_t* size);
