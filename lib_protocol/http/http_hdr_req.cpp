// The request header: request line, URL, parameters, cookies, request output
// and redirects.
#include "http_hdr_req.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "acl_msg.h"
#include "http_text.h"

using http_text::iequals;
using http_text::istarts_with;

namespace {

// Splits `s` at any byte of `seps`. Empty pieces are dropped unless
// `keep_empty` is set.
std::vector<std::string> split(const std::string& s, const char* seps, bool keep_empty) {
    std::vector<std::string> pieces;
    size_t begin = 0;
    for (;;) {
        size_t end = s.find_first_of(seps, begin);
        size_t stop = end == std::string::npos ? s.size() : end;
        if (keep_empty || stop > begin) pieces.emplace_back(s, begin, stop - begin);
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return pieces;
}

// Length of the scheme prefix ("http://" or "https://", any case), or 0.
size_t scheme_length(const std::string& url) {
    if (istarts_with(url, "http://")) return 7;
    if (istarts_with(url, "https://")) return 8;
    return 0;
}

void clear_request_fields(HTTP_HDR_REQ* req) {
    req->port = 80;
    req->method[0] = '\0';
    req->host[0] = '\0';
    req->url_part.clear();
    req->url_path.clear();
    req->url_params.clear();
    req->params.clear();
}

void parse_params(HTTP_HDR_REQ* req, const std::string& query) {
    for (const std::string& item : split(query, "&", false)) {
        std::vector<std::string> parts = split(item, "=", false);
        if (parts.size() == 2)
            req->params.emplace(parts[0], parts[1]);  // keeps the first occurrence
    }
}

void parse_url(HTTP_HDR_REQ* req, const std::string& url) {
    size_t slash = url.find('/', scheme_length(url));
    if (slash == std::string::npos) {
        req->url_part.assign(1, '/');
        req->url_path.assign(1, '/');
        return;
    }
    req->url_part = url.substr(slash);
    size_t question = req->url_part.find('?');
    if (question == std::string::npos) {
        req->url_path = http_hdr_req_path_normal(req->url_part);
        return;
    }
    req->url_path = http_hdr_req_path_normal(req->url_part.substr(0, question));
    std::string query = req->url_part.substr(question + 1);
    if (!query.empty()) {
        req->url_params = query;
        parse_params(req, query);
    }
}

HTTP_HDR_REQ* alloc_req(const char* myname) {
    auto* req = new (std::nothrow) HTTP_HDR_REQ;
    if (req == nullptr)
        acl_msg_fatal("%s, %s(%d): can't calloc, error=%s", __FILE_NAME__, myname, __LINE__,
                      std::strerror(errno));
    req->hdr.entries.reserve(HTTP_HDR_ENTRIES_INIT);
    req->params.reserve(HTTP_HDR_TABLE_BUCKETS);
    req->cookies.reserve(HTTP_HDR_TABLE_BUCKETS);
    return req;
}

}  // namespace

std::string http_hdr_req_path_normal(const std::string& path) {
    std::vector<std::string> kept;
    for (std::string& piece : split(path, "/", false)) {
        if (piece != "." && piece != "..") kept.push_back(std::move(piece));
    }
    std::string out;
    if (kept.size() == 1) {
        out = kept[0];
    } else {
        for (const std::string& piece : kept) {
            out += '/';
            out += piece;
        }
    }
    if (!path.empty() && path.back() == '/') out += '/';
    return out;
}

HTTP_HDR_REQ* http_hdr_req_new(void) { return alloc_req("http_hdr_req_new"); }

HTTP_HDR_REQ* http_hdr_req_clone(const HTTP_HDR_REQ* src) {
    if (src == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_req_clone", __LINE__);
    HTTP_HDR_REQ* req = alloc_req("http_hdr_req_clone");
    http_hdr_clone(&src->hdr, &req->hdr);
    req->port = src->port;
    std::memcpy(req->method, src->method, sizeof(req->method));
    std::memcpy(req->host, src->host, sizeof(req->host));
    req->url_part = src->url_part;
    req->url_path = src->url_path;
    req->url_params = src->url_params;
    req->file_path = src->file_path;
    req->params = src->params;
    req->cookies = src->cookies;
    return req;
}

void http_hdr_req_free(HTTP_HDR_REQ* req) {
    if (req == nullptr) return;
    http_hdr_free_members(&req->hdr);
    delete req;
}

void http_hdr_req_reset(HTTP_HDR_REQ* req) {
    if (req == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_req_reset", __LINE__);
    http_hdr_reset(&req->hdr);
    clear_request_fields(req);
    req->file_path.clear();
    req->cookies.clear();
}

int http_hdr_req_line_parse(HTTP_HDR_REQ* req) {
    static const char myname[] = "http_hdr_req_line_parse";

    if (req == nullptr) acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    clear_request_fields(req);

    if (req->hdr.entries.empty()) {
        acl_msg_error("%s, %s(%d): null array", __FILE_NAME__, myname, __LINE__);
        return -1;
    }
    const HTTP_HDR_ENTRY& line = *req->hdr.entries[0];
    if (line.name.empty()) {
        acl_msg_error("%s, %s(%d): no method", __FILE_NAME__, myname, __LINE__);
        return -1;
    }
    if (line.value.empty()) {
        acl_msg_error("%s, %s(%d): entry->value invalid", __FILE_NAME__, myname, __LINE__);
        return -1;
    }
    const bool is_connect = iequals(line.name, "CONNECT");
    // Every token is a method: the proxy forwards what it does not know.
    if (!http_text::is_token(line.name)) {
        acl_msg_error("%s, %s(%d): invalid http method=%s", __FILE_NAME__, myname, __LINE__,
                      line.name.c_str());
        return -1;
    }
    http_text::copy_cut(req->method, line.name);

    std::vector<std::string> argv = split(line.value, " \t", false);
    if (argv.size() != 2) {
        acl_msg_error("%s, %s(%d): invalid request line=%s, argc=%d", __FILE_NAME__, myname,
                      __LINE__, line.value.c_str(), static_cast<int>(argv.size()));
        return -1;
    }
    const std::string& url = argv[0];
    const std::string& version = argv[1];
    const size_t scheme = scheme_length(url);

    // Host: an absolute URL's authority wins over the Host entry (RFC 9112
    // section 3.2.2), so the server connected to is the one the URL names;
    // else the Host entry. A CONNECT target is an authority by itself.
    const char* host_value = http_hdr_entry_value(&req->hdr, "Host");
    if (scheme > 0) {
        std::string authority = url.substr(scheme, url.find_first_of("/?#", scheme) - scheme);
        size_t at = authority.rfind('@');  // user information names no host
        if (at != std::string::npos) authority.erase(0, at + 1);
        http_text::copy_cut(req->host, authority);
    } else if (host_value != nullptr) {
        http_text::copy_cut(req->host, host_value);
    } else if (is_connect) {
        http_text::copy_cut(req->host, url.substr(0, url.find('/')));
    }

    req->port = 80;
    if (const char* colon = std::strchr(req->host, ':'))
        req->port = http_text::parse_int_prefix(colon + 1);
    if (istarts_with(url, "https://")) req->port = 443;
    if (is_connect) {
        size_t colon = url.find(':');
        if (colon != std::string::npos)
            req->port = http_text::parse_int_prefix(url.c_str() + colon + 1);
    }
    if (req->port < 1) req->port = 80;

    parse_url(req, url);

    if (http_hdr_parse_version(&req->hdr, version.c_str()) < 0) {
        acl_msg_error("%s, %s(%d): invalid version=%s", __FILE_NAME__, myname, __LINE__,
                      version.c_str());
        return -1;
    }
    return 0;
}

int http_hdr_req_cookies_parse(HTTP_HDR_REQ* req) {
    if (req == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_req_cookies_parse",
                      __LINE__);
    req->cookies.clear();
    const char* value = http_hdr_entry_value(&req->hdr, "Cookie");
    if (value == nullptr) return 0;

    auto cut_at_blank = [](const std::string& s) { return s.substr(0, s.find_first_of(" \t")); };
    for (const std::string& item : split(value, ";", false)) {
        if (item.find('=') == std::string::npos) continue;
        // Empty pieces are kept so that values such as "abc==" survive whole.
        std::vector<std::string> parts = split(item, "=", true);
        size_t skip = parts[0].find_first_not_of(" \t");
        std::string name = skip == std::string::npos ? "" : cut_at_blank(parts[0].substr(skip));
        if (name.empty()) continue;
        std::string joined;
        for (size_t i = 1; i < parts.size(); i++) {
            if (i > 1) joined += '=';
            joined += cut_at_blank(parts[i]);
        }
        req->cookies.emplace(std::move(name), std::move(joined));  // keeps the first occurrence
    }
    return 0;
}

int http_hdr_req_parse_all(HTTP_HDR_REQ* req) {
    static const char myname[] = "http_hdr_req_parse_all";

    if (http_hdr_req_line_parse(req) < 0) return -1;
    if (http_hdr_req_cookies_parse(req) < 0) return -1;
    if (http_hdr_parse(&req->hdr) < 0) return -1;
    // A request body whose end two readers could see apart is refused
    // (RFC 9112 section 6.3): whoever reads it after us might find a second
    // request in it.
    const HTTP_HDR& hdr = req->hdr;
    if (hdr.framing_conflict != HTTP_HDR_FRAMING_OK) {
        acl_msg_error("%s: framing conflict(%d)", myname, hdr.framing_conflict);
        return -1;
    }
    if (hdr.transfer_encoding && !hdr.chunked) {
        acl_msg_error("%s: transfer-encoding not ending in chunked", myname);
        return -1;
    }
    return 0;
}

const char* http_hdr_req_param(const HTTP_HDR_REQ* req, const char* name) {
    auto it = req->params.find(name);
    return it == req->params.end() ? nullptr : it->second.c_str();
}

const char* http_hdr_req_cookie_get(const HTTP_HDR_REQ* req, const char* name) {
    auto it = req->cookies.find(name);
    return it == req->cookies.end() ? nullptr : it->second.c_str();
}

void http_hdr_build_request(const HTTP_HDR_REQ* req, std::string& buf) {
    static const char myname[] = "http_hdr_build_request";

    if (req == nullptr) acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    const auto& entries = req->hdr.entries;
    if (entries.empty()) {
        acl_msg_error("%s, %s(%d): array empty", __FILE_NAME__, myname, __LINE__);
        return;
    }
    // Whatever the client sent, upstream gets the path form and version 1.1.
    buf += entries[0]->name;
    buf += ' ';
    buf += req->url_part;
    buf += " HTTP/1.1\r\n";
    for (size_t i = 1; i < entries.size(); i++) {
        buf += entries[i]->name;
        buf += ": ";
        buf += entries[i]->value;
        buf += "\r\n";
    }
    buf += "\r\n";
}

HTTP_HDR_REQ* http_hdr_req_redirect(const HTTP_HDR_REQ* req, const char* url) {
    static const char myname[] = "http_hdr_req_redirect";

    if (req == nullptr || url == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    if (req->hdr.entries.empty()) {
        acl_msg_error("%s(%d): first entry null", myname, __LINE__);
        return nullptr;
    }

    std::string new_url(url);
    std::string new_host;
    if (size_t scheme = scheme_length(new_url)) {
        new_host = new_url.substr(scheme, new_url.find('/', scheme) - scheme);
        if (new_host.size() >= HTTP_HDR_REDIRECT_HOST_MAX)
            new_host.resize(HTTP_HDR_REDIRECT_HOST_MAX - 1);
    }

    HTTP_HDR_REQ* out = alloc_req(myname);
    std::string line = new_url + " HTTP/" + std::to_string(req->hdr.version_major) + "." +
                       std::to_string(req->hdr.version_minor);
    http_hdr_put_str(&out->hdr, "GET", line.c_str());
    for (size_t i = 1; i < req->hdr.entries.size(); i++) {
        const HTTP_HDR_ENTRY& entry = *req->hdr.entries[i];
        auto* copy = new HTTP_HDR_ENTRY(entry);
        if (!new_host.empty() && iequals(copy->name, "host")) copy->value = new_host;
        http_hdr_append_entry(&out->hdr, copy);
    }
    if (http_hdr_req_parse_all(out) < 0) {
        http_hdr_req_free(out);
        return nullptr;
    }
    return out;
}
