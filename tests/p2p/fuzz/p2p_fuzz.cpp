// libFuzzer target over the server channel's datagram reader: every input is
// handed to a live channel as a datagram from the server, read as each
// payload the protocol knows, and given to the stand-in server's reader.
//
// Whatever the bytes, nothing may crash, leak or read outside the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "acl_msg.h"
#include "p2p_wire.h"
#include "server_channel.h"
#include "sessionsvr.h"

namespace {

class Events : public p2p::ServerChannelEvents {
  public:
    void on_login_reply(std::uint16_t, std::uint32_t) override {}
    void on_relay(std::uint32_t, const std::string& blob) override {
        if (blob.size() > P2P_DGRAM_MAX) __builtin_trap();
    }
    void on_query_answer(const P2P_QUERY_ANSWER& a) override {
        if (a.peers.size() > P2P_DGRAM_MAX / 8) __builtin_trap();
    }
    void on_send_failed(std::uint16_t, std::uint16_t) override {}
    void on_login_lapsed() override {}
};

Events g_events;
std::unique_ptr<p2p::ServerChannel> g_channel;
SessionServer g_server([](const std::string&) {});

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    acl_msg_open("/dev/null", "log");
    acl_debug_init("74:4");  // the debug lines format what they read, too
    // Port 9 (discard): the channel's answers go nowhere.
    g_channel = p2p::ServerChannel::open("127.0.0.1", 9, &g_events);
    return g_channel != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > P2P_DGRAM_MAX) return 0;  // the receiver never reads more
    g_channel->handle_datagram(data, size);

    P2pReader r(data, size);
    P2P_HEADER h;
    p2p_header_read(r, &h);
    P2pReader login = r;
    p2p_login_reply_read(login);
    P2pReader query = r;
    p2p_query_answer_read(query);
    P2pReader relay = r;
    relay.u32();
    relay.blob();
    P2P_PEER_MESSAGE m;
    p2p_peer_message_decode(data, size, &m);

    g_server.handle(std::string(reinterpret_cast<const char*>(data), size), {0x7f000001, 4000}, 0);
    g_server.handle_stun(std::string(reinterpret_cast<const char*>(data), size),
                         {0x7f000001, 4000});
    return 0;
}
