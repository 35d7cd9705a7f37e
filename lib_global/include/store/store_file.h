// store_file: the cache file of a download.
//
// While incomplete the file is the working file (final path + ".part"): body
// bytes at their own offsets (zeros where nothing was fetched yet) followed by
// the progress trailer (store_stat.h). When complete it is renamed to the
// final path and cut to the content length L.
//
// Files are opened readable and writable by their owner only. Everything here
// runs on the controller thread, except that each browser client reads through
// its own stream.
//
// Durability rule: the body reaches the working file through the download
// stream's write buffer, the trailer through a stream of its own. Before any
// trailer save and before the end-of-download rename the download stream is
// flushed (store_file_flush), so the trailer never records a range whose bytes
// the kernel does not hold yet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_sizing.h"

struct ACL_VSTREAM;
struct STORE_CTRL_ENTRY;
struct STORE_WORKER;

#define STORE_FILE_EXT "flv"
#define STORE_PART_SUFFIX ".part"
#define STORE_FILE_DOWNLOAD_BUF 2048  // download stream buffer (raised to the stream minimum)
#define STORE_FILE_READ_BUF 8192      // a client's read stream
#define STORE_FILE_STAT_BUF 1024      // trailer writer and reader, store_file_truncate
#define STORE_FILE_FILL_PIECE 8192    // zero fill writes
#define STORE_FILE_MODE 0600

// Results of store_file_check.
#define STORE_FILE_NEW 0       // neither file exists; ".part" appended to the working path
#define STORE_FILE_FINISHED 1  // the final file exists
#define STORE_FILE_PARTIAL 2   // the working file exists
#define STORE_FILE_ERROR (-1)

// Forms the final path "<dir>/<id>.<ext>" ("flv" when ext is null or empty),
// with the platform path rule applied to dir ("\" becomes "/", no doubled
// separator). 0, or -1 when it does not fit `size` bytes.
int store_file_path(char* buf, std::size_t size, const char* dir, const char* id, const char* ext);

int store_file_check(STORE_CTRL_ENTRY* entry);

// Opens the download stream on the working path, sizing a new file first
// (see store_file_open in the source for the order). 0, or -1.
int store_file_open(STORE_CTRL_ENTRY* entry, int resume);

// Writes the prefetched bytes at offset 0. The length, or -1.
int64_t store_file_put(ACL_VSTREAM* stream, const char* data, int64_t length);

// Writes the worker's buffer at its `from`. dlen, or -1.
int64_t store_file_write(STORE_WORKER* worker);

// Records [0, size of the final file) as downloaded. 0, or -1.
int store_file_reuse(STORE_CTRL_ENTRY* entry);

// Writes `length` zero bytes from the current position.
void store_file_init(ACL_VSTREAM* stream, int64_t length);

// Sets the end of file at `length`, then moves to offset 0. 0, or -1.
int store_file_ftruncate(ACL_VSTREAM* stream, int64_t length);

// Opens `path` (created when missing), applies store_file_ftruncate, closes.
int store_file_truncate(const char* path, int64_t length);

// Makes the file at least `length` bytes long without writing it. 0, or -1.
// `*reserved` (when given) tells whether the length is reserved on disk (the
// file then reads as zeros and holds its blocks already).
int store_file_fmtruncate(const char* path, int64_t length, bool* reserved);

// Sends what the download stream still buffers to the file. 0, or -1 (logged).
int store_file_flush(STORE_CTRL_ENTRY* entry);

// Flushes and closes the download stream of an entry that is being freed. A
// complete download whose last bytes could not be flushed is marked incomplete
// again, so that it is not renamed as finished.
void store_file_close(STORE_CTRL_ENTRY* entry);

// Disposes of the files when the entry is freed, after its download stream
// was closed: keep, delete, or rename + cut + completion hook.
void on_download_over(STORE_CTRL_ENTRY* entry);

// Test seam: replaces the platform's sizing call (null restores it).
typedef int (*STORE_FILE_SIZING_FN)(const char* path, int64_t length, bool* reserved, int* stage);
STORE_FILE_SIZING_FN store_file_set_sizing_seam(STORE_FILE_SIZING_FN fn);
