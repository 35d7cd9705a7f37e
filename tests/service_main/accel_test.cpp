// Which exchanges the service diverts to the store, and the FLV header test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "http_accel.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "p2p_resource.h"

namespace {

struct Exchange {
    const char* name;
    const char* method;
    int status;
    int64_t length;  // -1: no Content-Length
    bool content_type;
    bool range;
    int diverted;
};

HTTP_HDR_REQ* make_request(const Exchange& c) {
    HTTP_HDR_REQ* req = http_hdr_req_new();
    std::string line = std::string(c.method) + " /v/clip.flv HTTP/1.1";
    http_hdr_append_entry(&req->hdr, http_hdr_entry_new(line.c_str()));
    http_hdr_append_entry(&req->hdr, http_hdr_entry_build("Host", "video.example"));
    if (c.range) http_hdr_append_entry(&req->hdr, http_hdr_entry_build("Range", "bytes=0-"));
    EXPECT_EQ(http_hdr_req_parse_all(req), 0);
    return req;
}

HTTP_HDR_RES* make_response(const Exchange& c) {
    HTTP_HDR_RES* res = http_hdr_res_new();
    std::string line = "HTTP/1.1 " + std::to_string(c.status) + " Whatever";
    http_hdr_append_entry(&res->hdr, http_hdr_entry_new(line.c_str()));
    if (c.length >= 0)
        http_hdr_append_entry(
            &res->hdr, http_hdr_entry_build("Content-Length", std::to_string(c.length).c_str()));
    if (c.content_type)
        http_hdr_append_entry(&res->hdr, http_hdr_entry_build("Content-Type", "video/x-flv"));
    EXPECT_EQ(http_hdr_res_parse(res), 0);
    return res;
}

class AccelDecision : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_left_ = g_client.space_left.load();
        saved_free_ = g_client.disk_free_space.load();
        g_client.space_left = 1ULL << 40;
        g_client.disk_free_space = 1ULL << 40;
    }
    void TearDown() override {
        g_client.space_left = saved_left_;
        g_client.disk_free_space = saved_free_;
    }

    int decide(const Exchange& c) {
        HTTP_HDR_REQ* req = make_request(c);
        HTTP_HDR_RES* res = make_response(c);
        int r = http_accel_can_hook(req, res);
        http_hdr_res_free(res);
        http_hdr_req_free(req);
        return r;
    }

  private:
    uint64_t saved_left_ = 0;
    uint64_t saved_free_ = 0;
};

TEST_F(AccelDecision, TableOfExchanges) {
    const Exchange cases[] = {
        {"exactly the minimum", "GET", 200, 1048576, true, false, 1},
        {"one byte short", "GET", 200, 1048575, true, false, 0},
        {"large", "GET", 200, 50LL << 20, true, false, 1},
        {"no length", "GET", 200, -1, true, false, 0},
        {"no Content-Type", "GET", 200, 1048576, false, false, 0},
        {"request with Range", "GET", 200, 1048576, true, true, 0},
        {"HEAD", "HEAD", 200, 1048576, true, false, 0},
        {"head in lower case", "head", 200, 1048576, true, false, 0},
        {"302", "GET", 302, 1048576, true, false, 0},
        {"301 first refused status", "GET", 301, 1048576, true, false, 0},
        {"499 last refused status", "GET", 499, 1048576, true, false, 0},
        {"300 still diverted", "GET", 300, 1048576, true, false, 1},
    };
    for (const Exchange& c : cases) EXPECT_EQ(decide(c), c.diverted) << c.name;
}

TEST_F(AccelDecision, NotDivertedWithoutRoomInTheCacheOrOnDisk) {
    const Exchange big = {"big", "GET", 200, 10LL << 20, true, false, 0};
    g_client.space_left = 10ULL << 20;  // the length must stay below the quota left
    EXPECT_EQ(decide(big), 0);
    g_client.space_left = 1ULL << 40;
    g_client.disk_free_space = 10ULL << 20;
    EXPECT_EQ(decide(big), 0);
    g_client.disk_free_space = (10ULL << 20) + 1;
    EXPECT_EQ(decide(big), 1);
}

TEST(FlvHead, Table) {
    struct Case {
        const char* name;
        std::string bytes;
        int ok;
    };
    const std::string tail(8, '\0');  // header offset and first tag size
    const Case cases[] = {
        {"audio and video", std::string("FLV\x01\x05", 5) + tail, 1},
        {"audio only", std::string("FLV\x01\x04", 5) + tail, 1},
        {"video only", std::string("FLV\x01\x01", 5) + tail, 1},
        {"no streams", std::string("FLV\x01\x00", 5) + tail, 0},
        {"unknown flag", std::string("FLV\x01\x02", 5) + tail, 0},
        {"other signature", std::string("FLW\x01\x05", 5) + tail, 0},
        {"one byte short", std::string("FLV\x01\x05", 5) + tail.substr(1), 0},
        {"empty", std::string(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(flv_head_ok(c.bytes.data(), static_cast<int>(c.bytes.size())), c.ok) << c.name;
}

}  // namespace
