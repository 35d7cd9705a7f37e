// Whole-file reads and replacements shared by the profile and registry code.
// Internal to lib_platform.
#pragma once

#include <sys/types.h>
#include <string>

namespace platform::detail {

// Reads the whole file into `out`. false on failure with errno set (ENOENT
// for a missing file).
bool read_whole_file(const char* path, std::string& out);

// Writes `data` to a new temporary file in the folder of `path`, flushes it to
// disk and renames it over `path`, so a reader sees the old file or the new
// one, never a mix. An existing file's permissions are kept; a new file gets
// `mode`. 0, or -1 with errno set (the temporary file is removed).
int replace_whole_file(const char* path, const std::string& data, mode_t mode);

}  // namespace platform::detail
