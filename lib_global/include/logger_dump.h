// logger_dump: sending one file (a crash dump) to the logging server.
//
// Wire format, one TCP connection per upload, client to server only (nothing
// is read back); the client closes the connection after the body:
//
//     client_dump_file:uid=<uid>|file=<path>|ver=<version>|size=<bytes>\r\n
//     <exactly <bytes> bytes of the file>
//
// <path> is the path exactly as the caller gave it, <bytes> the file's size
// when the upload starts (a signed 32-bit number).
//
// Lifecycle: logger_dump_new makes a record that is not connected yet;
// logger_dump_connect opens its stream; logger_dump_free closes the stream (if
// any) and frees the record. A record serves one upload, from one thread.
#pragma once

#include <cstdint>

struct ACL_VSTREAM;

#define LOGGER_ADDR_MAX 255                  // bytes of the server address kept
#define LOGGER_DUMP_TIMEOUT 30               // seconds for the connect and for each read/write
#define LOGGER_DUMP_READ_SIZE 4096           // bytes read from the file per step
#define LOGGER_DUMP_HEAD "client_dump_file"  // first word of the header line

struct LOGGER_DUMP {
    char addr[LOGGER_ADDR_MAX + 1];  // "host:port"
    ACL_VSTREAM* stream;             // owned; null until connected
    int conn_timeout;                // seconds; LOGGER_DUMP_TIMEOUT unless a test lowers it
    int rw_timeout;                  // seconds; LOGGER_DUMP_TIMEOUT
};

// A record for the server at `addr` ("host:port", cut to LOGGER_ADDR_MAX
// bytes), not connected. Fatal on a null address.
LOGGER_DUMP* logger_dump_new(const char* addr);

// Closes the connection, if any, and frees the record. Null is ignored.
void logger_dump_free(LOGGER_DUMP* dump);

// Blocking connect within conn_timeout seconds. 0, or -1 after
// "logger_dump_connect(<line>): connect addr(<addr>) error(<reason>)".
int logger_dump_connect(LOGGER_DUMP* dump);

// Sends the header line and the file over the connected record. 0, or -1
// after a log line saying why (size invalid, write error, open error). The
// file is never changed or removed.
int logger_dump_file(LOGGER_DUMP* dump, const char* filepath, const char* version,
                     unsigned int uid);

// The size of the file at `filepath` from the file system, or -1 after
// "file_size(<line>): stat filepath(<path>) error(<reason>)".
std::int64_t file_size(const char* filepath);
