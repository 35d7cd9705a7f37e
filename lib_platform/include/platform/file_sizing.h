// Sizing a file without writing it: the twin of the file mapping that sized
// cache files on Windows (a mapping of N bytes extends its file to N bytes).
//
// file_size_at_least first asks the file system to reserve the blocks
// (posix_fallocate): the file then holds its whole length on disk and reads as
// zeros, so a later write at any offset can neither extend it nor run out of
// space. Where the file system cannot reserve (no support, or a quota), the
// length is set with ftruncate instead: the file reads as zeros too, but its
// blocks are only allocated when written. `*reserved` tells the caller which
// of the two happened, so that it can decide whether to write the zeros
// itself.
//
// A file is only ever made longer: a file already `length` bytes long or more
// keeps its size and content. A created file is readable and writable by its
// owner only.
//
// Results: 0, or -1 with the reason in errno; `*stage` (when given) tells which
// step failed: FILE_SIZING_OPEN or FILE_SIZING_SIZE.
#pragma once

#include <cstdint>

namespace platform {

constexpr int FILE_SIZING_OPEN = 1;  // the file could not be opened or created
constexpr int FILE_SIZING_SIZE = 2;  // the file is open, its length could not be set

int file_size_at_least(const char* path, std::int64_t length, bool* reserved, int* stage);

// Bytes of disk the file holds (its allocated blocks), or -1. A file sized by
// ftruncate alone holds none for its unwritten part.
std::int64_t file_allocated_bytes(const char* path);

}  // namespace platform
