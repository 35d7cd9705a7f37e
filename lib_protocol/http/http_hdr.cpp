// The common header: entries, the common-field walk, version, output, clone.
#include "http_hdr.h"

#include <algorithm>
#include <cstring>

#include "acl_msg.h"
#include "http_text.h"

using http_text::iequals;

namespace {

bool is_entry_sep(char c) { return c == ' ' || c == '\t' || c == ':'; }

}  // namespace

// Entries ------------------------------------------------------------------

HTTP_HDR_ENTRY* http_hdr_entry_new2(const char* line, size_t len) {
    static const char myname[] = "http_hdr_entry_new";

    size_t name_end = 0;
    while (name_end < len && !is_entry_sep(line[name_end])) name_end++;
    if (name_end == 0) {
        acl_msg_error("%s, %s(%d): invalid data=%s", __FILE_NAME__, myname, __LINE__,
                      std::string(line, len).c_str());
        return nullptr;
    }
    size_t value_begin = name_end;
    while (value_begin < len && is_entry_sep(line[value_begin])) value_begin++;
    if (value_begin == len) return nullptr;

    auto* entry = new HTTP_HDR_ENTRY;
    entry->name.assign(line, name_end);
    entry->value.assign(line + value_begin, len - value_begin);
    return entry;
}

HTTP_HDR_ENTRY* http_hdr_entry_new(const char* line) {
    if (line == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_entry_new", __LINE__);
    return http_hdr_entry_new2(line, std::strlen(line));
}

HTTP_HDR_ENTRY* http_hdr_entry_build(const char* name, const char* value) {
    if (name == nullptr || value == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_entry_build", __LINE__);
    auto* entry = new HTTP_HDR_ENTRY;
    entry->name = name;
    entry->value = value;
    return entry;
}

void http_hdr_entry_free(HTTP_HDR_ENTRY* entry) { delete entry; }

void http_hdr_append_entry(HTTP_HDR* hdr, HTTP_HDR_ENTRY* entry) {
    if (hdr == nullptr || entry == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_append_entry", __LINE__);
    hdr->entries.emplace_back(entry);
}

HTTP_HDR_ENTRY* http_hdr_entry(const HTTP_HDR* hdr, const char* name) {
    if (hdr == nullptr || name == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_entry", __LINE__);
    for (const auto& entry : hdr->entries) {
        if (iequals(entry->name, name)) return entry.get();
    }
    return nullptr;
}

const char* http_hdr_entry_value(const HTTP_HDR* hdr, const char* name) {
    const HTTP_HDR_ENTRY* entry = http_hdr_entry(hdr, name);
    return entry != nullptr ? entry->value.c_str() : nullptr;
}

int http_hdr_entry_replace(HTTP_HDR* hdr, const char* name, const char* value, int force) {
    if (value == nullptr)
        acl_msg_fatal("%s, %s(%d): value null", __FILE_NAME__, "http_hdr_entry_replace", __LINE__);
    HTTP_HDR_ENTRY* entry = http_hdr_entry(hdr, name);
    if (entry != nullptr) {
        entry->value = value;
        return 0;
    }
    if (!force) return -1;
    http_hdr_append_entry(hdr, http_hdr_entry_build(name, value));
    return 0;
}

int http_hdr_entry_off(HTTP_HDR* hdr, const char* name) {
    HTTP_HDR_ENTRY* entry = http_hdr_entry(hdr, name);
    if (entry == nullptr) return -1;
    // Names found by a lookup are never empty: an empty name matches only an
    // empty query, and then there is nothing to overwrite.
    if (!entry->name.empty()) entry->name[0] = '_';
    return 0;
}

void http_hdr_put_str(HTTP_HDR* hdr, const char* name, const char* value) {
    http_hdr_append_entry(hdr, http_hdr_entry_build(name, value));
}

int http_hdr_entry_delete(HTTP_HDR* hdr, const char* name) {
    if (hdr == nullptr || name == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_entry_delete", __LINE__);
    auto& entries = hdr->entries;
    size_t before = entries.size();
    auto first = entries.begin() + (entries.empty() ? 0 : 1);
    entries.erase(std::remove_if(first, entries.end(),
                                 [name](const std::unique_ptr<HTTP_HDR_ENTRY>& e) {
                                     return iequals(e->name, name);
                                 }),
                  entries.end());
    return static_cast<int>(before - entries.size());
}

// Reading ------------------------------------------------------------------

namespace {

// The fault of one non-empty line, `first` telling whether it is the start
// line. Lines are taken as they arrive: the entry built from a faulty line
// would be forwarded in a form that another reader may take apart otherwise.
int line_fault(const char* line, size_t len, bool first) {
    if (std::memchr(line, '\r', len) != nullptr || std::memchr(line, '\0', len) != nullptr)
        return HTTP_HDR_LINE_CTL;
    if (http_text::is_blank(line[0])) return HTTP_HDR_LINE_FOLD;
    if (first) return HTTP_HDR_LINE_OK;
    const char* colon = static_cast<const char*>(std::memchr(line, ':', len));
    if (colon == nullptr) return HTTP_HDR_LINE_FIELD;
    for (const char* p = line; p < colon; p++) {
        if (!http_text::is_tchar(*p)) return HTTP_HDR_LINE_FIELD;
    }
    return colon == line ? HTTP_HDR_LINE_FIELD : HTTP_HDR_LINE_OK;
}

}  // namespace

int http_hdr_feed_line(HTTP_HDR* hdr, const char* line, size_t len) {
    static const char myname[] = "http_hdr_feed_line";

    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) len--;
    hdr->cur_lines++;
    if (hdr->max_lines > 0 && hdr->cur_lines > hdr->max_lines) {
        acl_msg_error("%s(%d): cur_lines(%d) > max_lines(%d)", myname, __LINE__, hdr->cur_lines,
                      hdr->max_lines);
        return HTTP_CHAT_ERR_TOO_MANY_LINES;
    }
    hdr->bytes += static_cast<int64_t>(len) + 2;
    if (hdr->bytes > HTTP_HDR_MAX_BYTES) {
        acl_msg_error("%s(%d): header bytes(%lld) > max(%d)", myname, __LINE__,
                      static_cast<long long>(hdr->bytes), HTTP_HDR_MAX_BYTES);
        return HTTP_CHAT_ERR_TOO_MANY_LINES;
    }
    if (len == 0) return hdr->valid_lines > 0 ? HTTP_CHAT_OK : HTTP_HDR_FEED_MORE;

    if (hdr->line_fault == HTTP_HDR_LINE_OK)
        hdr->line_fault = line_fault(line, len, hdr->valid_lines == 0);
    hdr->valid_lines++;
    HTTP_HDR_ENTRY* entry = http_hdr_entry_new2(line, len);
    if (entry != nullptr) http_hdr_append_entry(hdr, entry);
    return HTTP_HDR_FEED_MORE;
}

// Parsing ------------------------------------------------------------------

namespace {

// Splits a list field value at commas into its trimmed, non-empty members.
void list_members(const std::string& value, std::vector<std::string>& out) {
    size_t begin = 0;
    for (;;) {
        size_t comma = value.find(',', begin);
        std::string member = http_text::trim(
            value.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
        if (!member.empty()) out.push_back(std::move(member));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
}

}  // namespace

int http_hdr_parse(HTTP_HDR* hdr) {
    static const char myname[] = "http_hdr_parse";

    if (hdr == nullptr) acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);

    // A header may be parsed again after it was edited: start from scratch.
    hdr->keep_alive = 0;
    hdr->content_length = -1;
    hdr->chunked = 0;
    hdr->transfer_encoding = 0;
    hdr->framing_conflict = HTTP_HDR_FRAMING_OK;
    if (hdr->line_fault != HTTP_HDR_LINE_OK) {
        acl_msg_error("%s: invalid header line, fault(%d)", myname, hdr->line_fault);
        return -1;
    }

    std::vector<std::string> codings;
    bool have_length = false;
    for (size_t i = 1; i < hdr->entries.size(); i++) {
        const HTTP_HDR_ENTRY& entry = *hdr->entries[i];
        const std::string& name = entry.name;
        if (iequals(name, "Connection") || iequals(name, "Proxy-Connection")) {
            if (iequals(entry.value, "keep-alive")) hdr->keep_alive = 1;
        } else if (iequals(name, "Content-Length")) {
            // "5, 5" and repeated fields are one length when all agree.
            std::vector<std::string> values;
            list_members(entry.value, values);
            if (values.empty()) values.push_back(entry.value);
            for (const std::string& v : values) {
                int64_t length = 0;
                if (!http_text::parse_length(v, &length)) {
                    acl_msg_error("%s: content_length(%s) invalid", myname, entry.value.c_str());
                    return -1;
                }
                if (have_length && length != hdr->content_length)
                    hdr->framing_conflict = HTTP_HDR_FRAMING_LENGTHS;
                hdr->content_length = length;
                have_length = true;
            }
        } else if (iequals(name, "Transfer-Encoding")) {
            hdr->transfer_encoding = 1;
            list_members(entry.value, codings);
        }
    }
    hdr->chunked = !codings.empty() && iequals(codings.back(), "chunked");
    if (hdr->transfer_encoding && have_length) hdr->framing_conflict = HTTP_HDR_FRAMING_TE_CL;
    if (hdr->framing_conflict != HTTP_HDR_FRAMING_OK) {
        // No length both sides would read alike: only the close ends the body.
        hdr->content_length = -1;
        hdr->chunked = 0;
    }
    return 0;
}

int http_hdr_parse_version(HTTP_HDR* hdr, const char* text) {
    static const char myname[] = "http_hdr_parse_version";

    if (hdr == nullptr || text == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    std::string s(text);
    if (!http_text::istarts_with(s, "HTTP/")) return -1;

    // "major.minor", each a decimal number that fits 32 bits.
    unsigned parts[2] = {0, 0};
    size_t i = 5;
    for (int p = 0; p < 2; p++) {
        if (p == 1) {
            if (i >= s.size() || s[i] != '.') return -1;
            i++;
        }
        size_t digits = 0;
        uint64_t value = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++, digits++) {
            value = value * 10 + static_cast<uint64_t>(s[i] - '0');
            if (value > UINT32_MAX) return -1;
        }
        if (digits == 0) return -1;
        parts[p] = static_cast<unsigned>(value);
    }
    std::strcpy(hdr->proto, "HTTP");
    hdr->version_major = parts[0];
    hdr->version_minor = parts[1];
    return 0;
}

// Output -------------------------------------------------------------------

void http_hdr_build(const HTTP_HDR* hdr, std::string& buf) {
    if (hdr == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_build", __LINE__);
    for (size_t i = 0; i < hdr->entries.size(); i++) {
        const HTTP_HDR_ENTRY& entry = *hdr->entries[i];
        buf += entry.name;
        buf += i == 0 ? " " : ": ";
        buf += entry.value;
        buf += "\r\n";
    }
    buf += "\r\n";
}

void http_hdr_print(const HTTP_HDR* hdr, const char* msg) {
    static const char myname[] = "http_hdr_print";

    if (hdr == nullptr) acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    if (hdr->entries.empty()) {
        acl_msg_info("%s, %s(%d): array empty", __FILE_NAME__, myname, __LINE__);
        return;
    }
    acl_msg_info("------------- in %s - msg=(%s)----------------", myname, msg ? msg : "");
    for (size_t i = 0; i < hdr->entries.size(); i++) {
        const HTTP_HDR_ENTRY& entry = *hdr->entries[i];
        acl_msg_info("%s%s%s", entry.name.c_str(), i == 0 ? " " : ": ", entry.value.c_str());
    }
    acl_msg_info("--------------- end -----------------");
}

void http_hdr_fprint(std::FILE* fp, const HTTP_HDR* hdr, const char* msg) {
    static const char myname[] = "http_hdr_fprint";

    if (fp == nullptr || hdr == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, myname, __LINE__);
    if (hdr->entries.empty()) {
        acl_msg_info("%s, %s(%d): array empty", __FILE_NAME__, myname, __LINE__);
        return;
    }
    std::fprintf(fp, "------------- in %s - (%s)----------------\r\n", myname, msg ? msg : "");
    for (size_t i = 0; i < hdr->entries.size(); i++) {
        const HTTP_HDR_ENTRY& entry = *hdr->entries[i];
        std::fprintf(fp, "%s%s%s\r\n", entry.name.c_str(), i == 0 ? " " : ": ",
                     entry.value.c_str());
    }
    std::fprintf(fp, "--------------- end -----------------\r\n");
}

// Lifetime -----------------------------------------------------------------

void http_hdr_clone(const HTTP_HDR* src, HTTP_HDR* dst) {
    if (src == nullptr || dst == nullptr)
        acl_msg_fatal("%s, %s(%d): input null", __FILE_NAME__, "http_hdr_clone", __LINE__);
    std::memcpy(dst->proto, src->proto, sizeof(dst->proto));
    dst->version_major = src->version_major;
    dst->version_minor = src->version_minor;
    dst->keep_alive = src->keep_alive;
    dst->content_length = src->content_length;
    dst->chunked = src->chunked;
    dst->transfer_encoding = src->transfer_encoding;
    dst->framing_conflict = src->framing_conflict;
    dst->line_fault = src->line_fault;
    dst->bytes = src->bytes;
    dst->max_lines = src->max_lines;
    dst->cur_lines = src->cur_lines;
    dst->valid_lines = src->valid_lines;
    dst->entries.clear();
    dst->entries.reserve(src->entries.size() > HTTP_HDR_ENTRIES_INIT ? src->entries.size()
                                                                     : HTTP_HDR_ENTRIES_INIT);
    for (const auto& entry : src->entries) dst->entries.emplace_back(new HTTP_HDR_ENTRY(*entry));
    // A reader's state belongs to the stream it reads; the clone starts without.
}

void http_hdr_reset(HTTP_HDR* hdr) {
    hdr->proto[0] = '\0';
    hdr->version_major = 0;
    hdr->version_minor = 0;
    hdr->keep_alive = 0;
    hdr->content_length = -1;
    hdr->chunked = 0;
    hdr->transfer_encoding = 0;
    hdr->framing_conflict = HTTP_HDR_FRAMING_OK;
    hdr->line_fault = HTTP_HDR_LINE_OK;
    hdr->bytes = 0;
    hdr->cur_lines = 0;
    hdr->valid_lines = 0;
    hdr->entries.clear();
    // The reader state is kept: a reset header may be read again at once.
}

void http_hdr_free_members(HTTP_HDR* hdr) {
    hdr->entries.clear();
    if (hdr->chat_ctx != nullptr && hdr->chat_free != nullptr) hdr->chat_free(hdr->chat_ctx);
    hdr->chat_ctx = nullptr;
}
