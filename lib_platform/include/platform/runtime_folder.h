// The user's private runtime folder: where the programs of one user meet
// (pipe channels, named mutexes, message endpoints).
//
// It is "$XDG_RUNTIME_DIR/tarvo/" when XDG_RUNTIME_DIR names an existing
// folder, else "<temporary folder>/tarvo-<user id>/" (the temporary folder is
// $TMPDIR, else "/tmp"). It is created with mode 0700 when missing. A folder
// found there that is not a real folder owned by this user, or that others
// may enter, is refused (EACCES): another user could otherwise read the
// channels or hold our names. Every call looks again, so a test that points
// XDG_RUNTIME_DIR elsewhere gets a folder of its own.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder, ending with "/", created when missing; "" with errno set when it
// can neither be found nor made.
std::string runtime_folder();

// The path of the file `name` + `suffix` in the runtime folder. 0, or -1 with
// errno (EINVAL for an empty name or one holding '/' or NUL).
int runtime_file(std::string_view name, std::string_view suffix, std::string& path);

}  // namespace platform
