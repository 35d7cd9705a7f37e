#include "logsvr.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file.h"

namespace {

constexpr const char* kDumpWord = "client_dump_file:";

struct DumpHeader {
    std::string uid, file, ver, size;
};

// Splits "uid=<u>|file=<path>|ver=<text>|size=<n>". The path and the version
// may hold '|' themselves, so the version starts at the last "|ver=" and the
// size at the last "|size=".
bool parse_header(const std::string& rest, DumpHeader& h) {
    if (rest.compare(0, 4, "uid=") != 0) return false;
    auto file_at = rest.find("|file=");
    auto size_at = rest.rfind("|size=");
    if (file_at == std::string::npos || size_at == std::string::npos || size_at < file_at)
        return false;
    auto ver_at = rest.rfind("|ver=", size_at);
    if (ver_at == std::string::npos || ver_at < file_at) return false;
    h.uid = rest.substr(4, file_at - 4);
    h.file = rest.substr(file_at + 6, ver_at - file_at - 6);
    h.ver = rest.substr(ver_at + 5, size_at - ver_at - 5);
    h.size = rest.substr(size_at + 6);
    return true;
}

// The base name of a Windows or POSIX path, reduced to harmless characters.
std::string safe_name(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok) c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = "dump";
    return name;
}

std::string free_path(const std::string& dir, const std::string& name) {
    std::error_code ec;
    std::string path = dir + name;
    for (int i = 1; std::filesystem::exists(path, ec); i++)
        path = dir + name + "." + std::to_string(i);
    return path;
}

std::string receive_upload(LOGSVR& svr, platform::TcpSocket& conn, const DumpHeader& h,
                           const std::string& already) {
    std::string path = free_path(svr.store_dir, safe_name(h.file));
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) return "error cannot create " + path;

    long long received = 0;
    bool failed = false;
    auto keep = [&](const char* data, std::size_t n) {
        if (received + static_cast<long long>(n) > LOGSVR_BODY_MAX) {
            failed = true;
            return;
        }
        if (n > 0 && std::fwrite(data, 1, n, fp) != n) failed = true;
        received += static_cast<long long>(n);
    };
    keep(already.data(), already.size());

    std::string chunk;
    const char* end_reason = nullptr;
    while (!failed) {
        chunk.clear();
        long n = conn.recv_some(chunk, LOGSVR_IDLE_MS);
        if (n == 0) break;
        if (n < 0) {
            end_reason = "receive error or idle time-out";
            break;
        }
        keep(chunk.data(), chunk.size());
    }
    if (std::fclose(fp) != 0) failed = true;

    std::string line = "upload uid=" + h.uid + " file=" + h.file + " ver=" + h.ver +
                       " size=" + h.size + " received=" + std::to_string(received) +
                       " stored=" + path;
    if (failed) return line + " error store";
    if (end_reason != nullptr) return line + " error " + end_reason;
    return line + (h.size == std::to_string(received) ? " ok" : " size-mismatch");
}

// Appends the line exactly as received, line end included, so that a test can
// compare it byte for byte with what the client sent.
std::string store_stat(LOGSVR& svr, const std::string& raw, const std::string& line) {
    if (svr.stat_file.empty()) return "stat " + line;
    const std::string& path = svr.stat_file;
    std::FILE* fp = std::fopen(path.c_str(), "ab");
    if (fp == nullptr) return "error cannot open " + path;
    bool ok = std::fwrite(raw.data(), 1, raw.size(), fp) == raw.size();
    if (std::fclose(fp) != 0) ok = false;
    if (!ok) return "error cannot write " + path;
    return "stat " + line;
}

}  // namespace

int logsvr_open(LOGSVR& svr, int port, const std::string& store_dir) {
    svr.store_dir = store_dir;
    if (!svr.store_dir.empty() && svr.store_dir.back() != '/') svr.store_dir += '/';
    if (platform::make_folders(svr.store_dir.c_str()) != 0) return -1;
    return svr.listener.listen("127.0.0.1", port, 16);
}

std::string logsvr_serve(LOGSVR& svr, platform::TcpSocket& conn) {
    std::string data;
    std::size_t eol;
    while ((eol = data.find('\n')) == std::string::npos) {
        if (data.size() >= LOGSVR_LINE_MAX) return "error line too long";
        long n = conn.recv_some(data, LOGSVR_IDLE_MS);
        if (n == 0) return data.empty() ? "error empty connection" : "error no line end: " + data;
        if (n < 0) return "error receive before line end";
    }
    if (eol + 1 > LOGSVR_LINE_MAX) return "error line too long";

    std::string line = data.substr(0, eol);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string rest = data.substr(eol + 1);

    if (line.compare(0, std::char_traits<char>::length(kDumpWord), kDumpWord) != 0)
        return store_stat(svr, data.substr(0, eol + 1), line);
    DumpHeader h;
    if (!parse_header(line.substr(std::char_traits<char>::length(kDumpWord)), h))
        return "error bad dump header: " + line;
    return receive_upload(svr, conn, h, rest);
}

void logsvr_run(LOGSVR& svr, int count, const std::function<bool()>& stop,
                const std::function<void(const std::string&)>& report) {
    int served = 0;
    while (!stop() && (count <= 0 || served < count)) {
        // An invalid socket is a time-out (or a client that gave up at once).
        platform::TcpSocket conn = svr.listener.accept(100);
        if (!conn.valid()) continue;
        report(logsvr_serve(svr, conn));
        served++;
    }
}
