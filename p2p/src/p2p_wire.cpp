#include "p2p_wire.h"

#include <algorithm>
#include <cstdlib>

void P2pWriter::header(const P2P_HEADER& h) {
    u16(0);
    u32(0);
    u32(h.client_id);
    u32(h.token);
    u16(h.type);
    u16(h.seq);
    u16(h.ack);
}

void P2pWriter::u8(std::uint8_t v) {
    if (room(1)) out_.push_back(static_cast<char>(v));
}

void P2pWriter::u16(std::uint16_t v) {
    if (!room(2)) return;
    out_.push_back(static_cast<char>(v >> 8));
    out_.push_back(static_cast<char>(v));
}

void P2pWriter::u32(std::uint32_t v) {
    if (!room(4)) return;
    for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(static_cast<char>(v >> shift));
}

void P2pWriter::raw64(std::uint64_t v) {
    if (!room(8)) return;
    for (int shift = 0; shift < 64; shift += 8) out_.push_back(static_cast<char>(v >> shift));
}

void P2pWriter::blob(std::string_view data) {
    // The length field counts the NUL and has 16 bits.
    if (data.size() + 1 > 0xffff || !room(2 + data.size() + 1)) return;
    u16(static_cast<std::uint16_t>(data.size() + 1));
    out_.append(data);
    out_.push_back('\0');
}

bool P2pReader::take(std::size_t n) {
    if (left() < n) {
        pos_ = size_;
        return false;
    }
    return true;
}

std::uint8_t P2pReader::u8() {
    if (!take(1)) return 0;
    return p_[pos_++];
}

std::uint16_t P2pReader::u16() {
    if (!take(2)) return 0;
    std::uint16_t v = static_cast<std::uint16_t>(p_[pos_] << 8 | p_[pos_ + 1]);
    pos_ += 2;
    return v;
}

std::uint32_t P2pReader::u32() {
    if (!take(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; i++) v = v << 8 | p_[pos_ + i];
    pos_ += 4;
    return v;
}

std::uint64_t P2pReader::raw64() {
    if (!take(8)) return 0;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = v << 8 | p_[pos_ + i];
    pos_ += 8;
    return v;
}

std::string P2pReader::blob() {
    std::uint16_t n = u16();
    if (n == 0) return {};
    if (!take(n)) return {};
    const char* start = reinterpret_cast<const char*>(p_ + pos_);
    pos_ += n;
    if (start[n - 1] != '\0') return {};
    return std::string(start, n - 1);
}

int p2p_header_read(P2pReader& r, P2P_HEADER* h) {
    *h = P2P_HEADER();
    if (r.left() < P2P_HEADER_SIZE) {
        while (!r.at_end()) r.u8();
        return -1;
    }
    r.u16();
    r.u32();
    h->client_id = r.u32();
    h->token = r.u32();
    h->type = r.u16();
    h->seq = r.u16();
    h->ack = r.u16();
    return 0;
}

P2P_LOGIN_REPLY p2p_login_reply_read(P2pReader& r) {
    P2P_LOGIN_REPLY reply;
    reply.public_ip = r.u32();
    reply.public_port = r.u16();
    reply.state = r.u16();
    return reply;
}

P2P_QUERY_ANSWER p2p_query_answer_read(P2pReader& r) {
    P2P_QUERY_ANSWER answer;
    answer.status = r.u16();
    answer.rid = r.raw64();
    while (r.left() >= 8) {
        P2P_PEER peer;
        peer.id = r.u32();
        peer.ip = r.u32();
        if (peer.id == 0) break;
        answer.peers.push_back(peer);
    }
    return answer;
}

std::vector<P2P_PEER> p2p_peers_by_distance(const std::vector<P2P_PEER>& peers,
                                            std::uint32_t self_id, std::uint32_t self_ip) {
    struct Ranked {
        std::int64_t distance;
        P2P_PEER peer;
    };
    std::vector<Ranked> ranked;
    for (const P2P_PEER& p : peers) {
        if (p.id == self_id) continue;
        // The difference wraps like the original's 32-bit signed arithmetic.
        std::int32_t diff = static_cast<std::int32_t>(self_ip - p.ip);
        ranked.push_back({std::llabs(static_cast<std::int64_t>(diff)), p});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Ranked& a, const Ranked& b) { return a.distance < b.distance; });
    std::vector<P2P_PEER> out;
    for (const Ranked& r : ranked) out.push_back(r.peer);
    return out;
}

namespace {

void peer_message_start(P2pWriter& w, std::uint8_t kind, std::uint64_t rid) {
    w.u8(P2P_PEER_DATA_TYPE);
    w.u8(1);
    w.u8(kind);
    w.raw64(rid);
}

}  // namespace

std::string p2p_peer_request_encode(std::uint64_t rid, std::uint64_t begin, std::uint16_t length) {
    P2pWriter w;
    peer_message_start(w, P2P_PEER_REQUEST, rid);
    w.raw64(begin);
    w.u16(length);
    return w.bytes();
}

std::string p2p_peer_response_encode(std::uint64_t rid, std::uint64_t begin, std::string_view data,
                                     std::size_t limit) {
    P2pWriter w(limit);
    peer_message_start(w, P2P_PEER_RESPONSE, rid);
    w.u8(0);
    w.raw64(begin);
    w.blob(data);
    return w.bytes();
}

std::string p2p_peer_refusal_encode(std::uint64_t rid) {
    P2pWriter w;
    peer_message_start(w, P2P_PEER_RESPONSE, rid);
    w.u8(1);
    return w.bytes();
}

int p2p_peer_message_decode(const void* data, std::size_t size, P2P_PEER_MESSAGE* out) {
    *out = P2P_PEER_MESSAGE();
    P2pReader r(data, size);
    if (size < 12 || r.u8() != P2P_PEER_DATA_TYPE || r.u8() != 1) return -1;
    out->kind = r.u8();
    out->rid = r.raw64();
    if (out->kind == P2P_PEER_REQUEST) {
        if (size < P2P_PEER_REQUEST_SIZE) return -1;
        out->begin = r.raw64();
        out->length = r.u16();
        return 0;
    }
    if (out->kind != P2P_PEER_RESPONSE) return -1;
    out->status = r.u8();
    if (out->status == 0) {
        out->begin = r.raw64();
        out->data = r.blob();
    }
    return 0;
}
