// store_stat: the progress trailer of a ".part" file and the statistics line
// of a completed download.
//
// Trailer layout, at offset L (the content length), integers little-endian:
// n range records, then one control record, 32 bytes each.
//   range record:   [0,2) checksum, [2,8) zero, [8,16) begin, [16,24) end,
//                   [24,32) end again (the copy read back)
//   control record: [0,2) checksum, [2,8) zero, [8,16) L, [16,24) bytes on disk
//                   (sum of end - begin), [24,28) n (signed 32-bit), [28,32) zero
// Each checksum is the RFC 1071 Internet checksum of its 32-byte record taken
// as 16-bit little-endian words, computed with the checksum field 0.
//
// A trailer is restored only whole: a size that does not fit k records plus
// the control record, a wrong n, or any record with a bad checksum restores
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

struct STORE_CTRL;
struct STORE_CTRL_ENTRY;

#define STORE_STAT_RECORD 32
#define STORE_STAT_LINE_MAX 1024
#define STORE_LOGGER_TIMEOUT 30  // seconds for the connect, the read and the write

// The checksum of a 32-byte record (its checksum field must be 0).
uint16_t store_stat_checksum(const unsigned char* record, std::size_t len);

// Flushes the download stream, then writes the trailer of the downloaded set
// and cuts the file right after it. Nothing for an unknown or 0 length.
// 0, or -1 when this save was given up (logged; the download goes on).
int store_stat_log(STORE_CTRL_ENTRY* entry);

// Saves the trailer when the last save is more than one second old (and
// stamps the save time). 1 when saved, else 0.
int store_stat_log_due(STORE_CTRL_ENTRY* entry);

// Reads the trailer back into the downloaded set. 1 when restored, else 0.
int store_stat_rest(STORE_CTRL_ENTRY* entry);

// The statistics line (with "\r\n") into `buf` of `size` bytes; its length.
int store_stat_line(char* buf, std::size_t size, unsigned uid, const char* rc, uint64_t total_len,
                    uint64_t http_len, unsigned http_speed, uint64_t p2p_len, unsigned p2p_speed);

// Sends one line to the logging server at `addr` ("ip:port"). 0, or -1 after
// a warning. No answer is read; nothing is retried.
int store_logger_write(const char* addr, const char* line);
