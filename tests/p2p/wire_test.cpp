// The wire formats: header and items, blobs, the query answer and the peer
// data messages.
#include <gtest/gtest.h>

#include <string>

#include "p2p_wire.h"

namespace {

std::string u16be(unsigned v) { return std::string{char(v >> 8), char(v & 0xff)}; }

TEST(P2pWire, HeaderIsTwentyBytesInNetworkOrder) {
    P2pWriter w;
    P2P_HEADER h;
    h.client_id = 0x01020304;
    h.token = 0x0a0b0c0d;
    h.type = p2p_type(P2P_CMD_MESSAGE, P2P_MSG_RC_ADD);
    h.seq = 0x1234;
    h.ack = 0x5678;
    w.header(h);
    const std::string want("\0\0\0\0\0\0\x01\x02\x03\x04\x0a\x0b\x0c\x0d\x00\x1c\x12\x34\x56\x78",
                           20);
    EXPECT_EQ(w.bytes(), want);

    P2pReader r(w.bytes().data(), w.bytes().size());
    P2P_HEADER back;
    ASSERT_EQ(p2p_header_read(r, &back), 0);
    EXPECT_EQ(back.client_id, h.client_id);
    EXPECT_EQ(back.token, h.token);
    EXPECT_EQ(back.cmd(), P2P_CMD_MESSAGE);
    EXPECT_EQ(back.subtype(), P2P_MSG_RC_ADD);
    EXPECT_EQ(back.seq, 0x1234);
    EXPECT_EQ(back.ack, 0x5678);
}

TEST(P2pWire, ShortDatagramHasNoHeader) {
    const std::string bytes(19, '\x7f');
    P2pReader r(bytes.data(), bytes.size());
    P2P_HEADER h;
    EXPECT_EQ(p2p_header_read(r, &h), -1);
    EXPECT_EQ(h.type, 0);
    EXPECT_TRUE(r.at_end());
}

TEST(P2pWire, RawFieldsAreLittleEndian) {
    P2pWriter w;
    w.raw64(0x0102030405060708ULL);
    EXPECT_EQ(w.bytes(), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
}

TEST(P2pWire, BlobReading) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string blob;   // what the reader gives
        std::uint8_t next;  // the byte read after the blob (0: none left)
    };
    const Case cases[] = {
        {"well formed", u16be(4) + std::string("abc\0", 4) + "\x05", "abc", 5},
        {"empty blob", u16be(1) + std::string("\0", 1) + "\x05", "", 5},
        {"last byte not NUL", u16be(4) + "abcd" + "\x05", "", 5},
        {"longer than the rest", u16be(40) + std::string("abc\0", 4), "", 0},
        {"length zero", u16be(0) + "\x05", "", 5},
        {"length cut off", std::string("\x00", 1), "", 0},
        {"NUL inside is kept", u16be(4) + std::string("a\0b\0", 4), std::string("a\0b", 3), 0},
    };
    for (const Case& c : cases) {
        P2pReader r(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.blob(), c.blob) << c.name;
        EXPECT_EQ(r.u8(), c.next) << c.name;
    }
}

TEST(P2pWire, ItemThatDoesNotFitIsLeftOut) {
    P2pWriter w;
    P2P_HEADER h;
    w.header(h);
    w.u32(77);
    w.blob(std::string(1600, 'x'));  // a relay blob too large for a datagram
    EXPECT_EQ(w.bytes().size(), P2P_HEADER_SIZE + 4);
    w.blob(std::string(1500, 'y'));  // still fits: 20 + 4 + 2 + 1501 <= 1536
    EXPECT_EQ(w.bytes().size(), P2P_HEADER_SIZE + 4 + 2 + 1501);
    w.u32(1);  // would pass 1536
    EXPECT_LE(w.bytes().size(), P2P_DGRAM_MAX);
}

TEST(P2pWire, QueryAnswerStopsAtPeerZeroOrTheEnd) {
    P2pWriter w;
    w.u16(0);
    w.raw64(42);
    w.u32(7);
    w.u32(0x7f000002);
    w.u32(0);  // end
    w.u32(9);
    w.u32(1);
    P2pReader r(w.bytes().data(), w.bytes().size());
    P2P_QUERY_ANSWER a = p2p_query_answer_read(r);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.rid, 42u);
    ASSERT_EQ(a.peers.size(), 1u);
    EXPECT_EQ(a.peers[0].id, 7u);

    // A pair cut short by the datagram's end is not a peer.
    std::string cut = w.bytes().substr(0, 2 + 8 + 6);
    P2pReader r2(cut.data(), cut.size());
    EXPECT_TRUE(p2p_query_answer_read(r2).peers.empty());
}

TEST(P2pWire, PeersByDistanceSkipSelfNearestFirst) {
    const std::uint32_t self_ip = 0x0a000064;  // 10.0.0.100
    std::vector<P2P_PEER> peers = {
        {5, 0x0a0000c8},  // 100 away
        {1, 0x0a000001},  // this client itself, under its id
        {6, 0x0a000065},  // 1 away
        {7, 0xc0a80001},  // far, and the difference passes the signed range
        {8, 0x0a00005a},  // 10 away
    };
    std::vector<P2P_PEER> out = p2p_peers_by_distance(peers, 1, self_ip);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].id, 6u);
    EXPECT_EQ(out[1].id, 8u);
    EXPECT_EQ(out[2].id, 5u);
    EXPECT_EQ(out[3].id, 7u);
}

TEST(P2pWire, PeerDataMessagesRoundTrip) {
    std::string req = p2p_peer_request_encode(0x1122334455667788ULL, 1000, 500);
    ASSERT_EQ(req.size(), P2P_PEER_REQUEST_SIZE);
    EXPECT_EQ(req.substr(0, 3), std::string("\x03\x01\x00", 3));
    P2P_PEER_MESSAGE m;
    ASSERT_EQ(p2p_peer_message_decode(req.data(), req.size(), &m), 0);
    EXPECT_EQ(m.kind, P2P_PEER_REQUEST);
    EXPECT_EQ(m.rid, 0x1122334455667788ULL);
    EXPECT_EQ(m.begin, 1000u);
    EXPECT_EQ(m.length, 500);
    EXPECT_EQ(p2p_peer_message_decode(req.data(), 20, &m), -1);

    std::string data("frame\0bytes", 11);
    std::string res = p2p_peer_response_encode(9, 2000, data);
    ASSERT_EQ(p2p_peer_message_decode(res.data(), res.size(), &m), 0);
    EXPECT_EQ(m.kind, P2P_PEER_RESPONSE);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.begin, 2000u);
    EXPECT_EQ(m.data, data);

    std::string no = p2p_peer_refusal_encode(9);
    ASSERT_EQ(p2p_peer_message_decode(no.data(), no.size(), &m), 0);
    EXPECT_EQ(m.status, 1);
    EXPECT_TRUE(m.data.empty());

    std::string other = "\x02\x01\x00" + std::string(20, '\0');
    EXPECT_EQ(p2p_peer_message_decode(other.data(), other.size(), &m), -1);
}

}  // namespace
