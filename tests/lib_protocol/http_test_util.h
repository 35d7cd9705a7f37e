// Helpers for the HTTP tests: headers and bodies read from text held in memory
// with the same line rules as the stream readers.
#pragma once

#include <string>
#include <vector>

#include "http_body.h"
#include "http_hdr.h"

// Feeds `text` line by line (lines end in "\n"; a "\r" before it is dropped)
// into `hdr` until the header ends; returns the last result of
// http_hdr_feed_line, or HTTP_HDR_FEED_MORE when the text ran out first.
inline int feed_header(HTTP_HDR* hdr, const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        int ret = http_hdr_feed_line(hdr, text.data() + pos, end - pos);
        if (ret != HTTP_HDR_FEED_MORE) return ret;
        pos = end + 1;
    }
    return HTTP_HDR_FEED_MORE;
}

// One delivery of a body reader: its status and bytes.
struct Delivery {
    int status;
    std::string data;
    bool operator==(const Delivery& o) const { return status == o.status && data == o.data; }
};

// Reads a body from `wire` as a stream reader would (lines with their
// end-of-line, data in pieces of at most `piece` bytes) and returns the
// deliveries; the last one is the final status (0 with the total as text, or
// an error) once the body ends, the wire ends or an error occurs.
inline std::vector<Delivery> read_body(HTTP_BODY* body, const std::string& wire, size_t piece) {
    std::vector<Delivery> out;
    size_t pos = 0;
    for (;;) {
        int64_t max = 0;
        HTTP_BODY_WANT want = http_body_want(body, &max);
        std::string unit;
        if (want == HTTP_BODY_WANT_NONE) {
            out.push_back({0, std::to_string(body->total)});
            return out;
        }
        if (pos >= wire.size()) {
            int status = http_body_closed(body);
            out.push_back({status, status == 0 ? std::to_string(body->total) : ""});
            return out;
        }
        if (want == HTTP_BODY_WANT_LINE) {
            size_t nl = wire.find('\n', pos);
            size_t end = nl == std::string::npos ? wire.size() : nl + 1;
            unit = wire.substr(pos, end - pos);
        } else {
            size_t n = piece;
            if (want == HTTP_BODY_WANT_DATA && static_cast<int64_t>(n) > max)
                n = static_cast<size_t>(max);
            unit = wire.substr(pos, n);
        }
        pos += unit.size();
        int status = http_body_feed(body, unit.data(), unit.size());
        out.push_back({status, unit});
        if (status >= 100) return out;
    }
}
