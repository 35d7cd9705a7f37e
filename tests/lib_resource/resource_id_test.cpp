// The resource id: the CRC every peer must compute alike.
#include <gtest/gtest.h>

#include <string>

#include "p2p_resource.h"
#include "test_support.h"

namespace {

TEST(ResourceId, CrcOfTheNineDigits) {
    EXPECT_EQ(resource_crc64("123456789", 9), 0xCAA717168609F281ULL);
}

TEST(ResourceId, DependsOnTheFirst102396BytesAndTheLength) {
    std::string a = tarvo_test::pattern_bytes(102400, 1);
    std::string b = a;
    for (std::size_t i = 102396; i < b.size(); i++) b[i] = static_cast<char>(~b[i]);
    std::uint64_t ida = 0, idb = 0, idc = 0;
    ASSERT_EQ(resource_id_build(a.data(), static_cast<int>(a.size()), 5000000, &ida), 0);
    ASSERT_EQ(resource_id_build(b.data(), static_cast<int>(b.size()), 5000000, &idb), 0);
    EXPECT_EQ(ida, idb);
    ASSERT_EQ(resource_id_build(a.data(), static_cast<int>(a.size()), 5000001, &idc), 0);
    EXPECT_NE(ida, idc);

    // Longer sources count only to 102,400 bytes.
    std::string longer = a + "tail";
    std::uint64_t idl = 0;
    ASSERT_EQ(resource_id_build(longer.data(), static_cast<int>(longer.size()), 5000000, &idl), 0);
    EXPECT_EQ(idl, ida);
}

TEST(ResourceId, InputIsTheSourceZeroPaddedWithTheLengthAt102396) {
    std::string buf(P2P_RESOURCE_ID_INPUT, '\0');
    buf.replace(0, 5, "hello");
    const std::uint64_t len = 0x0102030405060708ULL;
    for (int i = 0; i < 8; i++) buf[102396 + i] = static_cast<char>(len >> (8 * i));
    std::uint64_t id = 0;
    ASSERT_EQ(resource_id_build("hello", 5, static_cast<std::int64_t>(len), &id), 0);
    EXPECT_EQ(id, resource_crc64(buf.data(), buf.size()));
}

TEST(ResourceId, RefusesEmptySourcesAndLengths) {
    std::uint64_t id = 7;
    EXPECT_EQ(resource_id_build("x", 0, 10, &id), -1);
    EXPECT_EQ(resource_id_build("x", 1, 0, &id), -1);
    EXPECT_EQ(resource_id_build("x", 1, -5, &id), -1);
    EXPECT_EQ(id, 7u);
}

TEST(ResourceId, KeyIsUpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(resource_key(0xCAA717168609F281ULL), "CAA717168609F281");
    EXPECT_EQ(resource_key(0xabcULL), "ABC");
}

}  // namespace
