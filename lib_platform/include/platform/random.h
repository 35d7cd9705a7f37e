// The system's cryptographic random source (the twin of the Windows crypto
// provider): sequence starts, login tokens and credentials of the P2P client.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Fills `buf` with `len` random bytes. 0, or -1 when the source failed.
int random_fill(void* buf, std::size_t len);

// One random 32-bit number; ends the process through abort() when the source
// fails, which on Linux only happens when the kernel has no random source.
std::uint32_t random_u32();

}  // namespace platform
