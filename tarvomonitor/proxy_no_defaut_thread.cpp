#include "proxy_no_defaut_thread.h"

#include "ie_proxy.h"

#include "acl_msg.h"
#include "acl_vstream.h"
#include "platform/process.h"
#include "platform/self.h"
#include "platform/socket.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

constexpr int kReadyPollMs = 20;  // how often a watch asks whether it may start

struct PROXY_WATCH {
    MONITOR_CONF conf;
    PROXY_INFO saved;
    WATCH_TIMES times;
    PROXY_WATCH_READY_FN ready = nullptr;
    PROXY_INFO local;
    int state = WATCH_PROXY_CLOSED;

    // Connectivity timer.
    std::chrono::steady_clock::time_point last_tick;
    long long elapsed_ms = 0;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

// Pauses `ms`; false when the watch is being stopped.
static bool watch_pause(PROXY_WATCH* w, int ms) {
    std::unique_lock<std::mutex> guard(w->lock);
    w->wake.wait_for(guard, std::chrono::milliseconds(ms), [w] { return w->stopping; });
    return !w->stopping;
}

int proxy_process_find(const std::string& name, int pause_ms) {
    std::vector<platform::ProcessEntry> list;
    if (platform::process_list(list) != 0) {
        monitor_status("%s", platform::last_error_text().c_str());
        return -1;
    }
    for (auto& p : list) {
        if (pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        if (p.exe_name == name) return 1;
    }
    return 0;
}

int proxy_test_site(const std::string& site, int times) {
    int connected = 0;
    for (int i = 0; i < times; i++) {
        int fd = acl_inet_connect_ex(site.c_str(), ACL_NON_BLOCKING, WATCH_CONNECT_TIMEOUT);
        if (fd >= 0) {
            connected++;
            platform::sock_close(fd);
        }
    }
    return connected;
}

// Whether the test period has run out since the last call.
static bool watch_timer_due(PROXY_WATCH* w) {
    auto now = std::chrono::steady_clock::now();
    w->elapsed_ms +=
        std::chrono::duration_cast<std::chrono::milliseconds>(now - w->last_tick).count();
    w->last_tick = now;
    if (w->elapsed_ms < w->times.test_period_ms) return false;
    w->elapsed_ms = 0;
    return true;
}

static void watch_check_process(PROXY_WATCH* w) {
    int found = proxy_process_find(w->conf.proxy_process, w->times.process_pause_ms);
    if (found < 0) {
        monitor_status("can not find process '%s'", w->conf.proxy_process.c_str());
        return;
    }
    if (found == w->state) return;
    if (found == WATCH_PROXY_OPENED) {
        w->state = WATCH_PROXY_OPENED;
        monitor_status("proxy process opened.");
        acl_msg_info("Set Proxy Server: %s     Port: %d", w->local.host.c_str(), w->local.port);
        SetIEProxyConfig(w->local);
    } else {
        w->state = WATCH_PROXY_CLOSED;
        monitor_status("proxy process closed.");
        monitor_status("Old Proxy Server: %s     Port: %d", w->saved.host.c_str(), w->saved.port);
        SetIEProxyConfig(w->saved);
    }
}

static void watch_test(PROXY_WATCH* w) {
    if (proxy_test_site(w->conf.test_site, w->conf.test_times) > 0) return;
    monitor_status("can not connect the test website(%s), proxy will be exit.",
                   w->conf.test_site.c_str());
    SetIEProxyConfig(w->saved);
}

void thread_proc(PROXY_WATCH* w) {
    // Until the daemon holds its lock it may still be refused and end.
    while (w->ready != nullptr && !w->ready()) {
        if (!watch_pause(w, kReadyPollMs)) return;
    }

    w->local.enabled = 1;
    w->local.server = w->conf.p2p_proxy_server_port;
    w->local.host = w->conf.p2p_proxy_server;
    w->local.port = w->conf.p2p_proxy_port;

    w->last_tick = std::chrono::steady_clock::now();
    w->elapsed_ms = 0;
    acl_msg_info("start monitor thread.");

    SetIEProxyConfig(w->local);
    w->state = WATCH_PROXY_OPENED;
    monitor_status("Set Proxy Server: %s     Port: %d", w->local.host.c_str(), w->local.port);

    while (watch_pause(w, w->times.check_period_ms)) {
        watch_check_process(w);
        if (watch_timer_due(w)) watch_test(w);
    }
}

PROXY_WATCH* proxy_watch_start(const MONITOR_CONF& conf, const PROXY_INFO& saved,
                               const WATCH_TIMES& times, PROXY_WATCH_READY_FN ready) {
    auto* w = new PROXY_WATCH;
    w->ready = ready;
    w->conf = conf;
    w->saved = saved;
    w->times = times;
    try {
        w->thread = std::thread(thread_proc, w);
    } catch (const std::system_error&) {
        delete w;
        return nullptr;
    }
    return w;
}

void proxy_watch_stop(PROXY_WATCH* w) {
    if (w == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(w->lock);
        w->stopping = true;
    }
    w->wake.notify_all();
    if (w->thread.joinable()) w->thread.join();
    delete w;
}
