#include "store_http_harness.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include "acl_vstream.h"
#include "acl_workq.h"
#include "http_chat_sync.h"
#include "http_hdr_req.h"
#include "http_hdr_res.h"
#include "http_res.h"
#include "store/store_ctrl.h"
#include "store/store_file.h"
#include "store_http/http_client.h"

namespace fs = std::filesystem;

namespace store_http_test {

StoreNginx::StoreNginx(const fs::path& dir, const std::string& rate) : dir_(dir) {
    fs::create_directories(dir_ / "www");
    fs::create_directories(dir_ / "tmp");
    for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
        port_ = platform::free_loopback_port();
        std::string d = dir_.string();
        std::ostringstream c;
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
          << "pid " << d << "/nginx.pid;\n"
          << "error_log " << d << "/error.log warn;\n"
          << "events { worker_connections 1024; }\n"
          << "http {\n"
          << "  log_format store '$connection $status \"$http_range\" $body_bytes_sent $uri';\n"
          << "  access_log " << d << "/access.log store;\n"
          << "  default_type application/octet-stream;\n"
          << "  client_body_temp_path " << d << "/tmp/body;\n"
          << "  proxy_temp_path " << d << "/tmp/proxy;\n"
          << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
          << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
          << "  scgi_temp_path " << d << "/tmp/scgi;\n"
          << "  sendfile on;\n"
          << "  sendfile_max_chunk 64k;\n"
          << "  server {\n"
          << "    listen 127.0.0.1:" << port_ << ";\n"
          << "    server_name localhost;\n"
          << "    root " << d << "/www;\n"
          << "    location /files/ { alias " << d << "/www/; }\n"
          << "    location /slow/ { alias " << d << "/www/; limit_rate " << rate << "; }\n"
          << "    location /norange/ { alias " << d << "/www/; max_ranges 0; limit_rate " << rate
          << "; }\n"
          << "    location /forbid/ { alias " << d << "/www/; limit_rate " << rate
          << "; if ($http_range) { return 403; } }\n";
        for (int i = 1; i <= 10; i++)
            c << "    location = /loop/" << i << " { return 302 http://127.0.0.1:" << port_
              << "/loop/" << (i % 10 + 1) << "; }\n";
        c << "  }\n}\n";
        tarvo_test::write_file(dir_ / "nginx.conf", c.str());
        platform::ChildOptions o;
        o.stderr_path = (dir_ / "nginx.stderr").string();
        if (child_.start({"/usr/sbin/nginx", "-p", d, "-c", (dir_ / "nginx.conf").string()}, o) !=
            0)
            continue;
        ok_ = tarvo_test::wait_until(
                  [&] {
                      platform::TcpSocket s;
                      return s.connect("127.0.0.1", port_, 500) == 0;
                  },
                  std::chrono::seconds(5)) &&
              child_.running();
        if (!ok_) child_.stop();
    }
}

StoreNginx::~StoreNginx() { child_.stop(); }

std::vector<StoreNginx::Hit> StoreNginx::hits() const {
    std::vector<Hit> out;
    std::istringstream in(tarvo_test::read_file(dir_ / "access.log"));
    std::string line;
    while (std::getline(in, line)) {
        Hit h;
        auto q1 = line.find('"'), q2 = line.rfind('"');
        if (q1 == std::string::npos || q2 == q1) continue;
        std::istringstream head(line.substr(0, q1));
        head >> h.connection >> h.status;
        h.range = line.substr(q1 + 1, q2 - q1 - 1);
        std::istringstream tail(line.substr(q2 + 1));
        tail >> h.bytes >> h.uri;
        out.push_back(h);
    }
    return out;
}

Store::Store(const std::string& cache_dir, int threads) {
    wq = acl_workq_create(threads, 60, 0, 0);
    ctrl = http_ctrl_create(wq, cache_dir.c_str(), "", 0);
    store_ctrl_start(&ctrl->ctrl);
}

Store::~Store() {
    store_ctrl_stop(&ctrl->ctrl);
    acl_workq_destroy(wq);
    http_ctrl_free(ctrl);
}

std::string cache_path(const std::string& dir, const std::string& id) {
    char buf[STORE_PATH_MAX];
    store_file_path(buf, sizeof(buf), dir.c_str(), id.c_str(), "flv");
    return buf;
}

int open_fds() {
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it)
        n++;
    return n;
}

Browser::Browser(Store& store, BrowserOptions opts) : store_(store), opts_(std::move(opts)) {
    listener_.listen("127.0.0.1", 0);
}

Browser::~Browser() {
    wait_done(120);
    if (reader_.joinable()) reader_.join();
}

void Browser::start() {
    reader_ = std::thread([this] {
        platform::TcpSocket s = listener_.accept(30000);
        if (!s.valid()) return;
        std::string chunk;
        for (;;) {
            chunk.clear();
            long n = s.recv_some(chunk, 60000);
            if (n <= 0) break;
            std::lock_guard<std::mutex> lock(mu_);
            received_ += chunk;
            if (opts_.close_after >= 0 &&
                static_cast<int64_t>(received_.size()) >= opts_.close_after)
                break;  // the browser hangs up
        }
    });
    acl_workq_add(store_.wq, &Browser::job, 0, this);
}

bool Browser::wait_done(int seconds) {
    return tarvo_test::wait_until([&] { return done_.load(); }, std::chrono::seconds(seconds));
}

std::string Browser::body() {
    if (reader_.joinable()) reader_.join();
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
}

void Browser::job(int, ACL_WORKER_ATTR* attr) { static_cast<Browser*>(attr->job_arg)->run(); }

namespace {

HTTP_HDR_REQ* make_request(const std::string& path, const std::string& host) {
    HTTP_HDR_REQ* req = http_hdr_req_new();
    http_hdr_append_entry(&req->hdr, http_hdr_entry_new(("GET " + path + " HTTP/1.1").c_str()));
    http_hdr_append_entry(&req->hdr, http_hdr_entry_build("Host", host.c_str()));
    http_hdr_append_entry(&req->hdr, http_hdr_entry_build("Connection", "close"));
    http_hdr_req_parse_all(req);
    return req;
}

}  // namespace

void Browser::run() {
    std::string origin = "127.0.0.1:" + std::to_string(opts_.port);
    ACL_VSTREAM* browser = acl_vstream_connect_ex(
        ("127.0.0.1:" + std::to_string(listener_.port())).c_str(), ACL_BLOCKING, 10, 30, 8192);
    ACL_VSTREAM* server = acl_vstream_connect_ex(origin.c_str(), ACL_BLOCKING, 10, 10, 8192);
    HTTP_HDR_REQ* sent = make_request(opts_.path, origin);
    HTTP_HDR_REQ* tmpl =
        make_request(opts_.template_path.empty() ? opts_.path : opts_.template_path,
                     opts_.host.empty() ? origin : opts_.host);
    HTTP_HDR_RES* res = http_hdr_res_new();
    HTTP_RES* reader = nullptr;
    std::string text;
    http_hdr_build_request(sent, text);
    if (browser == nullptr || server == nullptr ||
        acl_vstream_writen(server, text.data(), text.size()) == ACL_VSTREAM_EOF ||
        http_hdr_res_get_sync(res, server, 10) != HTTP_CHAT_OK || http_hdr_res_parse(res) != 0) {
        result_ = -3;
    } else {
        int64_t len = res->hdr.content_length;
        reader = http_res_new(res);
        std::string prefetch;
        int64_t want = std::min<int64_t>(102400, len);
        char buf[8192];
        while (static_cast<int64_t>(prefetch.size()) < want) {
            int n = http_res_body_get_sync2(
                reader, server, buf,
                static_cast<int>(std::min<int64_t>(sizeof(buf), want - prefetch.size())));
            if (n <= 0) break;
            prefetch.append(buf, static_cast<std::size_t>(n));
            acl_vstream_writen(browser, buf, static_cast<std::size_t>(n));
        }
        server->context = reader;
        HTTP_CLIENT* client = http_client_alloc(
            &store_.ctrl->ctrl, opts_.id.c_str(),
            cache_path(store_.ctrl->cache_dir, opts_.id).c_str(), opts_.max_thread, len,
            prefetch.data(), static_cast<int64_t>(prefetch.size()), server, browser, tmpl, res);
        client->client.can_save = opts_.can_save;
        client->client.part_save = opts_.part_save;
        result_ = http_client_request(&store_.ctrl->ctrl, client);
        server = client->client.server;  // null: the store took it or closed it
        http_client_free(client);
    }
    if (server != nullptr) acl_vstream_close(server);
    if (reader != nullptr) http_res_free(reader);
    http_hdr_res_free(res);
    http_hdr_req_free(sent);
    http_hdr_req_free(tmpl);
    if (browser != nullptr) acl_vstream_close(browser);
    done_ = true;
}

}  // namespace store_http_test
