// http_hdr: the part of an HTTP/1.x header common to requests and responses.
//
// A header is the ordered list of its lines, each split into a name and a
// value (entries), plus the few fields parsed from them. Entry 0 is the start
// line: for a request the name is the method and the value "URL version"; for a
// response the name is "HTTP/x.y" and the value "status reason".
//
// Lines are stored as they arrive; nothing is interpreted until an explicit
// parse call (http_hdr_parse, http_hdr_req_parse_all, http_hdr_res_parse).
//
// Ownership: a header owns its entries; an entry handed to
// http_hdr_append_entry belongs to the header from then on. Pointers returned by
// lookups stay valid until the header is reset or freed. A header is used by
// one thread at a time; to hand one to another thread, clone it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "http_status.h"

#define HTTP_HDR_PROTO_MAX 32     // bytes of the protocol text, NUL included
#define HTTP_HDR_MAX_LINES 1024   // lines read for one header before status 105
#define HTTP_HDR_ENTRIES_INIT 50  // initial room of the entry array
// Bytes of one header, line ends included, before status 105: whatever the
// number of lines, one peer can make a connection hold no more than this.
#define HTTP_HDR_MAX_BYTES (64 * 1024)

// Faults of a header line, found as the line is read (RFC 9112 section 5).
// A header with one of them does not parse: a request with it is refused,
// a response closes the connection.
#define HTTP_HDR_LINE_OK 0
#define HTTP_HDR_LINE_CTL 1    // a bare CR or a NUL inside the line
#define HTTP_HDR_LINE_FOLD 2   // obs-fold: the line begins with a blank
#define HTTP_HDR_LINE_FIELD 3  // no colon, or a field name that is not a token

// Framing conflicts of a header (RFC 9112 section 6), found by http_hdr_parse.
#define HTTP_HDR_FRAMING_OK 0
#define HTTP_HDR_FRAMING_TE_CL 1    // Transfer-Encoding and Content-Length together
#define HTTP_HDR_FRAMING_LENGTHS 2  // Content-Length values that differ

// One header line split into name and value; both are owned copies.
struct HTTP_HDR_ENTRY {
    std::string name;
    std::string value;
};

struct HTTP_CHAT_CTX;  // state of an asynchronous header read (http_chat_async)

struct HTTP_HDR {
    char proto[HTTP_HDR_PROTO_MAX] = "";  // "HTTP" once the version has been parsed
    unsigned version_major = 0;
    unsigned version_minor = 0;
    int keep_alive = 0;                  // Connection/Proxy-Connection is "keep-alive"
    int64_t content_length = -1;         // -1: no Content-Length
    int chunked = 0;                     // the last coding of Transfer-Encoding is "chunked"
    int transfer_encoding = 0;           // a Transfer-Encoding field is present
    int framing_conflict = 0;            // HTTP_HDR_FRAMING_*
    int line_fault = 0;                  // HTTP_HDR_LINE_* of the first faulty line
    int64_t bytes = 0;                   // bytes read for this header, line ends included
    int max_lines = HTTP_HDR_MAX_LINES;  // 0 or less: no limit
    int cur_lines = 0;                   // lines read so far, empty ones included
    int valid_lines = 0;                 // non-empty lines read so far
    std::vector<std::unique_ptr<HTTP_HDR_ENTRY>> entries;

    // Reader state of the asynchronous header reader; owned, internal, kept
    // across resets and never cloned.
    HTTP_CHAT_CTX* chat_ctx = nullptr;
    void (*chat_free)(HTTP_CHAT_CTX*) = nullptr;
};

// Entries ------------------------------------------------------------------

// Splits `line` at its first blank, tab or colon; the value is the rest after
// any further blanks, tabs and colons. Null for a line without a name (logged
// as "invalid data") or without a value.
HTTP_HDR_ENTRY* http_hdr_entry_new(const char* line);

// Same for a line of `len` bytes that need not end in NUL.
HTTP_HDR_ENTRY* http_hdr_entry_new2(const char* line, size_t len);

// A new entry with copies of `name` and `value`.
HTTP_HDR_ENTRY* http_hdr_entry_build(const char* name, const char* value);

void http_hdr_entry_free(HTTP_HDR_ENTRY* entry);

// Appends `entry`; the header owns it from now on.
void http_hdr_append_entry(HTTP_HDR* hdr, HTTP_HDR_ENTRY* entry);

// First entry whose name equals `name` (case-insensitive), entry 0 included.
HTTP_HDR_ENTRY* http_hdr_entry(const HTTP_HDR* hdr, const char* name);

// Value of that entry, or null.
const char* http_hdr_entry_value(const HTTP_HDR* hdr, const char* name);

// Replaces the value of the first entry named `name`. Without one, appends a
// new entry when `force` is non-zero, else returns -1.
int http_hdr_entry_replace(HTTP_HDR* hdr, const char* name, const char* value, int force);

// Disables the first entry named `name` by writing '_' over the first byte of
// its name: it stays in the list and is still written out under the altered
// name, but lookups no longer find it. Returns 0, or -1 when there is none.
int http_hdr_entry_off(HTTP_HDR* hdr, const char* name);

// Appends a new entry without looking for an existing one.
void http_hdr_put_str(HTTP_HDR* hdr, const char* name, const char* value);

// Removes every entry named `name` (case-insensitive) but the start line.
// Returns how many went.
int http_hdr_entry_delete(HTTP_HDR* hdr, const char* name);

// Reading (shared by the blocking and the asynchronous readers) --------------

// Line results of http_hdr_feed_line besides the status codes of http_status.h.
#define HTTP_HDR_FEED_MORE (-1)  // the header goes on

// Takes one line read from the peer, without its end-of-line: counts it,
// enforces the line limit and the byte bound (HTTP_HDR_MAX_BYTES), records
// the first line fault (HTTP_HDR_LINE_*) and stores non-empty lines as
// entries. Returns HTTP_HDR_FEED_MORE, HTTP_CHAT_OK when an empty line ends a
// header that had a valid line, or HTTP_CHAT_ERR_TOO_MANY_LINES.
int http_hdr_feed_line(HTTP_HDR* hdr, const char* line, size_t len);

// Parsing ------------------------------------------------------------------

// Walks every entry for Connection, Proxy-Connection, Content-Length and
// Transfer-Encoding: the framing fields count wherever they stand, or two
// readers of one message could see different framings. Fails (-1) for a
// header with a line fault ("%s: invalid header line, fault(%d)") and for a
// Content-Length that is not a decimal number or too large
// ("%s: content_length(%s) invalid"). A framing conflict
// (HTTP_HDR_FRAMING_*) does not fail here: it is recorded, and the header is
// left with no length and no chunking, so that a body is read until the
// peer closes; a request with one is refused by http_hdr_req_parse_all.
// Returns 0 or -1.
int http_hdr_parse(HTTP_HDR* hdr);

// `text` must begin with "HTTP/" (any case) and go on with "major.minor".
// Sets proto, version_major and version_minor. Returns 0 or -1.
int http_hdr_parse_version(HTTP_HDR* hdr, const char* text);

// Output -------------------------------------------------------------------

// Appends "start-name start-value\r\n", every further "name: value\r\n" and
// the closing "\r\n" to `buf`.
void http_hdr_build(const HTTP_HDR* hdr, std::string& buf);

// Writes all entries to the log between title lines.
void http_hdr_print(const HTTP_HDR* hdr, const char* msg);

// Writes all entries to `fp` between title lines.
void http_hdr_fprint(std::FILE* fp, const HTTP_HDR* hdr, const char* msg);

// Lifetime -----------------------------------------------------------------

// Copies entries and common fields of `src` into `dst` (whose entries are
// dropped first). The copy shares no memory with `src`.
void http_hdr_clone(const HTTP_HDR* src, HTTP_HDR* dst);

// Drops all entries and clears the parsed fields and counters.
void http_hdr_reset(HTTP_HDR* hdr);

// Frees what the common part owns (entries, reader state); used by the
// request and response frees.
void http_hdr_free_members(HTTP_HDR* hdr);
