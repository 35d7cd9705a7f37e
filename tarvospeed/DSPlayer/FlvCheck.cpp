#include "FlvCheck.h"

#include <cstdint>
#include <fstream>

namespace {

// "FLV", version, flags, then the 32-bit big-endian header size.
constexpr int kHeaderBytes = 9;
// Tag: type, 24-bit data size, 24-bit time, time extension, 24-bit stream id,
// data, then the 32-bit size of the tag just ended.
constexpr std::uint64_t kTagHeaderBytes = 11;
constexpr std::uint64_t kTagTrailerBytes = 4;

std::uint32_t big_endian(const unsigned char* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

TFlvState flv_check(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return TFlvState::not_flv;
    const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
    in.seekg(0);
    unsigned char head[kHeaderBytes];
    if (!in.read(reinterpret_cast<char*>(head), kHeaderBytes))
        return size >= 3 && head[0] == 'F' && head[1] == 'L' && head[2] == 'V'
                   ? TFlvState::truncated
                   : TFlvState::not_flv;
    if (head[0] != 'F' || head[1] != 'L' || head[2] != 'V') return TFlvState::not_flv;
    // After the header comes the size of the (absent) tag before the first.
    std::uint64_t pos = big_endian(head + 5, 4) + kTagTrailerBytes;
    if (pos > size) return TFlvState::truncated;
    while (pos < size) {
        if (pos + kTagHeaderBytes > size) return TFlvState::truncated;
        unsigned char tag[kTagHeaderBytes];
        in.seekg(static_cast<std::streamoff>(pos));
        if (!in.read(reinterpret_cast<char*>(tag), kTagHeaderBytes)) return TFlvState::truncated;
        pos += kTagHeaderBytes + big_endian(tag + 1, 3) + kTagTrailerBytes;
        if (pos > size) return TFlvState::truncated;
    }
    return TFlvState::complete;
}
