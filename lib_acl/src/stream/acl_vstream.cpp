// Buffered streams: the read buffer, blocking and non-blocking reads, writes,
// close handles.
#include "acl_vstream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/fd_file.h"
#include "platform/socket.h"

namespace {

bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

int wait_ms(const ACL_VSTREAM* s) { return s->rw_timeout > 0 ? s->rw_timeout * 1000 : -1; }

void set_timeout(ACL_VSTREAM* s, const char* text) {
    s->flag |= ACL_VSTREAM_FLAG_TIMEOUT;
    s->errnum = ETIMEDOUT;
    s->priv.errbuf = text;
}

void set_error(ACL_VSTREAM* s, int err) {
    s->flag |= ACL_VSTREAM_FLAG_ERR;
    s->errnum = err;
    s->priv.errbuf = std::strerror(err);
}

// Waits, within the stream's time limit, until it can be read or written
// (`what`: platform::WAIT_READ / WAIT_WRITE). 1 when ready, 0 when a signal
// cut the wait short, -1 with the stream flagged: `timeout_text` on a time out.
int wait_stream(ACL_VSTREAM* s, int what, const char* timeout_text) {
    int w = platform::fd_wait(s->fd, what, wait_ms(s));
    if (w == 0) {
        set_timeout(s, timeout_text);
        return -1;
    }
    if (w < 0) {
        if (errno == EINTR) return 0;
        set_error(s, errno);
        return -1;
    }
    return 1;
}

long sys_read(ACL_VSTREAM* s, void* buf, std::size_t len) {
    if (s->type == ACL_VSTREAM_TYPE_FILE) return platform::fd_read(s->fd, buf, len);
    return platform::sock_recv(s->fd, buf, len);
}

long sys_write(ACL_VSTREAM* s, const void* buf, std::size_t len) {
    if (s->type == ACL_VSTREAM_TYPE_FILE) return platform::fd_write(s->fd, buf, len);
    return platform::sock_send(s->fd, buf, len);
}

// Refills the empty read buffer with one read call. `wait`: block until data
// (limited by rw_timeout); otherwise "would block" gives 0. Returns the bytes
// now held, 0, or -1 (end of file, error, time-out: the stream is flagged).
long fill(ACL_VSTREAM* s, bool wait) {
    if (s->flag & (ACL_VSTREAM_FLAG_EOF | ACL_VSTREAM_FLAG_ERR)) return -1;
    s->priv.read_pos = 0;
    s->priv.read_cnt = 0;
    bool waited = false;
    for (;;) {
        // Files never block; a socket with a read limit waits for data first so
        // that a silent peer cannot hold a worker thread for ever.
        if (wait && !waited && s->rw_timeout > 0 && s->type == ACL_VSTREAM_TYPE_SOCK) {
            int w = wait_stream(s, platform::WAIT_READ, "read timeout");
            if (w < 0) return -1;
            if (w == 0) continue;
            waited = true;
        }
        long n = sys_read(s, s->priv.read_buf.data(), s->priv.read_buf.size());
        if (n > 0) {
            s->priv.read_cnt = static_cast<std::size_t>(n);
            return n;
        }
        if (n == 0) {
            s->flag |= ACL_VSTREAM_FLAG_EOF;
            s->errnum = 0;
            s->priv.errbuf = "closed by peer(" + s->addr_peer + ")";
            return -1;
        }
        int err = errno;
        if (err == EINTR) {
            waited = false;
            continue;
        }
        if (would_block(err)) {
            s->errnum = err;
            if (!wait) return 0;
            // A non-blocking socket read by a blocking caller: wait for data.
            if (wait_stream(s, platform::WAIT_READ, "read timeout") < 0) return -1;
            waited = true;
            continue;
        }
        if (err == ETIMEDOUT) {
            set_timeout(s, "read timeout");
            return -1;
        }
        set_error(s, err);
        return -1;
    }
}

// Sends all of [data, data + len), waiting while the descriptor would block.
// With a time limit every send is non-blocking and each wait for room is
// limited: a blocking send of a large buffer would otherwise wait for ever on
// a peer that stopped reading.
int write_all(ACL_VSTREAM* s, const char* data, std::size_t len) {
    if (s->flag & ACL_VSTREAM_FLAG_ERR) return -1;
    bool limited = s->rw_timeout > 0 && s->type == ACL_VSTREAM_TYPE_SOCK;
    while (len > 0) {
        long n = limited ? platform::sock_send_nowait(s->fd, data, len) : sys_write(s, data, len);
        if (n > 0) {
            data += n;
            len -= static_cast<std::size_t>(n);
            continue;
        }
        int err = n < 0 ? errno : EIO;
        if (err == EINTR) continue;
        if (would_block(err)) {
            if (wait_stream(s, platform::WAIT_WRITE, "write timeout") < 0) return -1;
            continue;
        }
        set_error(s, err);
        return -1;
    }
    return 0;
}

// Copies up to `size` unread bytes out of the buffer.
std::size_t take(ACL_VSTREAM* s, void* buf, std::size_t size) {
    std::size_t n = std::min(size, s->priv.read_cnt);
    std::memcpy(buf, s->priv.read_buf.data() + s->priv.read_pos, n);
    s->priv.read_pos += n;
    s->priv.read_cnt -= n;
    return n;
}

void begin_blocking(ACL_VSTREAM* s) { s->flag &= ~static_cast<unsigned>(ACL_VSTREAM_FLAG_TIMEOUT); }

std::size_t strip_line_end(char* buf, std::size_t n) {
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) n--;
    return n;
}

int vformat(std::string& out, const char* fmt, va_list ap) {
    va_list ap2;
    va_copy(ap2, ap);
    char small[1024];
    int n = std::vsnprintf(small, sizeof(small), fmt, ap);
    if (n < 0) {
        va_end(ap2);
        return -1;
    }
    if (static_cast<std::size_t>(n) < sizeof(small)) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return n;
}

// The printf writers: the text formatted, then handed to `write`.
int write_formatted(ACL_VSTREAM* stream, int (*write)(ACL_VSTREAM*, const void*, std::size_t),
                    const char* fmt, va_list ap) {
    std::string text;
    if (vformat(text, fmt, ap) < 0) return ACL_VSTREAM_EOF;
    return write(stream, text.data(), text.size());
}

}  // namespace

ACL_VSTREAM* acl_vstream_fdopen(int fd, unsigned oflags, std::size_t buflen, int rw_timeout,
                                int type) {
    if (fd < 0) acl_msg_fatal("%s(%d): fd(%d) invalid", __func__, __LINE__, fd);
    auto* s = new ACL_VSTREAM;
    s->fd = fd;
    s->type = type == ACL_VSTREAM_TYPE_FILE ? ACL_VSTREAM_TYPE_FILE : ACL_VSTREAM_TYPE_SOCK;
    s->priv.oflags = oflags;
    s->priv.read_buf.resize(std::max<std::size_t>(buflen, ACL_VSTREAM_BUFSIZE));
    s->rw_timeout = rw_timeout < 1 ? 0 : rw_timeout;
    s->priv.close_handles.reserve(5);
    return s;
}

ACL_VSTREAM* acl_vstream_fopen(const char* path, int how, int mode, std::size_t buflen) {
    int fd = platform::fd_open(path, how, mode);
    if (fd < 0) return nullptr;
    return acl_vstream_fdopen(fd, static_cast<unsigned>(how), buflen, 0, ACL_VSTREAM_TYPE_FILE);
}

int acl_vstream_close(ACL_VSTREAM* stream) {
    if (stream == nullptr) acl_msg_fatal("%s(%d): stream null", __func__, __LINE__);
    // A handle may remove itself or others while running: walk a copy.
    std::vector<ACL_VSTREAM_CLOSE_HANDLE> handles;
    handles.swap(stream->priv.close_handles);
    for (const auto& h : handles) h.fn(stream, h.context);

    int rc = 0;
    if (!stream->priv.write_buf.empty() && acl_vstream_fflush(stream) < 0) rc = -1;
    if (stream->fd >= 0 && platform::sock_close(stream->fd) < 0) rc = -1;
    delete stream;
    return rc;
}

void acl_vstream_add_close_handle(ACL_VSTREAM* stream, ACL_VSTREAM_CLOSE_FN fn, void* context) {
    if (stream == nullptr || fn == nullptr)
        acl_msg_fatal("%s(%d): input invalid", __func__, __LINE__);
    stream->priv.close_handles.push_back({fn, context});
}

void acl_vstream_delete_close_handle(ACL_VSTREAM* stream, ACL_VSTREAM_CLOSE_FN fn, void* context) {
    if (stream == nullptr) acl_msg_fatal("%s(%d): stream null", __func__, __LINE__);
    auto& v = stream->priv.close_handles;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it->fn == fn && it->context == context) {
            v.erase(it);
            return;
        }
    }
}

void acl_vstream_set_bufsize(ACL_VSTREAM* stream, std::size_t size) {
    if (stream == nullptr) acl_msg_fatal("%s(%d): stream null", __func__, __LINE__);
    size = std::max({size, static_cast<std::size_t>(ACL_VSTREAM_BUFSIZE), stream->priv.read_cnt});
    if (size == stream->priv.read_buf.size()) return;
    if (stream->priv.read_pos > 0) {
        std::memmove(stream->priv.read_buf.data(),
                     stream->priv.read_buf.data() + stream->priv.read_pos, stream->priv.read_cnt);
        stream->priv.read_pos = 0;
    }
    stream->priv.read_buf.resize(size);
    stream->priv.read_buf.shrink_to_fit();
}

const char* acl_vstream_strerror(const ACL_VSTREAM* stream) {
    return stream == nullptr ? "" : stream->priv.errbuf.c_str();
}

void acl_vstream_set_error(ACL_VSTREAM* stream, int err) {
    if (stream == nullptr) acl_msg_fatal("%s: stream null", __func__);
    set_error(stream, err);
}

std::size_t acl_vstream_bfrd_cnt(const ACL_VSTREAM* stream) { return stream->priv.read_cnt; }

std::size_t acl_vstream_bufsize(const ACL_VSTREAM* stream) { return stream->priv.read_buf.size(); }

int acl_vstream_read(ACL_VSTREAM* stream, void* buf, std::size_t size) {
    if (size == 0) return 0;
    begin_blocking(stream);
    if (stream->priv.read_cnt == 0 && fill(stream, true) < 0) return ACL_VSTREAM_EOF;
    return static_cast<int>(take(stream, buf, size));
}

int acl_vstream_gets(ACL_VSTREAM* stream, void* buf, std::size_t size) {
    if (size < 2) acl_msg_fatal("%s(%d): size(%zu) too small", __func__, __LINE__, size);
    begin_blocking(stream);
    char* out = static_cast<char*>(buf);
    std::size_t n = 0;
    while (n < size - 1) {
        if (stream->priv.read_cnt == 0 && fill(stream, true) < 0) break;
        const char* p = stream->priv.read_buf.data() + stream->priv.read_pos;
        std::size_t avail = std::min(stream->priv.read_cnt, size - 1 - n);
        const void* lf = std::memchr(p, '\n', avail);
        std::size_t chunk =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1 : avail;
        n += take(stream, out + n, chunk);
        if (lf) break;
    }
    out[n] = '\0';
    return n == 0 ? ACL_VSTREAM_EOF : static_cast<int>(n);
}

int acl_vstream_gets_nonl(ACL_VSTREAM* stream, void* buf, std::size_t size) {
    int n = acl_vstream_gets(stream, buf, size);
    if (n == ACL_VSTREAM_EOF) return n;
    char* out = static_cast<char*>(buf);
    std::size_t m = strip_line_end(out, static_cast<std::size_t>(n));
    out[m] = '\0';
    return static_cast<int>(m);
}

int acl_vstream_readn(ACL_VSTREAM* stream, void* buf, std::size_t size) {
    begin_blocking(stream);
    char* out = static_cast<char*>(buf);
    std::size_t n = 0;
    while (n < size) {
        if (stream->priv.read_cnt == 0 && fill(stream, true) < 0) return ACL_VSTREAM_EOF;
        n += take(stream, out + n, size - n);
    }
    return static_cast<int>(size);
}

int acl_vstream_write(ACL_VSTREAM* stream, const void* data, std::size_t size) {
    if (stream->flag & ACL_VSTREAM_FLAG_ERR) return ACL_VSTREAM_EOF;
    for (;;) {
        long n = sys_write(stream, data, size);
        if (n >= 0) return static_cast<int>(n);
        int err = errno;
        if (err == EINTR) continue;
        if (would_block(err)) {
            stream->errnum = err;
            return 0;
        }
        set_error(stream, err);
        return ACL_VSTREAM_EOF;
    }
}

int acl_vstream_writen(ACL_VSTREAM* stream, const void* data, std::size_t size) {
    begin_blocking(stream);
    if (acl_vstream_fflush(stream) < 0) return ACL_VSTREAM_EOF;
    if (write_all(stream, static_cast<const char*>(data), size) < 0) return ACL_VSTREAM_EOF;
    return static_cast<int>(size);
}

int acl_vstream_buffed_writen(ACL_VSTREAM* stream, const void* data, std::size_t size) {
    begin_blocking(stream);
    std::size_t cap = stream->priv.read_buf.size();
    if (stream->priv.write_buf.size() + size > cap && acl_vstream_fflush(stream) < 0)
        return ACL_VSTREAM_EOF;
    if (size >= cap) {
        if (write_all(stream, static_cast<const char*>(data), size) < 0) return ACL_VSTREAM_EOF;
    } else {
        stream->priv.write_buf.append(static_cast<const char*>(data), size);
    }
    return static_cast<int>(size);
}

int acl_vstream_fflush(ACL_VSTREAM* stream) {
    if (stream->priv.write_buf.empty()) return 0;
    int rc = write_all(stream, stream->priv.write_buf.data(), stream->priv.write_buf.size());
    // Output that failed is dropped: the stream is flagged and unusable.
    stream->priv.write_buf.clear();
    return rc < 0 ? ACL_VSTREAM_EOF : 0;
}

std::int64_t acl_vstream_fseek(ACL_VSTREAM* stream, std::int64_t offset) {
    if (acl_vstream_fflush(stream) < 0) return -1;
    stream->priv.read_pos = 0;
    stream->priv.read_cnt = 0;
    std::int64_t at = platform::fd_seek(stream->fd, offset);
    if (at < 0) {
        set_error(stream, errno);
        return -1;
    }
    // A read that met the end before may find data at the new place.
    stream->flag &= ~static_cast<unsigned>(ACL_VSTREAM_FLAG_EOF);
    return at;
}

int acl_vstream_fprintf(ACL_VSTREAM* stream, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = write_formatted(stream, acl_vstream_writen, fmt, ap);
    va_end(ap);
    return n;
}

int acl_vstream_buffed_fprintf(ACL_VSTREAM* stream, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = write_formatted(stream, acl_vstream_buffed_writen, fmt, ap);
    va_end(ap);
    return n;
}

// ---- non-blocking readers ----------------------------------------------------

namespace {

// Shared shape of the *_ready readers: `want` looks at the unread bytes and
// says how many to take and whether the unit is then complete.
template <typename Want>
int ready_read(ACL_VSTREAM* s, std::string* buf, int* ready, Want want) {
    *ready = 0;
    std::size_t added = 0;
    for (;;) {
        if (s->priv.read_cnt > 0) {
            const char* p = s->priv.read_buf.data() + s->priv.read_pos;
            bool done = false;
            std::size_t n = want(p, s->priv.read_cnt, &done);
            buf->append(p, n);
            s->priv.read_pos += n;
            s->priv.read_cnt -= n;
            added += n;
            if (done) {
                *ready = 1;
                return static_cast<int>(added);
            }
        }
        long got = fill(s, false);
        if (got < 0) return ACL_VSTREAM_EOF;
        if (got == 0) return static_cast<int>(added);
    }
}

}  // namespace

int acl_vstream_gets_ready(ACL_VSTREAM* stream, std::string* buf, int* ready) {
    return ready_read(stream, buf, ready, [](const char* p, std::size_t cnt, bool* done) {
        const void* lf = std::memchr(p, '\n', cnt);
        if (lf == nullptr) return cnt;
        *done = true;
        return static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1;
    });
}

int acl_vstream_gets_nonl_ready(ACL_VSTREAM* stream, std::string* buf, int* ready) {
    int n = acl_vstream_gets_ready(stream, buf, ready);
    if (*ready) buf->resize(strip_line_end(buf->data(), buf->size()));
    return n;
}

int acl_vstream_readn_ready(ACL_VSTREAM* stream, std::string* buf, std::size_t count, int* ready) {
    if (buf->size() >= count) {
        *ready = 1;
        return 0;
    }
    return ready_read(stream, buf, ready, [buf, count](const char*, std::size_t cnt, bool* done) {
        std::size_t need = count - buf->size();
        if (cnt < need) return cnt;
        *done = true;
        return need;
    });
}

int acl_vstream_read_ready(ACL_VSTREAM* stream, std::string* buf, int* ready) {
    return ready_read(stream, buf, ready, [](const char*, std::size_t cnt, bool* done) {
        *done = true;
        return cnt;
    });
}
