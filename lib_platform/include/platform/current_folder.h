// The process's current folder, which relative paths of started programs
// (a configuration file named on a command line) are taken against.
#pragma once

#include <string>

namespace platform {

// The current folder ending with "/", or "" when it cannot be read.
std::string current_folder();

// 0, or -1 with errno.
int set_current_folder(const std::string& folder);

}  // namespace platform
