// tarvoproxy between real clients and servers for what a browser sends
// besides GET: curl with every method, chunked uploads, HEAD and a redirect
// with a body; headless Chromium with a cross-origin request that needs a
// CORS preflight.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "harness.h"
#include "world_fixture.h"

using namespace proxy_test;
namespace fs = std::filesystem;

namespace {

// Answers every request with "<METHOD> <body>" and records what it saw.
class EchoOrigin {
  public:
    EchoOrigin()
        : server_([this](platform::TcpSocket& s) {
              std::string buf;
              if (s.recv_until(buf, "\r\n\r\n", 10000) != 1) return;
              size_t end = buf.find("\r\n\r\n") + 4;
              std::string head = buf.substr(0, end), body = buf.substr(end);
              if (header_value(head, "Transfer-Encoding") == "chunked") {
                  while (body.find("0\r\n\r\n") == std::string::npos)
                      if (s.recv_some(body, 10000) <= 0) return;
                  body = dechunk(body);
              } else if (!header_value(head, "Content-Length").empty()) {
                  size_t want = std::stoul(header_value(head, "Content-Length"));
                  while (body.size() < want)
                      if (s.recv_some(body, 10000) <= 0) return;
              }
              std::string method = head.substr(0, head.find(' '));
              {
                  std::lock_guard<std::mutex> lock(mu_);
                  heads_.push_back(head);
              }
              std::string answer = method + " " + body;
              s.send_all("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) +
                         "\r\n\r\n" + answer);
          }) {}
    int port() const { return server_.port(); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }
    std::vector<std::string> heads() {
        std::lock_guard<std::mutex> lock(mu_);
        return heads_;
    }

  private:
    static std::string dechunk(const std::string& in) {
        std::string out;
        size_t pos = 0;
        for (;;) {
            size_t nl = in.find("\r\n", pos);
            size_t size = std::stoul(in.substr(pos, nl - pos), nullptr, 16);
            if (size == 0) return out;
            out += in.substr(nl + 2, size);
            pos = nl + 2 + size + 2;
        }
    }
    std::mutex mu_;
    std::vector<std::string> heads_;
    ScriptedServer server_;
};

class BrowserE2E : public ProxyWorldTest {};

TEST_F(BrowserE2E, CurlGetsTheRightAnswerForEveryMethodWithAndWithoutBody) {
    EchoOrigin origin;
    for (const std::string method : {"PUT", "DELETE", "PATCH", "OPTIONS"}) {
        SCOPED_TRACE(method);
        auto bare = curl(proxy_->port(), {"-X", method, origin.url("/r")}, 30000);
        EXPECT_EQ(bare.status, 0);
        EXPECT_EQ(bare.output, method + " ");
        auto with_body =
            curl(proxy_->port(),
                 {"-X", method, "--data-binary", "payload-" + method, origin.url("/r")}, 30000);
        EXPECT_EQ(with_body.status, 0);
        EXPECT_EQ(with_body.output, method + " payload-" + method);
    }
}

TEST_F(BrowserE2E, CurlChunkedUploadArrivesWhole) {
    EchoOrigin origin;
    std::string payload = pattern_bytes(200 * 1024 + 5, 8);
    fs::path file = dir_->path() / "upload.bin";
    write_file(file, payload);
    auto r = curl(proxy_->port(),
                  {"-H", "Transfer-Encoding: chunked", "-H", "Expect:", "--data-binary",
                   "@" + file.string(), origin.url("/up")},
                  60000);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.output == "POST " + payload) << r.output.size();
}

TEST_F(BrowserE2E, CurlHeadEndsAfterTheHeader) {
    write_file(nginx_->root() / "head.html", std::string(5000, 'h'));
    auto r = curl(proxy_->port(), {"-I", "--max-time", "20", nginx_->url("/head.html")}, 30000);
    EXPECT_EQ(r.status, 0) << "no hang waiting for a body";
    EXPECT_EQ(r.output.rfind("HTTP/1.1 200", 0), 0u) << r.output;
    EXPECT_NE(r.output.find("Content-Length: 5000"), std::string::npos) << r.output;
}

TEST_F(BrowserE2E, CurlGetsARedirectWithItsBody) {
    auto r = curl(proxy_->port(), {"-D", "-", nginx_->url("/redirect")}, 30000);
    EXPECT_EQ(r.status, 0) << "curl exits 0: the whole body came";
    EXPECT_EQ(r.output.rfind("HTTP/1.1 302", 0), 0u) << r.output;
    std::string length = header_value(r.output, "Content-Length");
    ASSERT_FALSE(length.empty());
    EXPECT_EQ(r.output.size() - (r.output.find("\r\n\r\n") + 4), std::stoul(length));
}

TEST_F(BrowserE2E, ChromiumCrossOriginRequestWithPreflightSucceeds) {
    // The API origin answers the preflight and the PUT, and records that
    // both came through the proxy.
    std::mutex mu;
    std::vector<std::string> api_seen;
    int page_port = 0;
    ScriptedServer api([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        {
            std::lock_guard<std::mutex> lock(mu);
            api_seen.push_back(head.substr(0, head.find(' ')) +
                               " via=" + header_value(head, "x-via-tarvospeed"));
        }
        std::string allow =
            "Access-Control-Allow-Origin: http://127.0.0.1:" + std::to_string(page_port) + "\r\n";
        if (head.rfind("OPTIONS", 0) == 0) {
            s.send_all("HTTP/1.1 204 No Content\r\n" + allow +
                       "Access-Control-Allow-Methods: PUT\r\n"
                       "Access-Control-Allow-Headers: content-type, x-tarvo\r\n"
                       "Access-Control-Max-Age: 0\r\nContent-Length: 0\r\n\r\n");
        } else {
            std::string answer = "put-" + body;
            s.send_all("HTTP/1.1 200 OK\r\n" + allow +
                       "Content-Type: text/plain\r\nContent-Length: " +
                       std::to_string(answer.size()) + "\r\n\r\n" + answer);
        }
    });
    std::string page =
        "<html><body><div id=\"r\">pending</div><script>\n"
        "fetch('http://127.0.0.1:" +
        std::to_string(api.port()) +
        "/api', {method: 'PUT', headers: {'Content-Type': 'application/json', 'X-Tarvo': '1'},"
        " body: '{\"a\":1}'})\n"
        "  .then(r => r.text())\n"
        "  .then(t => { document.getElementById('r').textContent = 'CORS-OK ' + t; })\n"
        "  .catch(e => { document.getElementById('r').textContent = 'CORS-FAILED ' + e; });\n"
        "</script></body></html>";
    ScriptedServer site([&](platform::TcpSocket& s) {
        std::string head, body;
        if (!read_request(s, head, body)) return;
        std::string reply = head.rfind("GET / ", 0) == 0 ? page : "";
        s.send_all(std::string(reply.empty() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
                   "\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(reply.size()) + "\r\n\r\n" + reply);
    });
    page_port = site.port();

    TempDir profile;
    std::string out;
    platform::ChildOptions o;
    o.env = {{"http_proxy", ""}, {"HTTP_PROXY", ""}, {"no_proxy", ""}};
    int status = platform::run_program(
        {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--user-data-dir=" + profile.path().string(),
         "--proxy-server=http://127.0.0.1:" + std::to_string(proxy_->port()),
         "--proxy-bypass-list=<-loopback>", "--virtual-time-budget=20000", "--dump-dom",
         "http://127.0.0.1:" + std::to_string(site.port()) + "/"},
        out, 120000, o);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("CORS-OK put-{\"a\":1}"), std::string::npos) << out;
    std::lock_guard<std::mutex> lock(mu);
    std::string via = "via=tarvospeed-" + std::to_string(proxy_->pid());
    std::vector<std::string> expected = {"OPTIONS " + via, "PUT " + via};
    EXPECT_EQ(api_seen, expected) << "the preflight and the request went through the proxy";
}

}  // namespace
