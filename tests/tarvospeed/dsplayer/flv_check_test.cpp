// The whole-file check of ".flv" files, on bytes made by hand.
#include <gtest/gtest.h>

#include "FlvCheck.h"
#include "test_support.h"

namespace {

std::string be(std::uint32_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
}

std::string tag(int type, const std::string& data) {
    return static_cast<char>(type) + be(static_cast<std::uint32_t>(data.size()), 3) +
           std::string(7, '\0') + data + be(static_cast<std::uint32_t>(11 + data.size()), 4);
}

TEST(FlvCheck, TellsWholeCutAndForeignFilesApart) {
    const std::string header = std::string("FLV\x01\x05", 5) + be(9, 4) + be(0, 4);
    const std::string whole =
        header + tag(18, "meta") + tag(9, std::string(300, 'v')) + tag(8, std::string(40, 'a'));
    const struct {
        std::string bytes;
        TFlvState state;
    } cases[] = {
        {whole, TFlvState::complete},
        {header, TFlvState::complete},
        {whole.substr(0, whole.size() - 1), TFlvState::truncated},
        {whole.substr(0, whole.size() - 50), TFlvState::truncated},
        {whole.substr(0, header.size() + 5), TFlvState::truncated},
        {header.substr(0, 6), TFlvState::truncated},
        {"plain text, not a video", TFlvState::not_flv},
        {"", TFlvState::not_flv},
    };
    tarvo_test::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir.file("case" + std::to_string(n++) + ".flv");
        tarvo_test::write_file(path, c.bytes);
        EXPECT_EQ(flv_check(path), c.state) << "case " << n - 1;
    }
    EXPECT_EQ(flv_check(dir.file("absent.flv")), TFlvState::not_flv);
}

}  // namespace
