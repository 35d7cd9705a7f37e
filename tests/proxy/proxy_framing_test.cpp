// Request smuggling: each case sends one request whose framing a lenient
// reader could take apart otherwise, with a second request hidden behind
// it. The origin records the exact bytes it gets and frames them itself:
// it must never see a request the proxy did not see, nor bytes after the
// body. The same requests seed the request fuzz target
// (tests/lib_protocol/fuzz/corpus/request/smuggle_*).
#include <gtest/gtest.h>

#include "proxy_inproc.h"
#include "recording_origin.h"

using namespace proxy_inproc;

namespace {

struct SmuggleCase {
    const char* name;
    std::string fields;  // after the request line and Host
    std::string body;    // after the blank line, the hidden request included
    bool refused;        // the bad-request reply, nothing forwarded
};

const std::string kHidden = "GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";

std::vector<SmuggleCase> smuggle_cases() {
    const std::string twelve =
        "Content-Length: 5\r\nDate: d\r\nServer: s\r\nAge: 1\r\nETag: e\r\nCache-Control: c\r\n"
        "Content-Type: t\r\nAccept-Ranges: bytes\r\nLast-Modified: l\r\nContent-Encoding: x\r\n"
        "Date: d\r\nServer: s\r\n";
    return {
        {"CL then TE", "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", "0\r\n\r\n" + kHidden,
         true},
        {"TE then CL", "Transfer-Encoding: chunked\r\nContent-Length: 40\r\n",
         "0\r\n\r\n" + kHidden, true},
        {"two lengths", "Content-Length: 0\r\nContent-Length: 37\r\n", kHidden, true},
        {"length list", "Content-Length: 0, 37\r\n", kHidden, true},
        {"signed length", "Content-Length: +37\r\n", kHidden, true},
        {"TE chunked then identity", "Transfer-Encoding: chunked, identity\r\n",
         "0\r\n\r\n" + kHidden, true},
        {"TE in two fields", "Transfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n",
         "0\r\n\r\n" + kHidden, true},
        {"TE misspelt", "Transfer-Encoding: xchunked\r\n", "0\r\n\r\n" + kHidden, true},
        {"TE with a vertical tab", "Transfer-Encoding: chunked\x0b\r\n", "0\r\n\r\n" + kHidden,
         true},
        {"TE after twelve fields", twelve + "Transfer-Encoding: chunked\r\n", "0\r\n\r\n" + kHidden,
         true},
        {"bare CR", "X-A: a\rTransfer-Encoding: chunked\r\nContent-Length: 5\r\n",
         "0\r\n\r\n" + kHidden, true},
        {"NUL", std::string("X-A: a\0b\r\nContent-Length: 0\r\n", 29), kHidden, true},
        {"obs-fold", "Content-Length: 0\r\nX-A: a\r\n Transfer-Encoding: chunked\r\n", kHidden,
         true},
        {"blank before the colon", "Transfer-Encoding : chunked\r\nContent-Length: 5\r\n",
         "0\r\n\r\n" + kHidden, true},
        {"Connection names the length", "Connection: Content-Length\r\nContent-Length: 5\r\n",
         "hello" + kHidden, false},
        {"chunk size with extension and blank", "Transfer-Encoding: chunked\r\n",
         "5 ;x=1\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"chunk size with a leading blank", "Transfer-Encoding: chunked\r\n",
         " 5\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"chunk size in 0x form", "Transfer-Encoding: chunked\r\n",
         "0x5\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"negative chunk size", "Transfer-Encoding: chunked\r\n",
         "-5\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"chunk longer than its size", "Transfer-Encoding: chunked\r\n",
         "3\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"huge chunk size", "Transfer-Encoding: chunked\r\n",
         "fffffffffffffffff\r\nhello\r\n0\r\n\r\n" + kHidden, false},
        {"hidden request in the trailer", "Transfer-Encoding: chunked\r\n",
         "0\r\nX-T: 1\r\n\r\n" + kHidden, false},
    };
}

TEST_F(ProxyTest, OriginNeverSeesARequestTheProxyDidNotSee) {
    for (const SmuggleCase& c : smuggle_cases()) {
        SCOPED_TRACE(c.name);
        RecordingOrigin origin;
        std::string t = "127.0.0.1:" + std::to_string(origin.port());
        std::string req =
            "POST http://" + t + "/s HTTP/1.1\r\nHost: " + t + "\r\n" + c.fields + "\r\n" + c.body;
        auto r = raw_exchange(proxy_port(), req, nullptr, 5000);
        if (c.refused) {
            EXPECT_EQ(r, PROXY_REPLY_BAD_REQUEST);
            EXPECT_EQ(origin.accepted(), 0);
        }
        auto got = origin.requests();
        EXPECT_LE(got.size(), 1u);
        for (const auto& g : got) {
            EXPECT_EQ(g.head.find("/smuggled"), std::string::npos) << g.head;
            EXPECT_EQ(g.after, "") << "bytes after the body: a second request";
            // Not even inside a body: a laxer reader might find it there.
            EXPECT_EQ(g.body.find("/smuggled"), std::string::npos) << g.body;
        }
    }
}

}  // namespace
