// logsvr: a stand-in for the logging server that tarvoproxy and tarvologger
// talk to. It is not part of the system; tests and local runs use it.
//
// One connection carries one of:
//   - a statistics line: any line that is not a dump header; reported as
//     "stat <line>";
//   - a dump upload: the header line
//         client_dump_file:uid=<u>|file=<path>|ver=<text>|size=<n>\r\n
//     then the body until the client closes. The body is stored in the store
//     folder under the base name of <path> (made safe: only letters, digits,
//     '.', '-' and '_'; no "." or ".."; an existing name gets ".1", ".2" ...).
//     Reported as
//         upload uid=<u> file=<path> ver=<text> size=<n> received=<bytes> stored=<file> ok
//     with "ok" replaced by "size-mismatch" when the body length differs from
//     the header's size.
// Anything else (no line within the limits, a store failure) is reported as
// "error <reason>". Nothing is ever sent back.
#pragma once

#include <functional>
#include <string>

#include "platform/blocking_tcp.h"

constexpr int LOGSVR_LINE_MAX = 8192;             // longest first line accepted, "\r\n" included
constexpr long long LOGSVR_BODY_MAX = 1LL << 30;  // uploads are cut off beyond this
constexpr const char* LOGSVR_STAT_FILE = "stat_lines.log";  // statistics lines, in order
constexpr int LOGSVR_IDLE_MS = 30000;                       // a client silent this long is dropped

struct LOGSVR {
    platform::TcpListener listener;
    std::string store_dir;  // where uploads go, ending with "/"
    std::string stat_file;  // where statistics lines go; "" keeps none
};

// Listens on 127.0.0.1:port (0 = any free port) and stores uploads under
// store_dir (created when missing). 0, or -1 with the reason in errno.
int logsvr_open(LOGSVR& svr, int port, const std::string& store_dir);

// Serves connections one after another until `stop` returns true (asked about
// every 100 ms) or `count` connections have been served (count <= 0: no limit).
// `report` gets one line per connection, without a line end.
void logsvr_run(LOGSVR& svr, int count, const std::function<bool()>& stop,
                const std::function<void(const std::string&)>& report);

// Serves one accepted connection to its end; returns the report line.
std::string logsvr_serve(LOGSVR& svr, platform::TcpSocket& conn);
