// A browser served from the cache file: the client's whole conversation.
#include "store_http/http_client.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "acl_msg.h"
#include "acl_timer.h"
#include "acl_vstream.h"
#include "store/store_ctrl.h"
#include "store/store_msg.h"
#include "store/store_msg_queue.h"
#include "store/store_time.h"

namespace {

struct CHECK_ITEM {
    STORE_CTRL* ctrl;
    HTTP_CLIENT* client;
    void (*fn)(CHECK_ITEM*);
};

void send(STORE_CTRL* ctrl, int type, HTTP_CLIENT* c) {
    store_msg_queue_push(ctrl->queue, store_msg_client(type, &c->client));
}

void quit(STORE_CTRL* ctrl, HTTP_CLIENT* c) {
    if (c->quitting) return;
    c->quitting = 1;
    send(ctrl, MSG_CLIENT_QUIT, c);
}

// Reads what the browser sent, without waiting, and drops it: only a closed
// connection matters.
void check_client_fn(CHECK_ITEM* item) {
    HTTP_CLIENT* c = item->client;
    if (c->browser == nullptr) return;
    bool closed = false;
    if (acl_read_wait(ACL_VSTREAM_SOCK(c->browser), 0) == 0) {
        char buf[1024];
        closed = acl_vstream_read(c->browser, buf, sizeof(buf)) == ACL_VSTREAM_EOF;
    }
    if (closed) {
        acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: client closed socket, quit now", __func__);
        quit(item->ctrl, c);
    } else {
        acl_debug(STORE_HTTP_DEBUG_SECTION, 3)("%s(%d); time out now", __func__, __LINE__);
    }
}

void schedule_check(ACL_TIMER* timer, STORE_CTRL* ctrl, HTTP_CLIENT* c) {
    auto* item = static_cast<CHECK_ITEM*>(std::calloc(1, sizeof(CHECK_ITEM)));
    if (item == nullptr) acl_msg_fatal("%s(%d): calloc error", __func__, __LINE__);
    *item = CHECK_ITEM{ctrl, c, check_client_fn};
    acl_timer_request(timer, item, HTTP_CLIENT_CHECK);
}

void msg_data_ready(STORE_CTRL* ctrl, HTTP_CLIENT* c) {
    if (http_invoke_reply(ctrl, c) >= 0) {
        send(ctrl, MSG_CLIENT_READY, c);
        return;
    }
    acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: client quit now", __func__);
    quit(ctrl, c);
}

void msg_stop(STORE_CTRL* ctrl, HTTP_CLIENT* c) {
    acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: get msg stop", __func__);
    quit(ctrl, c);
}

}  // namespace

HTTP_CLIENT* http_client_alloc(STORE_CTRL* ctrl, const char* id, const char* path, int max_thread,
                               int64_t content_length, const char* data, int64_t dlen,
                               ACL_VSTREAM* server, ACL_VSTREAM* browser, HTTP_HDR_REQ* hdr_req,
                               HTTP_HDR_RES* hdr_res) {
    auto* c = reinterpret_cast<HTTP_CLIENT*>(store_client_alloc(&ctrl->pool, id, path, max_thread,
                                                                content_length, data, dlen, server,
                                                                sizeof(HTTP_CLIENT)));
    c->browser = browser;
    c->hdr_req = hdr_req;
    c->hdr_res = hdr_res;
    c->rest_dlen = content_length < 0 ? -1 : content_length - c->client.dlen;
    c->client.sync_stop = 1;
    return c;
}

void http_client_free(HTTP_CLIENT* client) { store_client_free(&client->client); }

int http_client_open(HTTP_CLIENT* client, STORE_CTRL* ctrl) {
    send(ctrl, MSG_CLIENT_REQUEST, client);
    STORE_MSG* msg = store_msg_queue_pop(client->client.queue);
    if (msg == nullptr) acl_msg_fatal("%s(%d): msg pop null", __func__, __LINE__);
    store_msg_check_ctx(msg, &client->client, __func__, __LINE__);
    int type = msg->type;
    store_msg_free(msg);
    if (type == MSG_CTRL_OPEN_OK) return 0;
    acl_msg_error("%s(%d): open request error, msg(%d)", __func__, __LINE__, type);
    return -1;
}

int http_invoke_reply(STORE_CTRL* ctrl, HTTP_CLIENT* c) {
    (void)ctrl;
    STORE_CLIENT* sc = &c->client;
    if (acl_vstream_fseek(sc->fp, sc->position) < 0) {
        acl_msg_error("%s(%d): fseek error(%s)", __func__, __LINE__, acl_vstream_strerror(sc->fp));
        return -1;
    }
    int64_t n = sc->avail;
    if (c->rest_dlen != -1 && c->rest_dlen != 0) {
        n = std::min(n, c->rest_dlen);
        c->rest_dlen -= n;
    }
    char buf[HTTP_CLIENT_PIECE];
    while (n > 0) {
        std::size_t k = static_cast<std::size_t>(std::min<int64_t>(n, sizeof(buf)));
        if (acl_vstream_readn(sc->fp, buf, k) == ACL_VSTREAM_EOF) {
            acl_msg_error("%s(%d): read from file error(%s)", __func__, __LINE__,
                          acl_vstream_strerror(sc->fp));
            return -1;
        }
        if (c->browser == nullptr || acl_vstream_writen(c->browser, buf, k) == ACL_VSTREAM_EOF) {
            acl_msg_error("%s(%d): write to client error, rest_dlen=%d", __func__, __LINE__,
                          static_cast<int>(c->rest_dlen));
            return -1;
        }
        n -= static_cast<int64_t>(k);
    }
    if (c->rest_dlen == -1 || c->rest_dlen > 0) {
        sc->position += sc->avail;
        return 0;
    }
    return -1;  // the browser has the whole body
}

int http_client_request(STORE_CTRL* ctrl, HTTP_CLIENT* client) {
    if (http_client_open(client, ctrl) != 0) return -1;
    send(ctrl, MSG_CLIENT_READY, client);
    ACL_TIMER* timer = acl_timer_new();
    schedule_check(timer, ctrl, client);
    time_t last_check = acl_timer_now();
    for (;;) {
        while (auto* item = static_cast<CHECK_ITEM*>(acl_timer_popup(timer))) {
            time_t now = acl_timer_now();
            acl_debug(STORE_HTTP_DEBUG_SECTION, 3)("%s(%d): trigger one to check client, inter=%ld",
                                                   __func__, __LINE__,
                                                   static_cast<long>(now - last_check));
            last_check = now;
            item->fn(item);
            std::free(item);
        }
        time_t wait = acl_timer_left(timer);
        if (wait < 0) {
            if (!client->quitting) schedule_check(timer, ctrl, client);
            wait = HTTP_CLIENT_CHECK;
        } else if (wait == 0) {
            wait = HTTP_CLIENT_CHECK;
        }
        STORE_MSG* msg = store_msg_queue_pop_timed(client->client.queue, static_cast<int>(wait));
        if (msg == nullptr) {
            acl_debug(STORE_HTTP_DEBUG_SECTION, 3)("%s: queue msg time out", __func__);
            continue;
        }
        store_msg_check_ctx(msg, &client->client, __func__, __LINE__);
        int type = msg->type;
        store_msg_free(msg);
        if (client->quitting && type != MSG_CTRL_BYE) {
            acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: client is quiting, ignore msg(%d)",
                                                   __func__, type);
            continue;
        }
        if (type == MSG_CTRL_BYE) {
            acl_debug(STORE_HTTP_DEBUG_SECTION, 2)("%s: client exit", __func__);
            break;
        }
        if (type == MSG_CTRL_DATA_READY)
            msg_data_ready(ctrl, client);
        else if (type == MSG_CTRL_STOP)
            msg_stop(ctrl, client);
        else
            acl_msg_error("%s(%d): msg_type(%d) invalid", __func__, __LINE__, type);
    }
    acl_timer_free(timer, std::free);
    return 0;
}
