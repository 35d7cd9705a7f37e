// The message channel: framing, reception on the loop, dispatch, sending.
#include "acl_msgio.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/fd_file.h"
#include "platform/socket.h"

namespace {

ACL_MSGIO* g_default = nullptr;  // the process-wide channel, set at start-up

void put_le32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

std::uint32_t get_le32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

void copy_text(char* dst, std::size_t size, const std::string& src) {
    std::size_t n = src.size() < size - 1 ? src.size() : size - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// Calls the handlers of `type` in `regs`; -1 as soon as one fails. Handlers
// may register or remove handlers meanwhile: the walk goes by index and holds
// the table alive.
int walk(std::shared_ptr<ACL_MSGIO_REGS> regs, ACL_MSGIO* mio, const ACL_MSGIO_MSG* msg) {
    if (!regs) return 0;
    for (std::size_t i = 0; i < regs->size(); i++) {
        if ((*regs)[i].type != msg->type) continue;
        for (std::size_t j = 0; j < (*regs)[i].handlers.size(); j++) {
            ACL_MSGIO_HANDLER h = (*regs)[i].handlers[j];
            if (h.fn(static_cast<int>(msg->type), mio, msg, h.arg) < 0) return -1;
            if (i >= regs->size()) return 0;
        }
    }
    return 0;
}

int dispatch(ACL_MSGIO* mio, const ACL_MSGIO_MSG* msg) {
    int rc = walk(mio->regs, mio, msg);
    if (rc == 0 && g_default != nullptr && g_default != mio) rc = walk(g_default->regs, mio, msg);
    if (rc < 0) acl_msg_error("%s: msgio_entry_walk return error, type=%u", __func__, msg->type);
    return rc;
}

// ---- reception on the loop ----------------------------------------------------

// Largest body accepted for `type`; -1 refuses the type.
int body_bound(const ACL_MSGIO* mio, unsigned int type) {
    if (mio->limits.empty()) return ACL_MSGIO_BODY_MAX;
    for (const auto& l : mio->limits) {
        if (l.first == type) return l.second;
    }
    return -1;
}

int read_header(ACL_ASTREAM* a, void* ctx, char* data, int dlen);

int next_header(ACL_ASTREAM* a, ACL_MSGIO* mio) {
    acl_aio_ctl(a, ACL_AIO_CTL_READ_FN, read_header, ACL_AIO_CTL_CTX, mio, ACL_AIO_CTL_END);
    return acl_aio_readn(a, ACL_MSGIO_HDR_LEN) < 0 ? -1 : 0;
}

int read_body(ACL_ASTREAM* a, void* ctx, char* data, int dlen) {
    auto* mio = static_cast<ACL_MSGIO*>(ctx);
    if (dlen != mio->hdr_dlen) {
        acl_msg_error("%s: dlen=%d, hdr.dlen=%d", __func__, dlen, mio->hdr_dlen);
        return -1;
    }
    ACL_MSGIO_MSG msg{mio->hdr_type, dlen, data};  // the line buffer ends with a NUL
    if (dispatch(mio, &msg) < 0) return -1;
    return next_header(a, mio);
}

int read_header(ACL_ASTREAM* a, void* ctx, char* data, int dlen) {
    auto* mio = static_cast<ACL_MSGIO*>(ctx);
    if (dlen != ACL_MSGIO_HDR_LEN) {
        acl_msg_error("%s: dlen=%d, size=%d", __func__, dlen, ACL_MSGIO_HDR_LEN);
        return -1;
    }
    mio->hdr_type = get_le32(data);
    mio->hdr_dlen = static_cast<int>(get_le32(data + 4));
    int max = body_bound(mio, mio->hdr_type);
    if (mio->hdr_dlen < 0 || mio->hdr_dlen > max) {
        acl_msg_error("%s: dlen=%d invalid, type=%u, max=%d", __func__, mio->hdr_dlen,
                      mio->hdr_type, max);
        return -1;
    }
    if (mio->hdr_dlen == 0) {
        ACL_MSGIO_MSG msg{mio->hdr_type, 0, ""};
        if (dispatch(mio, &msg) < 0) return -1;
        return next_header(a, mio);
    }
    acl_aio_ctl(a, ACL_AIO_CTL_READ_FN, read_body, ACL_AIO_CTL_END);
    return acl_aio_readn(a, mio->hdr_dlen) < 0 ? -1 : 0;
}

// Last callback of an asynchronous channel: the record goes with it.
int on_close(ACL_ASTREAM*, void* ctx) {
    auto* mio = static_cast<ACL_MSGIO*>(ctx);
    if (!mio->closing && mio->type != ACL_MSGIO_TYPE_LISTEN)
        acl_msg_error("%s: close it now", __func__);
    mio->regs.reset();
    delete mio;
    return 0;
}

// Turns an astream into a receiving channel connection.
void start_reading(ACL_MSGIO* mio) {
    acl_aio_ctl(mio->astream, ACL_AIO_CTL_CLOSE_FN, on_close, ACL_AIO_CTL_TIMEOUT, mio->timeout,
                ACL_AIO_CTL_CTX, mio, ACL_AIO_CTL_END);
    next_header(mio->astream, mio);
}

int wait_accept_msg(ACL_ASTREAM* client, void* ctx) {
    auto* listener = static_cast<ACL_MSGIO*>(ctx);
    auto* mio = new ACL_MSGIO;
    mio->type = ACL_MSGIO_TYPE_ACCEPT;
    mio->aio = listener->aio;
    mio->astream = client;
    mio->fd = acl_aio_vstream(client)->fd;
    mio->timeout = listener->timeout;
    mio->regs = listener->regs;
    mio->limits = listener->limits;
    copy_text(mio->addr, sizeof(mio->addr), acl_aio_vstream(client)->addr_peer);
    start_reading(mio);
    return 0;
}

// ---- sending ----------------------------------------------------------------

// Writes all of buf on a socket from any thread, waiting while it would
// block. Bytes written before a failure go to *sent.
int write_all_fd(int fd, const char* buf, std::size_t len, std::size_t* sent) {
    *sent = 0;
    while (*sent < len) {
        long n = platform::sock_send(fd, buf + *sent, len - *sent);
        if (n > 0) {
            *sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (platform::fd_wait(fd, platform::WAIT_WRITE, -1) < 0 && errno != EINTR) return -1;
            continue;
        }
        return -1;
    }
    return 0;
}

std::string frame(int type, const void* data, int dlen) {
    std::string buf(ACL_MSGIO_HDR_LEN + static_cast<std::size_t>(dlen > 0 ? dlen : 0), '\0');
    put_le32(buf.data(), static_cast<std::uint32_t>(type));
    put_le32(buf.data() + 4, static_cast<std::uint32_t>(dlen > 0 ? dlen : 0));
    if (dlen > 0) std::memcpy(buf.data() + ACL_MSGIO_HDR_LEN, data, static_cast<std::size_t>(dlen));
    return buf;
}

int send_blocking(int fd, const std::string& buf) {
    std::size_t sent = 0;
    if (write_all_fd(fd, buf.data(), buf.size(), &sent) == 0) return 0;
    if (sent < ACL_MSGIO_HDR_LEN)
        acl_msg_error("%s: write error(%s)", __func__, std::strerror(errno));
    else
        acl_msg_error("%s: write msg body error(%s)", __func__, std::strerror(errno));
    return -1;
}

}  // namespace

void acl_msgio_init(void) {
    if (g_default == nullptr) {
        g_default = new ACL_MSGIO;
        g_default->type = ACL_MSGIO_TYPE_LISTEN;
    }
}

void acl_msgio_end(void) {
    delete g_default;
    g_default = nullptr;
}

ACL_MSGIO* acl_msgio_listen(ACL_AIO* aio) {
    if (aio == nullptr) acl_msg_fatal("%s: aio null", __func__);
    ACL_VSTREAM* ls =
        acl_vstream_listen_ex(ACL_MSGIO_LISTEN_ADDR, ACL_MSGIO_BACKLOG, ACL_NON_BLOCKING, 0, 0);
    if (ls == nullptr) acl_msg_fatal("%s: listen error(%s)", __func__, std::strerror(errno));
    auto* mio = new ACL_MSGIO;
    mio->type = ACL_MSGIO_TYPE_LISTEN;
    mio->aio = aio;
    mio->fd = ls->fd;
    copy_text(mio->addr, sizeof(mio->addr), ls->addr_local);
    mio->astream = acl_aio_open(aio, ls);
    acl_aio_ctl(mio->astream, ACL_AIO_CTL_ACCEPT_FN, wait_accept_msg, ACL_AIO_CTL_CLOSE_FN,
                on_close, ACL_AIO_CTL_CTX, mio, ACL_AIO_CTL_END);
    acl_aio_accept(mio->astream);
    return mio;
}

ACL_MSGIO* acl_msgio_connect(ACL_AIO* aio, const char* addr, int timeout) {
    if (addr == nullptr || *addr == '\0') acl_msg_fatal("%s: addr invalid", __func__);
    ACL_VSTREAM* s = acl_vstream_connect_ex(addr, ACL_BLOCKING, timeout, 0, 0);
    if (s == nullptr) {
        acl_msg_error("%s: connect addr(%s) error(%s)", __func__, addr, std::strerror(errno));
        return nullptr;
    }
    auto* mio = new ACL_MSGIO;
    mio->type = ACL_MSGIO_TYPE_CLIENT;
    mio->aio = aio;
    mio->fd = s->fd;
    mio->timeout = timeout;
    copy_text(mio->addr, sizeof(mio->addr), addr);
    if (aio == nullptr) {
        mio->stream = s;
        return mio;
    }
    // The channel's own time-out bounds the connect only: an idle channel is
    // normal and must not be closed.
    mio->timeout = 0;
    mio->astream = acl_aio_open(aio, s);
    start_reading(mio);
    return mio;
}

int acl_msgio_pair(ACL_AIO* aio, ACL_MSGIO** end0, ACL_MSGIO** end1) {
    if (aio == nullptr || end0 == nullptr || end1 == nullptr)
        acl_msg_fatal("%s: input invalid", __func__);
    int fds[2];
    if (platform::sock_pair(fds) < 0) {
        acl_msg_error("%s: socket pair error(%s)", __func__, std::strerror(errno));
        return -1;
    }
    ACL_MSGIO* ends[2];
    for (int i = 0; i < 2; i++) {
        ACL_VSTREAM* s = acl_vstream_fdopen(fds[i], platform::FD_READ | platform::FD_WRITE, 0, 0,
                                            ACL_VSTREAM_TYPE_SOCK);
        auto* mio = new ACL_MSGIO;
        mio->type = ACL_MSGIO_TYPE_CLIENT;
        mio->aio = aio;
        mio->fd = fds[i];
        copy_text(mio->addr, sizeof(mio->addr), "pair");
        mio->astream = acl_aio_open(aio, s);
        ends[i] = mio;
    }
    for (ACL_MSGIO* mio : ends) start_reading(mio);
    *end0 = ends[0];
    *end1 = ends[1];
    return 0;
}

void acl_msgio_limit(ACL_MSGIO* mio, int type, int max_dlen) {
    if (mio == nullptr || max_dlen < 0) acl_msg_fatal("%s: input invalid", __func__);
    auto utype = static_cast<unsigned int>(type);
    for (auto& l : mio->limits) {
        if (l.first == utype) {
            l.second = max_dlen;
            return;
        }
    }
    mio->limits.emplace_back(utype, max_dlen);
}

int acl_msgio_addr(const ACL_MSGIO* mio, char* buf, std::size_t size) {
    if (mio == nullptr || buf == nullptr || size == 0) return -1;
    copy_text(buf, size, mio->addr);
    return 0;
}

void acl_msgio_reg(ACL_MSGIO* mio, int type, ACL_MSGIO_NOTIFY_FN callback, void* arg) {
    if (mio == nullptr) {
        if (g_default == nullptr) acl_msg_fatal("%s: call acl_msgio_init first", __func__);
        mio = g_default;
    }
    if (callback == nullptr) acl_msg_fatal("%s: callback null", __func__);
    if (!mio->regs) mio->regs = std::make_shared<ACL_MSGIO_REGS>();
    auto utype = static_cast<unsigned int>(type);
    for (auto& reg : *mio->regs) {
        if (reg.type != utype) continue;
        for (const auto& h : reg.handlers) {
            if (h.arg == arg) return;
        }
        reg.handlers.push_back({callback, arg});
        return;
    }
    mio->regs->push_back({utype, {{callback, arg}}});
}

void acl_msgio_unreg_all(ACL_MSGIO* mio) {
    if (mio == nullptr) acl_msg_fatal("%s: mio null", __func__);
    if (mio->type == ACL_MSGIO_TYPE_ACCEPT)
        mio->regs = std::make_shared<ACL_MSGIO_REGS>();  // the listener keeps its own
    else if (mio->regs)
        mio->regs->clear();
}

int acl_msgio_send(ACL_MSGIO* mio, int type, const void* data, int dlen) {
    if (mio == nullptr) acl_msg_fatal("%s: mio null", __func__);
    if (dlen < 0 || (dlen > 0 && data == nullptr))
        acl_msg_fatal("%s: dlen(%d) or data invalid", __func__, dlen);
    std::string buf = frame(type, data, dlen);
    switch (mio->type) {
        case ACL_MSGIO_TYPE_LISTEN: {
            ACL_VSTREAM* tmp = acl_vstream_connect_ex(
                mio->addr, ACL_BLOCKING, ACL_MSGIO_SEND_TIMEOUT, ACL_MSGIO_SEND_TIMEOUT, 0);
            if (tmp == nullptr) {
                acl_msg_error("%s: connect server(%s) error", __func__, mio->addr);
                return -1;
            }
            int rc = send_blocking(tmp->fd, buf);
            acl_vstream_close(tmp);
            return rc;
        }
        case ACL_MSGIO_TYPE_CLIENT:
        case ACL_MSGIO_TYPE_ACCEPT:
            // The loop thread must never wait on its own loop: queue instead.
            if (mio->astream != nullptr && acl_aio_in_loop_thread(mio->aio)) {
                if (acl_aio_writen(mio->astream, buf.data(), static_cast<int>(buf.size())) < 0) {
                    acl_msg_error("%s: write error(%s)", __func__, "connection closed");
                    return -1;
                }
                return 0;
            }
            return send_blocking(mio->fd, buf);
        default:
            acl_msg_fatal("%s: mio->type(%d) invalid", __func__, mio->type);
    }
}

int acl_msgio_wait(ACL_MSGIO* mio) {
    if (mio == nullptr || mio->stream == nullptr)
        acl_msg_fatal("%s: not a blocking channel", __func__);
    char hdr[ACL_MSGIO_HDR_LEN];
    if (acl_vstream_readn(mio->stream, hdr, sizeof(hdr)) != ACL_MSGIO_HDR_LEN) {
        acl_msg_error("%s: vstream read error", __func__);
        return -1;
    }
    ACL_MSGIO_MSG msg{get_le32(hdr), static_cast<int>(get_le32(hdr + 4)), ""};
    if (msg.dlen < 0 || msg.dlen > body_bound(mio, msg.type)) {
        acl_msg_error("%s: dlen=%d < 0", __func__, msg.dlen);
        return -1;
    }
    std::string body(static_cast<std::size_t>(msg.dlen), '\0');
    if (msg.dlen > 0 && acl_vstream_readn(mio->stream, body.data(), body.size()) != msg.dlen) {
        acl_msg_error("%s: vstream read error", __func__);
        return -1;
    }
    msg.body = body.c_str();
    return dispatch(mio, &msg) < 0 ? -1 : 0;
}

void acl_msgio_close(ACL_MSGIO* mio) {
    if (mio == nullptr) return;
    if (mio->astream == nullptr) {
        if (mio->stream != nullptr) acl_vstream_close(mio->stream);
        delete mio;
        return;
    }
    mio->closing = true;
    acl_aio_iocp_close(mio->astream);  // on_close frees the record
}
