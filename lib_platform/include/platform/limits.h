// Process limits the programs adjust at start-up.
#pragma once

namespace platform {

// Raises the soft limit of open files to the hard limit, so that an event loop
// can hold as many connections as the system allows. Returns the soft limit in
// force afterwards, or -1 when it cannot be read.
long raise_open_file_limit();

}  // namespace platform
