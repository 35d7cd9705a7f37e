// Profile files (".ini"), read by the Windows rules the programs rely on:
//
//   - section and key names compare without regard to letter case;
//   - within a section the first matching key wins; a section that appears twice
//     is searched in the order of the file;
//   - a value is trimmed of surrounding blanks and then of one pair of enclosing
//     quotes ('"' or '\'');
//   - a missing file, section or key gives the caller's default, and leaves the
//     reason in errno (ENOENT, or why the file could not be read) for the
//     caller's log line;
//   - lines starting with ';' are comments; CR LF and LF line ends both read.
#pragma once

#include <cstddef>

namespace platform {

// Copies the value of [section] key into `buf` (size `size`, always
// NUL-terminated when size > 0), or `def` when the key is missing (a null `def`
// counts as ""). The copy is cut to size - 1 characters. Returns the number of
// characters copied: 0 for an empty value.
std::size_t profile_read_string(const char* section, const char* key, const char* def, char* buf,
                                std::size_t size, const char* path);

// The value of [section] key as a number: its leading decimal digits (an
// optional '-' first); a value without digits reads as 0; a missing key gives
// `def`.
int profile_read_int(const char* section, const char* key, int def, const char* path);

// Sets [section] key = value, creating the file, section or key as needed and
// keeping every other line as it was (and the file's line ends; a new file gets
// CR LF). The file is replaced through a temporary file, so a reader sees the
// old or the new file whole. 0, or -1 when the file cannot be written or a name
// or value would not read back (a line break, a '=' in the key, a ']' in the
// section; errno EINVAL).
int profile_write_string(const char* section, const char* key, const char* value, const char* path);

}  // namespace platform
