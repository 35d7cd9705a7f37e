// The running program: where it lives and who it is.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, or "" when it cannot be found.
std::string program_path();

// Folder of the running executable, always ending with "/", or "" when it
// cannot be found. Every file a program keeps next to itself is named from it.
std::string program_folder();

// File name of the running executable without folder and extension.
std::string program_base_name();

int process_id();

// Kernel id of the calling thread (the number logs print as "tid").
long thread_id();

// The calling thread's last system error as text, for log lines that carry the
// system's own reason ("%s" after an error message).
std::string last_error_text();

}  // namespace platform
