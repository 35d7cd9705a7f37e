#include "harness.h"

#include <cctype>
#include <chrono>
#include <sstream>

namespace fs = std::filesystem;

namespace proxy_test {

bool wait_listening(int port, int timeout_ms) {
    return tarvo_test::wait_until(
        [port] {
            platform::TcpSocket s;
            return s.connect("127.0.0.1", port, 500) == 0;
        },
        std::chrono::milliseconds(timeout_ms));
}

// ---------------------------------------------------------------- nginx

Nginx::Nginx(const fs::path& dir, int chunk_upstream_port) : dir_(dir) {
    fs::create_directories(dir_ / "www");
    fs::create_directories(dir_ / "tmp");
    for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
        port_ = platform::free_loopback_port();
        std::ostringstream c;
        std::string d = dir_.string();
        // One process without workers: it runs as the user who started it,
        // root or not, and reads the test's private folder.
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
          << "pid " << d << "/nginx.pid;\n"
          << "error_log " << d << "/error.log warn;\n"
          << "events { worker_connections 1024; }\n"
          << "http {\n"
          << "  access_log off;\n"
          << "  default_type application/octet-stream;\n"
          << "  client_body_temp_path " << d << "/tmp/body;\n"
          << "  proxy_temp_path " << d << "/tmp/proxy;\n"
          << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
          << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
          << "  scgi_temp_path " << d << "/tmp/scgi;\n"
          << "  keepalive_requests 100000;\n"
          << "  sendfile on;\n"
          << "  if_modified_since before;\n"
          << "  server {\n"
          << "    listen 127.0.0.1:" << port_ << ";\n"
          << "    server_name localhost;\n"
          << "    root " << d << "/www;\n"
          << "    location = /redirect { return 302 http://127.0.0.1:" << port_
          << "/small.html; }\n";
        if (chunk_upstream_port > 0) {
            c << "    location /chunked/ { proxy_pass http://127.0.0.1:" << chunk_upstream_port
              << "; proxy_buffering off; proxy_http_version 1.0; }\n";
        }
        c << "  }\n}\n";
        write_file(dir_ / "nginx.conf", c.str());
        platform::ChildOptions o;
        o.stderr_path = (dir_ / "nginx.stderr").string();
        if (child_.start({"/usr/sbin/nginx", "-p", d, "-c", (dir_ / "nginx.conf").string()}, o) !=
            0)
            continue;
        ok_ = wait_listening(port_, 5000) && child_.running();
        if (!ok_) child_.stop();
    }
}

Nginx::~Nginx() { child_.stop(); }

std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

// ---------------------------------------------------------------- scripted servers

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
    listener_.listen("127.0.0.1", 0);
    thread_ = std::thread([this] {
        while (!quit_) {
            platform::TcpSocket s = listener_.accept(100);
            if (!s.valid()) continue;
            ++accepted_;
            std::lock_guard<std::mutex> lock(mu_);
            workers_.emplace_back([this, sock = std::move(s)]() mutable { handler_(sock); });
        }
    });
}

ScriptedServer::~ScriptedServer() {
    quit_ = true;
    thread_.join();
    listener_.close();
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& t : workers_) t.join();
}

bool read_request(platform::TcpSocket& s, std::string& head, std::string& body, int timeout_ms) {
    std::string buf;
    if (s.recv_until(buf, "\r\n\r\n", timeout_ms) != 1) return false;
    auto end = buf.find("\r\n\r\n") + 4;
    head = buf.substr(0, end);
    body = buf.substr(end);
    std::string len = header_value(head, "Content-Length");
    if (!len.empty()) {
        std::size_t want = std::stoul(len);
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (body.size() < want && std::chrono::steady_clock::now() < until) {
            if (s.recv_some(body, timeout_ms) <= 0) return false;
        }
        if (body.size() < want) return false;
    }
    return true;
}

std::string header_value(const std::string& head, const std::string& name) {
    std::istringstream in(head);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto colon = line.find(':');
        if (colon == std::string::npos || colon != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < colon; ++i) {
            if (std::tolower(static_cast<unsigned char>(line[i])) !=
                std::tolower(static_cast<unsigned char>(name[i])))
                same = false;
        }
        if (!same) continue;
        auto v = line.substr(colon + 1);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        return v;
    }
    return "";
}

// ---------------------------------------------------------------- tarvoproxy

TarvoProxy::TarvoProxy(const fs::path& dir) : dir_(dir / "bin") {
    fs::create_directories(dir_);
    std::string program = tarvo_test::copy_program("tarvoproxy", dir_);
    for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
        port_ = platform::free_loopback_port();
        int unused = platform::free_loopback_port();
        std::ostringstream ini;
        ini << "[debug]\r\ndebug_level=\r\n"
            << "[proxy]\r\nlisten_ip=127.0.0.1\r\nlisten_port=" << port_ << "\r\n"
            << "[server]\r\nsession_ip=127.0.0.1\r\nsession_port=" << unused << "\r\n"
            << "logsvr_ip=127.0.0.1\r\nlogsvr_port=" << unused << "\r\n"
            << "[p2p]\r\nuse_p2p=0\r\ncap_title=0\r\n";
        write_file(dir_ / "tarvoproxy.ini", ini.str());
        write_file(dir / "registry.reg",
                   "Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Quorlen\\Productions\\06]\r\n"
                   "\"CachePath\"=\"cache\"\r\n");
        platform::ChildOptions o;
        o.cwd = dir_.string();
        o.env.push_back({"TARVO_REGISTRY", (dir / "registry.reg").string()});
        // A small quarantine keeps freed memory from counting as resident.
        o.env.push_back({"ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=8"});
        o.stdout_path = (dir_ / "stdout.txt").string();
        o.stderr_path = (dir_ / "stderr.txt").string();
        if (child_.start({program}, o) != 0) continue;
        ok_ = wait_listening(port_, 10000) && child_.running();
        if (!ok_) child_.stop();
    }
}

TarvoProxy::~TarvoProxy() { child_.stop(); }

std::string TarvoProxy::log() const {
    return read_file(dir_ / "tarvoproxy.log") + read_file(dir_ / "stdout.txt") +
           read_file(dir_ / "stderr.txt");
}

// ---------------------------------------------------------------- clients

CurlResult curl(int proxy_port, const std::vector<std::string>& args, int timeout_ms) {
    std::vector<std::string> argv = {"/usr/bin/curl", "-s", "--noproxy", ""};
    if (proxy_port > 0) {
        argv.push_back("-x");
        argv.push_back("http://127.0.0.1:" + std::to_string(proxy_port));
    }
    argv.insert(argv.end(), args.begin(), args.end());
    CurlResult r;
    platform::ChildOptions o;
    // curl must not pick up a proxy from the environment of the test run.
    o.env = {{"http_proxy", ""}, {"HTTP_PROXY", ""}, {"all_proxy", ""}, {"no_proxy", ""}};
    r.status = platform::run_program(argv, r.output, timeout_ms, o);
    return r;
}

std::string raw_exchange(int port, const std::string& request, bool* closed, int idle_ms) {
    platform::TcpSocket s;
    std::string out;
    if (s.connect("127.0.0.1", port) != 0) {
        if (closed) *closed = true;
        return out;
    }
    s.send_all(request);
    int c = s.recv_until_close(out, idle_ms);
    if (closed) *closed = c == 1;
    return out;
}

}  // namespace proxy_test
