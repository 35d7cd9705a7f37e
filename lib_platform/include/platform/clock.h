// A monotonic millisecond clock: it never follows changes of the wall clock,
// so only differences between its readings mean something.
#pragma once

#include <cstdint>

namespace platform {

std::uint64_t monotonic_ms();

}  // namespace platform
