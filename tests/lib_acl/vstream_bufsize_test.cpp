// The read buffer of a stream resized while it holds unread bytes: nothing is
// lost or reordered, and one read call then fills the larger buffer.
#include <gtest/gtest.h>

#include <string>

#include "acl_vstream.h"
#include "platform/fd_file.h"
#include "test_support.h"

namespace {

std::string numbered_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

TEST(VstreamBufsize, ResizeKeepsUnreadBytesAndSetsTheReadSize) {
    tarvo_test::TempDir dir;
    std::string path = dir.file("data.bin");
    const std::string data = numbered_bytes(300000);
    ACL_VSTREAM* w = acl_vstream_fopen(
        path.c_str(), platform::FD_WRITE | platform::FD_CREATE | platform::FD_TRUNCATE, 0600, 0);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(acl_vstream_writen(w, data.data(), data.size()), static_cast<int>(data.size()));
    acl_vstream_close(w);

    ACL_VSTREAM* r = acl_vstream_fopen(path.c_str(), platform::FD_READ, 0, 0);
    ASSERT_NE(r, nullptr);
    std::string got(data.size(), '\0');
    size_t off = 0;
    // One refill of the default buffer, partly consumed: the rest sits past
    // the buffer's start.
    ASSERT_EQ(acl_vstream_read(r, got.data(), 100), 100);
    off += 100;
    ASSERT_EQ(ACL_VSTREAM_BFRD_CNT(r), static_cast<size_t>(ACL_VSTREAM_BUFSIZE - 100));

    // Grow: the unread bytes stay and come first.
    acl_vstream_set_bufsize(r, 65536);
    EXPECT_EQ(acl_vstream_bufsize(r), 65536u);
    EXPECT_EQ(ACL_VSTREAM_BFRD_CNT(r), static_cast<size_t>(ACL_VSTREAM_BUFSIZE - 100));
    int n = acl_vstream_read(r, got.data() + off, got.size() - off);
    ASSERT_EQ(n, ACL_VSTREAM_BUFSIZE - 100);
    off += static_cast<size_t>(n);
    // The next refill takes a whole 64 KiB in one call.
    n = acl_vstream_read(r, got.data() + off, got.size() - off);
    ASSERT_EQ(n, 65536);
    off += static_cast<size_t>(n);

    // Shrink below what is unread: the size stops at the unread count.
    ASSERT_EQ(acl_vstream_read(r, got.data() + off, 10), 10);  // a refill, 10 bytes taken
    off += 10;
    size_t unread = ACL_VSTREAM_BFRD_CNT(r);
    ASSERT_EQ(unread, 65536u - 10);
    acl_vstream_set_bufsize(r, 0);
    EXPECT_EQ(acl_vstream_bufsize(r), unread);
    EXPECT_EQ(ACL_VSTREAM_BFRD_CNT(r), unread);

    // And below the floor once drained: raised to ACL_VSTREAM_BUFSIZE.
    ASSERT_EQ(acl_vstream_readn(r, got.data() + off, unread), static_cast<int>(unread));
    off += unread;
    acl_vstream_set_bufsize(r, 100);
    EXPECT_EQ(acl_vstream_bufsize(r), static_cast<size_t>(ACL_VSTREAM_BUFSIZE));

    ASSERT_EQ(acl_vstream_readn(r, got.data() + off, got.size() - off),
              static_cast<int>(got.size() - off));
    EXPECT_EQ(got, data);
    char extra;
    EXPECT_EQ(acl_vstream_read(r, &extra, 1), ACL_VSTREAM_EOF);
    acl_vstream_close(r);
}

}  // namespace
