// The acceleration path's questions: may a download be kept, stored in part,
// fetched over how many connections.
#include <sstream>

#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "p2p_filter.h"
#include "resource_fixture.h"

namespace {

template <typename Hdr>
void feed(Hdr* h, const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) http_hdr_feed_line(&h->hdr, line.data(), line.size());
    http_hdr_feed_line(&h->hdr, "", 0);
}

struct Headers {
    HTTP_HDR_REQ* req = http_hdr_req_new();
    HTTP_HDR_RES* res = http_hdr_res_new();
    Headers(const std::string& host, const std::string& url, const std::string& res_lines) {
        feed(req, "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\n");
        http_hdr_req_parse_all(req);
        feed(res, "HTTP/1.1 200 OK\r\n" + res_lines);
        http_hdr_res_parse(res);
    }
    ~Headers() {
        http_hdr_req_free(req);
        http_hdr_res_free(res);
    }
};

class Checks : public resource_test::ResourceFixture {};

TEST_F(Checks, MaxConnections) {
    struct Case {
        const char* name;
        const char* host;
        std::string res;
        int want;
    };
    const Case cases[] = {
        {"ranges in bytes", "a.com", "Accept-Ranges: bytes\r\nContent-Length: 10\r\n", 5},
        {"Bytes in other letter case", "a.com", "Accept-Ranges: Bytes\r\n", 5},
        {"chunked", "a.com", "Transfer-Encoding: chunked\r\nAccept-Ranges: bytes\r\n", 1},
        {"no Accept-Ranges", "a.com", "Content-Length: 10\r\n", 1},
        {"ranges none", "a.com", "Accept-Ranges: none\r\n", 1},
        {"the whole-file site", "cdn." P2P_RESOURCE_WHOLE_FILE_SITE, "Accept-Ranges: bytes\r\n", 1},
    };
    for (const Case& c : cases) {
        Headers h(c.host, "/v.flv", c.res);
        EXPECT_EQ(resource_max_connections(h.req, h.res), c.want) << c.name;
    }
}

TEST_F(Checks, PartSaveAndAccelerate) {
    Headers plain("a.com", "/V.FLV?x=1", "Content-Type: video/flv\r\nContent-Length: 1000\r\n");
    EXPECT_TRUE(resource_can_part_save(plain.req));
    Headers site(P2P_RESOURCE_WHOLE_FILE_SITE, "/v.flv", "Content-Type: video/flv\r\n");
    EXPECT_FALSE(resource_can_part_save(site.req));

    g_client.filter = p2p_filter_new();
    g_client.filter->file_patterns =
        std::make_unique<std::vector<std::string>>(std::vector<std::string>{".+\\.flv$"});
    g_client.filter->type_patterns =
        std::make_unique<std::vector<std::string>>(std::vector<std::string>{"video/*flv$"});
    g_client.disk_free_space = 5000;
    Headers flv("a.com", "/dir/V.FLV", "Content-Type: text/plain\r\nContent-Length: 1000\r\n");
    EXPECT_TRUE(resource_can_accelerate(flv.req, flv.res));      // the URL is lowercased first
    EXPECT_TRUE(resource_can_accelerate(plain.req, plain.res));  // by its content type
    Headers html("a.com", "/page", "Content-Type: text/html\r\nContent-Length: 1000\r\n");
    EXPECT_FALSE(resource_can_accelerate(html.req, html.res));
    Headers no_type("a.com", "/a.flv", "Content-Length: 1000\r\n");
    EXPECT_FALSE(resource_can_accelerate(no_type.req, no_type.res));
    g_client.disk_free_space = 1000;  // not above the length
    EXPECT_FALSE(resource_can_accelerate(flv.req, flv.res));
    p2p_filter_free(g_client.filter);
    g_client.filter = nullptr;

    char buf[1024];
    resource_get_cache_path(buf, sizeof(buf));
    EXPECT_EQ(std::string(buf), cache());
}

}  // namespace
