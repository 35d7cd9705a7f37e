// The resource id: every peer that stores the same video must compute the
// same number, so the layout of the CRC's input is fixed to the byte.
#include <array>
#include <cstring>
#include <vector>

#include "acl_msg.h"
#include "p2p_resource.h"

namespace {

constexpr std::uint64_t kJonesReflected = 0x95AC9329AC4BC9B5ULL;
constexpr std::size_t kLengthOffset = 102396;  // the content length overwrites the source here

std::array<std::uint64_t, 256> make_table() {
    std::array<std::uint64_t, 256> t{};
    for (std::uint64_t i = 0; i < 256; i++) {
        std::uint64_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ kJonesReflected : c >> 1;
        t[i] = c;
    }
    return t;
}

}  // namespace

std::uint64_t resource_crc64(const void* data, std::size_t n) {
    static const std::array<std::uint64_t, 256> table = make_table();
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint64_t crc = ~0ULL;
    for (std::size_t i = 0; i < n; i++) crc = table[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
    return crc;
}

int resource_id_build(const char* src, int n, std::int64_t content_len, std::uint64_t* id) {
    if (src == nullptr) acl_msg_fatal("%s(%d): src_buf is null.", __func__, __LINE__);
    if (n <= 0) {
        acl_msg_error("%s(%d): invalid parameter. src_buf_size(%d) should be > 0", __func__,
                      __LINE__, n);
        return -1;
    }
    if (content_len <= 0) {
        acl_msg_error("%s(%d): invalid parameter. content_len(%d) should be > 0", __func__,
                      __LINE__, static_cast<int>(content_len));
        return -1;
    }
    std::vector<unsigned char> buf(P2P_RESOURCE_ID_INPUT, 0);
    std::size_t take = static_cast<std::size_t>(n) < P2P_RESOURCE_ID_SOURCE
                           ? static_cast<std::size_t>(n)
                           : P2P_RESOURCE_ID_SOURCE;
    std::memcpy(buf.data(), src, take);
    std::uint64_t len = static_cast<std::uint64_t>(content_len);
    for (int i = 0; i < 8; i++) buf[kLengthOffset + i] = static_cast<unsigned char>(len >> (8 * i));
    *id = resource_crc64(buf.data(), buf.size());
    return 0;
}

std::string resource_key(std::uint64_t id) {
    char key[17];
    std::snprintf(key, sizeof(key), "%llX", static_cast<unsigned long long>(id));
    return key;
}
