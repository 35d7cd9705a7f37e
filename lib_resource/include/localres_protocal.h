// The local resource protocol: the messages between the proxy and the desktop
// program over the pipe channel (named_pipe.h).
//
// From the proxy: "RDY" "PATH=" path CR LF "CAPTION=" caption CR LF, NUL
// ended, at most 1,024 bytes with the NUL (a long caption is cut to fit, then
// a long path; never past the buffer).
// To the proxy: a three-letter command followed at once by items joined with
// "&", each "key=value" split at its first "="; commands and keys match
// without regard to case, values stand as they are:
//   "DEL" with RES_PATH=<full path>   the user deleted the video: withdraw it;
//   "SPX"                             close the sharing side (parameters ignored).
// Anything else, "STP" (the channel's stop message) included, is an unknown
// command: the parser returns -1 and the reader ends.
#pragma once

#include <map>
#include <string>

struct NAMED_PIPE;

#define LOCAL_RES_PIPE_NAME "P2P_CLIENT_PIPE"
#define LOCAL_RES_CMD_STOP "STP"
#define LOCAL_RES_PARAM_MAX 4096  // bytes of a message's parameters

// Builds the ready message into `out` (at most NAMED_PIPE_BUF_SIZE bytes with
// its NUL, which `out` holds as its last byte).
void local_res_ready_build(const char* file_path, const char* caption, std::string& out);

// Sends the ready message. 0, or -1 when the send failed.
int local_res_ready(NAMED_PIPE* pipe, const char* file_path, const char* caption);

// The reader's callback: handles one message. The handler's result, or -1.
int proto_parser(NAMED_PIPE* pipe, const char* data, int len, void* arg);

// Runs the channel's reader in the client role on "P2P_CLIENT_PIPE" with the
// stop message "STP" and proto_parser. -1 without a channel; otherwise the
// reader's result.
int local_res_server_start(NAMED_PIPE* pipe);

// The parameter table of `text`: items split at `item_sep` (empty ones
// dropped), each at its first `kv_sep`; keys lowercased, the first value of a
// key kept; invalid items (no key, no value) logged and skipped.
std::map<std::string, std::string> __build_proto_htable(const char* text, const char* item_sep,
                                                        const char* kv_sep);

// Whether two Windows-style paths name the same file: drive, folder, name and
// extension compared without regard to case, trailing separators of the
// folder dropped ("\" and "/" both separate).
bool local_res_same_path(const std::string& a, const std::string& b);
