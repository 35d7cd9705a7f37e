// The header model: request and status lines, common fields, entries, output,
// redirects and clones.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "http_hdr.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_test_util.h"

namespace {

struct ReqFree {
    void operator()(HTTP_HDR_REQ* r) const { http_hdr_req_free(r); }
};
struct ResFree {
    void operator()(HTTP_HDR_RES* r) const { http_hdr_res_free(r); }
};
using ReqPtr = std::unique_ptr<HTTP_HDR_REQ, ReqFree>;
using ResPtr = std::unique_ptr<HTTP_HDR_RES, ResFree>;

ReqPtr read_request(const std::string& text) {
    ReqPtr req(http_hdr_req_new());
    EXPECT_EQ(feed_header(&req->hdr, text), HTTP_CHAT_OK) << text;
    return req;
}

ResPtr read_response(const std::string& text) {
    ResPtr res(http_hdr_res_new());
    EXPECT_EQ(feed_header(&res->hdr, text), HTTP_CHAT_OK) << text;
    return res;
}

std::string build_request(const HTTP_HDR_REQ* req) {
    std::string out;
    http_hdr_build_request(req, out);
    return out;
}

struct RequestCase {
    const char* name;
    std::string text;
    int result;
    std::string host;
    int port;
    std::string url_part;
    std::string url_path;
    std::map<std::string, std::string> params;
    unsigned major, minor;
};

}  // namespace

TEST(HttpHdrReq, RequestLines) {
    const RequestCase cases[] = {
        {"absolute URL without Host",
         "GET http://www.example.com/x/./y/../z?p=1&p=2&q HTTP/1.1\r\nAccept: */*\r\n\r\n",
         0,
         "www.example.com",
         80,
         "/x/./y/../z?p=1&p=2&q",
         "/x/y/z",
         {{"p", "1"}},
         1,
         1},
        {"single piece path, version 1.0",
         "GET /index.html HTTP/1.0\r\nHost: a.com\r\n\r\n",
         0,
         "a.com",
         80,
         "/index.html",
         "index.html",
         {},
         1,
         0},
        {"CONNECT with Host",
         "CONNECT host:443 HTTP/1.1\r\nHost: host:443\r\n\r\n",
         0,
         "host:443",
         443,
         "/",
         "/",
         {},
         1,
         1},
        {"CONNECT without Host names the host",
         "CONNECT mail.example.com:993 HTTP/1.0\r\n\r\n",
         0,
         "mail.example.com:993",
         993,
         "/",
         "/",
         {},
         1,
         0},
        {"port from Host, trailing slash kept",
         "post /a/ HTTP/1.1\r\nhost: h:8080\r\n\r\n",
         0,
         "h:8080",
         8080,
         "/a/",
         "a/",
         {},
         1,
         1},
        {"https URL wins over the host's port",
         "HEAD https://s.com:8443/v HTTP/1.1\r\n\r\n",
         0,
         "s.com:8443",
         443,
         "/v",
         "v",
         {},
         1,
         1},
        {"the URL's authority wins over the Host entry",
         "GET http://url.com/ HTTP/1.1\r\nHost: hdr.com\r\n\r\n",
         0,
         "url.com",
         80,
         "/",
         "/",
         {},
         1,
         1},
        {"absolute URL without a path",
         "GET http://bare.com HTTP/1.1\r\n\r\n",
         0,
         "bare.com",
         80,
         "/",
         "/",
         {},
         1,
         1},
        {"port 0 becomes 80",
         "GET / HTTP/1.1\r\nHost: z.com:0\r\n\r\n",
         0,
         "z.com:0",
         80,
         "/",
         "/",
         {},
         1,
         1},
        {"empty query",
         "GET /a/b?  HTTP/1.1\r\nHost: q\r\n\r\n",
         0,
         "q",
         80,
         "/a/b?",
         "/a/b",
         {},
         1,
         1},
        {"tabs between parts",
         "GET\t/a\tHTTP/1.1\r\nHost: t\r\n\r\n",
         0,
         "t",
         80,
         "/a",
         "a",
         {},
         1,
         1},
        {"any token method",
         "PATCH /a HTTP/1.1\r\nHost: x\r\n\r\n",
         0,
         "x",
         80,
         "/a",
         "a",
         {},
         1,
         1},
        {"method not a token", "GE(T /a HTTP/1.1\r\nHost: x\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"user information is no host",
         "GET http://user:pw@u.com:81/p HTTP/1.1\r\n\r\n",
         0,
         "u.com:81",
         81,
         "/p",
         "p",
         {},
         1,
         1},
        {"three parts", "GET /a b HTTP/1.1\r\nHost: x\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"no version", "GET /a\r\nHost: x\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"not HTTP", "GET /a FTP/1.1\r\nHost: x\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"version too large", "GET /a HTTP/4294967296.1\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"version without minor", "GET /a HTTP/1\r\n\r\n", -1, "", 80, "", "", {}, 0, 0},
        {"negative Content-Length",
         "POST /a HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
         -1,
         "",
         80,
         "",
         "",
         {},
         0,
         0},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReqPtr req = read_request(c.text);
        ASSERT_EQ(http_hdr_req_parse_all(req.get()), c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(req->host, c.host);
        EXPECT_EQ(req->port, c.port);
        EXPECT_EQ(req->url_part, c.url_part);
        EXPECT_EQ(req->url_path, c.url_path);
        std::map<std::string, std::string> params(req->params.begin(), req->params.end());
        EXPECT_EQ(params, c.params);
        EXPECT_EQ(req->hdr.version_major, c.major);
        EXPECT_EQ(req->hdr.version_minor, c.minor);
        EXPECT_STREQ(req->hdr.proto, "HTTP");
    }
}

TEST(HttpHdrReq, PathNormalisation) {
    const std::pair<std::string, std::string> cases[] = {
        {"/x/./y/../z", "/x/y/z"},
        {"/index.html", "index.html"},
        {"/", "/"},
        {"//a//b//", "/a/b/"},
        {"/./../", "/"},
        {"", ""},
        {"/a/..", "a"},
        {"/..", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(http_hdr_req_path_normal(in), out) << in;
}

TEST(HttpHdrReq, RequestIsWrittenInPathFormWithVersion11) {
    ReqPtr req = read_request(
        "GET http://a.com/index.html HTTP/1.0\r\nHost: a.com\r\nAccept-Encoding: gzip\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    EXPECT_EQ(build_request(req.get()),
              "GET /index.html HTTP/1.1\r\nHost: a.com\r\nAccept-Encoding: gzip\r\n\r\n");
}

TEST(HttpHdrReq, DisabledEntryIsSentRenamedAndNoLongerFound) {
    ReqPtr req = read_request("GET / HTTP/1.1\r\nHost: a\r\nAccept-Encoding: gzip\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    EXPECT_EQ(http_hdr_entry_off(&req->hdr, "accept-encoding"), 0);
    EXPECT_EQ(http_hdr_entry(&req->hdr, "Accept-Encoding"), nullptr);
    EXPECT_EQ(http_hdr_entry_off(&req->hdr, "Accept-Encoding"), -1);
    EXPECT_EQ(build_request(req.get()),
              "GET / HTTP/1.1\r\nHost: a\r\n_ccept-Encoding: gzip\r\n\r\n");
}

TEST(HttpHdrReq, Cookies) {
    ReqPtr req = read_request(
        "GET / HTTP/1.1\r\nHost: a\r\n"
        "Cookie: a=1; b=x=y;a=2; lone;  sid =s1 tail; tok=abc==; =nameless\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    std::map<std::string, std::string> cookies(req->cookies.begin(), req->cookies.end());
    std::map<std::string, std::string> expected = {
        {"a", "1"}, {"b", "x=y"}, {"sid", "s1"}, {"tok", "abc=="}};
    EXPECT_EQ(cookies, expected);
    EXPECT_STREQ(http_hdr_req_cookie_get(req.get(), "b"), "x=y");
    EXPECT_EQ(http_hdr_req_cookie_get(req.get(), "lone"), nullptr);
}

TEST(HttpHdrReq, ParsingAgainAfterEditsStartsAfresh) {
    ReqPtr req = read_request("GET /a?k=1 HTTP/1.1\r\nHost: one\r\nConnection: keep-alive\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    EXPECT_EQ(req->hdr.keep_alive, 1);
    http_hdr_entry_replace(&req->hdr, "Connection", "close", 1);
    http_hdr_entry_replace(&req->hdr, "Host", "two:81", 0);
    req->hdr.entries[0]->value = "/b?k=2 HTTP/1.1";
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    EXPECT_EQ(req->hdr.keep_alive, 0);
    EXPECT_STREQ(req->host, "two:81");
    EXPECT_EQ(req->port, 81);
    EXPECT_STREQ(http_hdr_req_param(req.get(), "k"), "2");
}

TEST(HttpHdrReq, Redirect) {
    ReqPtr req = read_request(
        "GET /old HTTP/1.0\r\nHost: old.com\r\nRange: bytes=0-9\r\nCookie: a=1\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);

    ReqPtr moved(http_hdr_req_redirect(req.get(), "http://new.com:8080/v/f.flv?x=1"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(build_request(moved.get()),
              "GET /v/f.flv?x=1 HTTP/1.1\r\nHost: new.com:8080\r\nRange: bytes=0-9\r\n"
              "Cookie: a=1\r\n\r\n");
    EXPECT_EQ(moved->hdr.entries[0]->value, "http://new.com:8080/v/f.flv?x=1 HTTP/1.0");
    EXPECT_STREQ(moved->host, "new.com:8080");
    EXPECT_EQ(moved->port, 8080);
    EXPECT_STREQ(http_hdr_req_cookie_get(moved.get(), "a"), "1");

    ReqPtr relative(http_hdr_req_redirect(req.get(), "/elsewhere"));
    ASSERT_TRUE(relative);
    EXPECT_STREQ(relative->host, "old.com");
    EXPECT_EQ(relative->url_part, "/elsewhere");

    EXPECT_EQ(http_hdr_req_redirect(req.get(), "http://a.com/with space"), nullptr);
    ReqPtr empty(http_hdr_req_new());
    EXPECT_EQ(http_hdr_req_redirect(empty.get(), "http://a.com/"), nullptr);
}

TEST(HttpHdrReq, CloneSharesNoMemory) {
    ReqPtr req =
        read_request("GET http://c.com/p/q?a=1 HTTP/1.1\r\nHost: c.com\r\nCookie: s=2\r\nX-Long: " +
                     std::string(1000, 'v') + "\r\n\r\n");
    ASSERT_EQ(http_hdr_req_parse_all(req.get()), 0);
    req->file_path = "/tmp/somewhere";
    ReqPtr copy(http_hdr_req_clone(req.get()));
    std::string before;
    http_hdr_build(&req->hdr, before);
    req.reset();  // the copy must not use anything the original owned

    std::string after;
    http_hdr_build(&copy->hdr, after);
    EXPECT_EQ(after, before);
    EXPECT_STREQ(copy->host, "c.com");
    EXPECT_STREQ(copy->method, "GET");
    EXPECT_EQ(copy->url_path, "/p/q");
    EXPECT_EQ(copy->file_path, "/tmp/somewhere");
    EXPECT_STREQ(http_hdr_req_param(copy.get(), "a"), "1");
    EXPECT_STREQ(http_hdr_req_cookie_get(copy.get(), "s"), "2");
    EXPECT_EQ(http_hdr_entry_replace(&copy->hdr, "X-Long", "short", 0), 0);
    EXPECT_EQ(http_hdr_req_parse_all(copy.get()), 0);
}

TEST(HttpHdrRes, CloneSharesNoMemory) {
    ResPtr res = read_response("HTTP/1.1 206 Partial\r\nContent-Length: 10\r\n\r\n");
    ASSERT_EQ(http_hdr_res_parse(res.get()), 0);
    res->url = "http://a.com/x";
    res->reason = "partial";
    ResPtr copy(http_hdr_res_clone(res.get()));
    res.reset();
    EXPECT_EQ(copy->reply_status, 206);
    EXPECT_EQ(copy->hdr.content_length, 10);
    EXPECT_EQ(copy->url, "http://a.com/x");
    EXPECT_EQ(copy->reason, "partial");
    EXPECT_STREQ(http_hdr_entry_value(&copy->hdr, "content-length"), "10");
}

TEST(HttpHdrRes, StatusLines) {
    const struct {
        std::string line;
        int result;
        int status;
    } cases[] = {
        {"HTTP/1.1 200 OK", 0, 200}, {"HTTP/1.0 404 Not Found", 0, 404},
        {"HTTP/1.1   599", 0, 599},  {"HTTP/1.1 100 Continue", 0, 100},
        {"HTTP/1.1 99 Low", -1, 0},  {"HTTP/1.1 600 High", -1, 0},
        {"HTTP/1.1 abc", -1, 0},     {"HTTP/1.1 99999999999999999999 Big", -1, 0},
        {"ICY 200 OK", 0, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ResPtr res = read_response(c.line + "\r\nServer: s\r\n\r\n");
        EXPECT_EQ(http_hdr_res_parse(res.get()), c.result);
        EXPECT_EQ(res->reply_status, c.status);
    }
    ResPtr res = read_response("HTTP/1.1 304 Not Modified\r\n\r\n");
    ASSERT_EQ(http_hdr_res_parse(res.get()), 0);
    EXPECT_EQ(res->hdr.version_major, 1u);
    EXPECT_EQ(res->hdr.version_minor, 1u);
}

TEST(HttpHdr, CommonFields) {
    const struct {
        const char* name;
        std::string fields;
        int result;
        int64_t length;
        int chunked;
        int keep_alive;
    } cases[] = {
        {"length", "Content-Length: 1048576\r\n", 0, 1048576, 0, 0},
        {"largest length", "Content-Length: 9223372036854775807\r\n", 0, INT64_MAX, 0, 0},
        {"negative length", "Content-Length: -5\r\n", -1, -1, 0, 0},
        {"overflowing length", "Content-Length: 9223372036854775808\r\n", -1, -1, 0, 0},
        {"text length", "Content-Length: ten\r\n", -1, -1, 0, 0},
        {"empty-ish length", "Content-Length:  \t\r\n", 0, -1, 0, 0},
        {"chunked, any case", "transfer-encoding: CHUNKED\r\n", 0, -1, 1, 0},
        {"other coding", "Transfer-Encoding: gzip\r\n", 0, -1, 0, 0},
        {"keep-alive", "Proxy-Connection: Keep-Alive\r\n", 0, -1, 0, 1},
        {"close", "Connection: close\r\n", 0, -1, 0, 0},
        {"framing fields after twelve recognised ones are interpreted",
         "Date: d\r\nServer: s\r\nAge: 1\r\nETag: e\r\nCache-Control: c\r\nContent-Type: t\r\n"
         "Accept-Ranges: bytes\r\nLast-Modified: l\r\nContent-Encoding: x\r\nX-Other: o\r\n"
         "Date: d\r\nServer: s\r\nAge: 2\r\nTransfer-Encoding: chunked\r\n",
         0, -1, 1, 0},
        {"equal lengths are one length", "Content-Length: 7\r\nContent-Length: 7, 7\r\n", 0, 7, 0,
         0},
        {"differing lengths: read until close", "Content-Length: 7\r\nContent-Length: 8\r\n", 0, -1,
         0, 0},
        {"length and chunked: read until close",
         "Content-Length: 7\r\nTransfer-Encoding: chunked\r\n", 0, -1, 0, 0},
        {"chunked not last: read until close", "Transfer-Encoding: chunked, gzip\r\n", 0, -1, 0, 0},
        {"chunked last of two fields", "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
         0, -1, 1, 0},
        {"signed length", "Content-Length: +5\r\n", -1, -1, 0, 0},
        {"eleventh and twelfth are interpreted",
         "Date: d\r\nServer: s\r\nAge: 1\r\nETag: e\r\nCache-Control: c\r\nContent-Type: t\r\n"
         "Accept-Ranges: bytes\r\nLast-Modified: l\r\nContent-Encoding: x\r\nX-Other: o\r\n"
         "Date: d\r\nContent-Length: 5\r\n",
         0, 5, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResPtr res = read_response("HTTP/1.1 200 OK\r\n" + c.fields + "\r\n");
        EXPECT_EQ(http_hdr_res_parse(res.get()), c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(res->hdr.content_length, c.length);
        EXPECT_EQ(res->hdr.chunked, c.chunked);
        EXPECT_EQ(res->hdr.keep_alive, c.keep_alive);
    }
}

TEST(HttpHdr, LineLimit) {
    auto lines = [](int n) {
        std::string text = "GET / HTTP/1.1\r\n";
        for (int i = 1; i < n; i++) text += "X-" + std::to_string(i) + ": v\r\n";
        return text;
    };
    HTTP_HDR ok;
    EXPECT_EQ(feed_header(&ok, lines(1023) + "\r\n"), HTTP_CHAT_OK);
    EXPECT_EQ(ok.entries.size(), 1023u);

    HTTP_HDR too_long;
    EXPECT_EQ(feed_header(&too_long, lines(1025) + "\r\n"), HTTP_CHAT_ERR_TOO_MANY_LINES);
    EXPECT_EQ(too_long.cur_lines, 1025);

    // Empty lines count too, whether or not they come before the header.
    HTTP_HDR blank;
    EXPECT_EQ(feed_header(&blank, std::string(1025, '\n')), HTTP_CHAT_ERR_TOO_MANY_LINES);

    HTTP_HDR unlimited;
    unlimited.max_lines = 0;
    EXPECT_EQ(feed_header(&unlimited, lines(2000) + "\r\n"), HTTP_CHAT_OK);
}

TEST(HttpHdr, HeaderPastSixtyFourKibibytesEndsTheRead) {
    // Few lines, each long: the line limit alone would let them through.
    std::string big(40 * 1024, 'v');
    HTTP_HDR two;
    EXPECT_EQ(feed_header(&two, "GET / HTTP/1.1\r\nA: " + big + "\r\nB: " + big + "\r\n\r\n"),
              HTTP_CHAT_ERR_TOO_MANY_LINES);
    HTTP_HDR one;
    EXPECT_EQ(feed_header(&one, "GET / HTTP/1.1\r\nA: " + big + "\r\n\r\n"), HTTP_CHAT_OK);
}

TEST(HttpHdr, FaultyLinesFailTheParseOfRequestsAndResponses) {
    const struct {
        const char* name;
        std::string line;
        int fault;
    } cases[] = {
        {"bare CR in a value", "X-A: a\rTransfer-Encoding: chunked", HTTP_HDR_LINE_CTL},
        {"NUL in a value", std::string("X-A: a\0b", 8), HTTP_HDR_LINE_CTL},
        {"obs-fold", " folded", HTTP_HDR_LINE_FOLD},
        {"tab fold", "\tfolded", HTTP_HDR_LINE_FOLD},
        {"blank before the colon", "Transfer-Encoding : chunked", HTTP_HDR_LINE_FIELD},
        {"no colon", "Content-Length 5", HTTP_HDR_LINE_FIELD},
        {"name not a token", "X(A): v", HTTP_HDR_LINE_FIELD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReqPtr req = read_request("POST / HTTP/1.1\r\nHost: a\r\n" + c.line + "\r\n\r\n");
        EXPECT_EQ(req->hdr.line_fault, c.fault);
        EXPECT_EQ(http_hdr_req_parse_all(req.get()), -1);
        ResPtr res = read_response("HTTP/1.1 200 OK\r\n" + c.line + "\r\n\r\n");
        EXPECT_EQ(http_hdr_res_parse(res.get()), -1);
    }
    ReqPtr fine = read_request("GET / HTTP/1.1\r\nHost: a\r\nX-Tab:\tv\r\n\r\n");
    EXPECT_EQ(http_hdr_req_parse_all(fine.get()), 0);
}

TEST(HttpHdrReq, RequestsWhoseBodyEndCouldBeReadTwoWaysAreRefused) {
    const struct {
        const char* name;
        std::string fields;
        int result;
    } cases[] = {
        {"length and chunked", "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", -1},
        {"chunked and length", "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", -1},
        {"lengths that differ", "Content-Length: 5\r\nContent-Length: 6\r\n", -1},
        {"length list that differs", "Content-Length: 5, 6\r\n", -1},
        {"last coding not chunked", "Transfer-Encoding: chunked, gzip\r\n", -1},
        {"no chunked at all", "Transfer-Encoding: gzip\r\n", -1},
        {"chunked spelt otherwise", "Transfer-Encoding: xchunked\r\n", -1},
        {"equal lengths", "Content-Length: 5\r\nContent-Length: 5\r\n", 0},
        {"gzip then chunked", "Transfer-Encoding: gzip, chunked\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReqPtr req = read_request("POST / HTTP/1.1\r\nHost: a\r\n" + c.fields + "\r\n");
        EXPECT_EQ(http_hdr_req_parse_all(req.get()), c.result);
    }
}

TEST(HttpHdr, EntryDeleteRemovesEveryFieldOfTheNameButTheStartLine) {
    HTTP_HDR hdr;
    http_hdr_put_str(&hdr, "Host", "start line named like a field");
    http_hdr_put_str(&hdr, "host", "a");
    http_hdr_put_str(&hdr, "X", "1");
    http_hdr_put_str(&hdr, "HOST", "b");
    EXPECT_EQ(http_hdr_entry_delete(&hdr, "Host"), 2);
    std::string out;
    http_hdr_build(&hdr, out);
    EXPECT_EQ(out, "Host start line named like a field\r\nX: 1\r\n\r\n");
}

TEST(HttpHdr, LeadingEmptyLinesAreSkipped) {
    HTTP_HDR hdr;
    EXPECT_EQ(feed_header(&hdr, "\r\n\r\nHTTP/1.1 200 OK\r\n\r\n"), HTTP_CHAT_OK);
    ASSERT_EQ(hdr.entries.size(), 1u);
    EXPECT_EQ(hdr.valid_lines, 1);
    EXPECT_EQ(hdr.cur_lines, 4);
}

TEST(HttpHdr, EntrySplitting) {
    const struct {
        std::string line;
        bool made;
        std::string name, value;
    } cases[] = {
        {"Host: a.com", true, "Host", "a.com"},
        {"Host:a.com:80", true, "Host", "a.com:80"},
        {"Name \t:: value with: colon ", true, "Name", "value with: colon "},
        {"GET / HTTP/1.1", true, "GET", "/ HTTP/1.1"},
        {"NoSeparator", false, "", ""},
        {"Name:", false, "", ""},
        {"Name : \t", false, "", ""},
        {": value", false, "", ""},
        {" folded continuation", false, "", ""},
        {"Bin\x01\xff: \x7f\x80", true, "Bin\x01\xff", "\x7f\x80"},
        {std::string("A\0B: v\0w", 8), true, std::string("A\0B", 3), std::string("v\0w", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        HTTP_HDR_ENTRY* entry = http_hdr_entry_new2(c.line.data(), c.line.size());
        ASSERT_EQ(entry != nullptr, c.made);
        if (entry == nullptr) continue;
        EXPECT_EQ(entry->name, c.name);
        EXPECT_EQ(entry->value, c.value);
        http_hdr_entry_free(entry);
    }
}

TEST(HttpHdr, EntryEditing) {
    HTTP_HDR hdr;
    http_hdr_put_str(&hdr, "HTTP/1.1", "200 OK");
    http_hdr_put_str(&hdr, "Connection", "keep-alive");
    EXPECT_EQ(http_hdr_entry_replace(&hdr, "connection", "close", 0), 0);
    EXPECT_EQ(http_hdr_entry_replace(&hdr, "Proxy-Connection", "close", 0), -1);
    EXPECT_EQ(http_hdr_entry_replace(&hdr, "X-Added", "1", 1), 0);
    http_hdr_put_str(&hdr, "X-Added", "2");  // add never looks for an existing entry
    EXPECT_STREQ(http_hdr_entry_value(&hdr, "x-added"), "1");

    std::string out;
    http_hdr_build(&hdr, out);
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nConnection: close\r\nX-Added: 1\r\nX-Added: 2\r\n\r\n");
}

TEST(HttpHdr, PrintFramesAllEntries) {
    HTTP_HDR hdr;
    http_hdr_put_str(&hdr, "HTTP/1.1", "200 OK");
    http_hdr_put_str(&hdr, "Server", "s");
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    http_hdr_fprint(fp, &hdr, "respond");
    std::rewind(fp);
    char buf[512] = {};
    size_t n = std::fread(buf, 1, sizeof(buf) - 1, fp);
    std::fclose(fp);
    EXPECT_EQ(std::string(buf, n),
              "------------- in http_hdr_fprint - (respond)----------------\r\n"
              "HTTP/1.1 200 OK\r\nServer: s\r\n"
              "--------------- end -----------------\r\n");
}
