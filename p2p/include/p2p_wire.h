// The P2P wire formats: server channel datagrams and peer data messages.
//
// Server channel datagram (UDP, at most P2P_DGRAM_MAX bytes), integers in
// network byte order:
//
//     offset  width  field
//      0      2      reserved, 0
//      2      4      reserved, 0
//      6      4      client id (0 before one is known)
//     10      4      login token
//     14      2      type: subtype << 3 | command
//     16      2      sequence number (0 in acknowledgements)
//     18      2      sequence number acknowledged (0 when none)
//     20      ...    payload items
//
// A blob item is a 2-byte length n (blob size + 1), the blob and one NUL, so
// the n bytes end in the NUL. "Raw" fields (resource ids, peer offsets) are
// written in the byte order of the client's original platform: little-endian.
//
// Writing: an item that would take the datagram past its limit is left out,
// silently; later smaller items may still fit. Reading: an item that is not
// there in full reads as zero; a blob whose last byte is not NUL, or that does
// not fit in what is left, reads as empty (and a blob that does not fit ends
// the reading). Nothing a reader is given can make it read outside its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t P2P_DGRAM_MAX = 1536;  // bytes in one server channel datagram
constexpr std::size_t P2P_HEADER_SIZE = 20;

// Commands: the low 3 bits of the type.
enum : std::uint16_t {
    P2P_CMD_LOGIN = 0,      // client: client id; server: the login reply
    P2P_CMD_LOGOUT = 1,     // client, no payload
    P2P_CMD_ACK = 2,        // both, no payload, never acknowledged itself
    P2P_CMD_KEEPALIVE = 3,  // client, and the server's reply, no payload
    P2P_CMD_MESSAGE = 4,    // both: payload by subtype
};

// Subtypes of P2P_CMD_MESSAGE.
enum : std::uint16_t {
    P2P_MSG_RELAY = 1,      // to server: peer id, blob; from server: sender id, blob
    P2P_MSG_RC_REMOVE = 2,  // resource id (raw)
    P2P_MSG_RC_ADD = 3,     // resource id (raw)
    P2P_MSG_RC_QUERY = 4,   // to server: resource id; from server: the answer
};

inline std::uint16_t p2p_type(std::uint16_t cmd, std::uint16_t subtype) {
    return static_cast<std::uint16_t>((subtype << 3) | (cmd & 7));
}

struct P2P_HEADER {
    std::uint32_t client_id = 0;
    std::uint32_t token = 0;
    std::uint16_t type = 0;
    std::uint16_t seq = 0;
    std::uint16_t ack = 0;

    std::uint16_t cmd() const { return type & 7; }
    std::uint16_t subtype() const { return type >> 3; }
};

// Builds one datagram: the header first, then items up to `limit` bytes.
class P2pWriter {
  public:
    explicit P2pWriter(std::size_t limit = P2P_DGRAM_MAX) : limit_(limit) {}

    void header(const P2P_HEADER& h);
    void u8(std::uint8_t v);
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void raw64(std::uint64_t v);  // little-endian
    void blob(std::string_view data);

    const std::string& bytes() const { return out_; }

  private:
    bool room(std::size_t n) const { return out_.size() + n <= limit_; }

    std::size_t limit_;
    std::string out_;
};

// Reads the items of one datagram or message, in order.
class P2pReader {
  public:
    P2pReader(const void* data, std::size_t size)
        : p_(static_cast<const unsigned char*>(data)), size_(size) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t raw64();
    std::string blob();

    std::size_t left() const { return size_ - pos_; }
    bool at_end() const { return pos_ >= size_; }

  private:
    // Whether `n` more bytes are there; when not, the reader moves to the end.
    bool take(std::size_t n);

    const unsigned char* p_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Reads the header of a datagram. -1 for a datagram shorter than the header,
// which carries nothing the client acts on; the reader then stands after it.
int p2p_header_read(P2pReader& r, P2P_HEADER* h);

// The login reply's payload.
struct P2P_LOGIN_REPLY {
    std::uint32_t public_ip = 0;  // host order
    std::uint16_t public_port = 0;
    std::uint16_t state = 0;
};
P2P_LOGIN_REPLY p2p_login_reply_read(P2pReader& r);

// One holder in the server's answer to a query.
struct P2P_PEER {
    std::uint32_t id = 0;
    std::uint32_t ip = 0;  // host order
};

// The server's answer to a query: the status, the resource and the pairs up to
// a peer id of 0 or the end of the datagram.
struct P2P_QUERY_ANSWER {
    std::uint16_t status = 0;
    std::uint64_t rid = 0;
    std::vector<P2P_PEER> peers;
};
P2P_QUERY_ANSWER p2p_query_answer_read(P2pReader& r);

// The holders other than `self_id`, nearest first: distance is the absolute
// difference of the two 32-bit addresses taken in signed 32-bit arithmetic.
// Peers at equal distance keep no defined order.
std::vector<P2P_PEER> p2p_peers_by_distance(const std::vector<P2P_PEER>& peers,
                                            std::uint32_t self_id, std::uint32_t self_ip);

// Peer data messages (carried by the peer transport; its first byte, 3, marks
// them):
//
//     offset  width  field
//      0      1      3
//      1      1      1
//      2      1      kind: 0 request, 1 response
//      3      8      resource id (raw)
//
// A request goes on with the begin offset (8, raw) and the length wanted (2,
// network order): 21 bytes. A response goes on with a status byte: 0, the begin
// offset (8, raw) and the data as a blob; or 1 when the peer has nothing to
// send for that request.
constexpr std::uint8_t P2P_PEER_DATA_TYPE = 3;
constexpr std::size_t P2P_PEER_REQUEST_SIZE = 21;

enum : std::uint8_t { P2P_PEER_REQUEST = 0, P2P_PEER_RESPONSE = 1 };

struct P2P_PEER_MESSAGE {
    std::uint8_t kind = P2P_PEER_REQUEST;
    std::uint64_t rid = 0;
    std::uint64_t begin = 0;
    std::uint16_t length = 0;  // a request's length wanted
    std::uint8_t status = 0;   // a response's status
    std::string data;          // a response's bytes
};

std::string p2p_peer_request_encode(std::uint64_t rid, std::uint64_t begin, std::uint16_t length);
// A status-0 response with `data`; the blob is left out when it would pass
// `limit` bytes in all, as every writer does.
std::string p2p_peer_response_encode(std::uint64_t rid, std::uint64_t begin, std::string_view data,
                                     std::size_t limit = P2P_DGRAM_MAX);
std::string p2p_peer_refusal_encode(std::uint64_t rid);
// 0, or -1 when the bytes are not a peer data message (wrong marker bytes, an
// unknown kind, a request shorter than 21 bytes or a response without status).
int p2p_peer_message_decode(const void* data, std::size_t size, P2P_PEER_MESSAGE* out);
