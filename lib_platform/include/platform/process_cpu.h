// CPU time a process has used, for benchmarks that compare the work done per
// request or per byte rather than wall-clock speed, which other load on the
// machine disturbs far more.
#pragma once

namespace platform {

// User plus system CPU time of every thread of process `pid` in milliseconds
// (clock-tick resolution), or -1 when it cannot be read.
long process_cpu_ms(int pid);

}  // namespace platform
