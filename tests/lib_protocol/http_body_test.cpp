// Body framing: chunked, length-delimited and read-until-close bodies, and
// the malformed framings that must end in an error rather than a misread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http_body.h"
#include "http_status.h"
#include "http_test_util.h"

namespace {

struct BodyFree {
    void operator()(HTTP_BODY* b) const { http_body_free(b); }
};

std::vector<Delivery> read(const std::string& wire, int chunked, int64_t length,
                           size_t piece = 8192, int until_close = 1) {
    std::unique_ptr<HTTP_BODY, BodyFree> body(http_body_new());
    http_body_start(body.get(), chunked, length, until_close);
    return read_body(body.get(), wire, piece);
}

}  // namespace

TEST(HttpBody, ChunkedDeliveryAsRead) {
    std::vector<Delivery> expected = {
        {HTTP_CHAT_CHUNK_HDR, "5\r\n"}, {HTTP_CHAT_DATA, "hello"},         {HTTP_CHAT_DATA, "\r\n"},
        {HTTP_CHAT_CHUNK_HDR, "0\r\n"}, {HTTP_CHAT_CHUNK_TRAILER, "\r\n"}, {HTTP_CHAT_OK, "15"},
    };
    EXPECT_EQ(read("5\r\nhello\r\n0\r\n\r\n", 1, -1), expected);
}

TEST(HttpBody, ChunkedWithExtensionsTrailersAndBarelineBreaks) {
    std::vector<Delivery> expected = {
        {HTTP_CHAT_CHUNK_HDR, "A;name=v\n"},
        {HTTP_CHAT_DATA, "0123"},
        {HTTP_CHAT_DATA, "4567"},
        {HTTP_CHAT_DATA, "89"},
        {HTTP_CHAT_DATA, "\n"},
        {HTTP_CHAT_CHUNK_HDR, "0\r\n"},
        {HTTP_CHAT_CHUNK_TRAILER, "X-Sum: 1\r\n"},
        {HTTP_CHAT_CHUNK_TRAILER, "\n"},
        {HTTP_CHAT_OK, "34"},
    };
    EXPECT_EQ(read("A;name=v\n0123456789\n0\r\nX-Sum: 1\r\n\nleft over", 1, -1, 4), expected);
}

TEST(HttpBody, MalformedChunkFramingFails) {
    const struct {
        const char* name;
        std::string wire;
    } cases[] = {
        {"size does not fit 63 bits", "8000000000000000\r\n"},
        {"seventeen hex digits", "10000000000000000\r\n"},
        {"negative size", "-5\r\n"},
        {"not hexadecimal", "zz\r\n"},
        {"digits then junk", "5x\r\n"},
        {"blank before the size", " 5\r\nhello\r\n0\r\n\r\n"},
        {"hex prefix", "0x5\r\nhello\r\n0\r\n\r\n"},
        {"empty size line", "\r\n"},
        {"chunk longer than its size", "3\r\nabcdef\r\n0\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Delivery> out = read(c.wire, 1, -1);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back().status, HTTP_CHAT_ERR_PROTO);
    }
    int64_t size = 0;
    EXPECT_EQ(http_body_chunk_size("7fffffffffffffff\r\n", 18, &size), 0);
    EXPECT_EQ(size, INT64_MAX);
}

TEST(HttpBody, CloseBeforeTheEnd) {
    EXPECT_EQ(read("5\r\nhel", 1, -1).back().status, HTTP_CHAT_ERR_IO);
    EXPECT_EQ(read("5\r\nhello\r\n0\r\nX: 1\r\n", 1, -1).back().status, HTTP_CHAT_ERR_IO);
    EXPECT_EQ(read("abc", 0, 10).back().status, HTTP_CHAT_ERR_IO);
}

TEST(HttpBody, LengthDelimitedStopsAtTheLength) {
    std::vector<Delivery> expected = {
        {HTTP_CHAT_DATA, "abcd"}, {HTTP_CHAT_DATA, "ef"}, {HTTP_CHAT_OK, "6"}};
    EXPECT_EQ(read("abcdefEXTRA", 0, 6, 4), expected);
}

TEST(HttpBody, UntilCloseOrNothing) {
    std::vector<Delivery> expected = {
        {HTTP_CHAT_DATA, "abc"}, {HTTP_CHAT_DATA, "de"}, {HTTP_CHAT_OK, "5"}};
    EXPECT_EQ(read("abcde", 0, -1, 3), expected);
    EXPECT_EQ(read("abcde", 0, 0, 3), expected);
    // A request body without length or chunking has nothing to read.
    std::vector<Delivery> none = {{HTTP_CHAT_OK, "0"}};
    EXPECT_EQ(read("abcde", 0, -1, 3, 0), none);
}
