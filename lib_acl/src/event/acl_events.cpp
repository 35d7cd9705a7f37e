// The event engine: a descriptor table, a timer list and one loop pass.
#include "acl_events.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "../timer/timer_index.h"
#include "platform/poller.h"

namespace {

// Internal marks of a pending time-out: which side's deadline passed.
constexpr int kTimeoutRead = 0x100;
constexpr int kTimeoutWrite = 0x200;

// One side's registration: the read side and the write side are alike.
struct Waiter {
    ACL_EVENT_NOTIFY_RDWR fn = nullptr;
    void* ctx = nullptr;
    std::int64_t deadline = 0;  // absolute seconds, 0 = none
};

struct FdEntry {
    ACL_VSTREAM* stream = nullptr;  // null: the descriptor is not registered
    Waiter r;
    Waiter w;
    int polled = 0;        // interest the poller holds (POLLER_*)
    int pending = 0;       // event collected in this pass, not yet dispatched
    unsigned serial = 0;   // changes every time the descriptor is registered anew
    int slot = -1;         // index in ACL_EVENT::active
    bool touched = false;  // listed in ACL_EVENT::touched
};

struct Pending {
    int fd;
    unsigned serial;
};

// A loop timer is named by its callback and context.
struct TimerKey {
    ACL_EVENT_NOTIFY_TIME fn;
    void* ctx;
    bool operator==(const TimerKey& o) const { return fn == o.fn && ctx == o.ctx; }
};

struct TimerKeyHash {
    std::size_t operator()(const TimerKey& k) const {
        std::size_t h = std::hash<void*>()(k.ctx);
        return h ^ (std::hash<void*>()(reinterpret_cast<void*>(k.fn)) + 0x9e3779b97f4a7c15ULL +
                    (h << 6) + (h >> 2));
    }
};

}  // namespace

struct ACL_EVENT {
    std::vector<FdEntry> table;  // by descriptor; grows with the descriptors in use
    std::vector<int> active;     // registered descriptors
    std::vector<int> touched;    // descriptors whose registration changed since the last pass
    std::int64_t scanned = 0;    // second of the last look at every descriptor
    acl_timer_internal::TimerIndex<TimerKey, TimerKeyHash> timers;
    ACL_TIMER_CLOCK_FN clock = acl_timer_now;  // steady seconds; tests set their own
    std::vector<Pending> pending;
    std::vector<platform::PollerReady> ready;
    platform::Poller poller;
    int delay_sec = ACL_EVENT_DELAY_SEC;
    int delay_usec = 0;
    std::int64_t now = 0;
    unsigned serial = 0;
};

namespace {

std::int64_t now_seconds(const ACL_EVENT* ev) { return static_cast<std::int64_t>(ev->clock()); }

FdEntry* entry_of(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    int fd = stream->fd;
    if (fd < 0 || static_cast<size_t>(fd) >= ev->table.size()) return nullptr;
    FdEntry* e = &ev->table[static_cast<size_t>(fd)];
    return e->stream == stream ? e : nullptr;
}

// A registration changed: the next pass looks at this descriptor again.
void touch(ACL_EVENT* ev, int fd, FdEntry& e) {
    if (!e.touched) {
        e.touched = true;
        ev->touched.push_back(fd);
    }
}

void unlist(ACL_EVENT* ev, FdEntry& e) {
    int last = ev->active.back();
    ev->active[static_cast<size_t>(e.slot)] = last;
    ev->table[static_cast<size_t>(last)].slot = e.slot;
    ev->active.pop_back();
    e.slot = -1;
}

// Drops the descriptor from the poller and the table.
void detach(ACL_EVENT* ev, int fd) {
    FdEntry& e = ev->table[static_cast<size_t>(fd)];
    ev->poller.change(fd, e.polled, 0);
    unlist(ev, e);
    e = FdEntry{};
}

FdEntry& attach(ACL_EVENT* ev, ACL_VSTREAM* stream, const char* caller) {
    if (stream == nullptr) acl_msg_fatal("%s: stream null", caller);
    int fd = stream->fd;
    if (fd < 0) acl_msg_fatal("%s: fd(%d) invalid", caller, fd);
    if (static_cast<size_t>(fd) >= ev->table.size())
        ev->table.resize(static_cast<size_t>(fd) + 1 + ev->table.size() / 2);
    FdEntry& e = ev->table[static_cast<size_t>(fd)];
    if (e.stream == stream) return e;
    if (e.stream != nullptr) {
        if (e.r.fn != nullptr || e.w.fn != nullptr)
            acl_msg_fatal("%s: fd(%d) registered by another stream", caller, fd);
        // A stream that had no handler left was closed without leaving the
        // engine; its descriptor number came back for this one.
        detach(ev, fd);
    }
    e.stream = stream;
    e.serial = ++ev->serial;
    e.slot = static_cast<int>(ev->active.size());
    ev->active.push_back(fd);
    return e;
}

// Calls one side's handler after removing its registration (one-shot).
// Returns false when the registration it was collected for is gone.
bool fire(ACL_EVENT* ev, int fd, unsigned serial, bool read_side, int type) {
    FdEntry& e = ev->table[static_cast<size_t>(fd)];
    if (e.serial != serial || e.stream == nullptr) return false;
    Waiter& side = read_side ? e.r : e.w;
    ACL_EVENT_NOTIFY_RDWR fn = side.fn;
    if (fn == nullptr) return true;
    void* ctx = side.ctx;
    ACL_VSTREAM* stream = e.stream;
    side.fn = nullptr;
    side.deadline = 0;
    touch(ev, fd, e);
    fn(type, ev, stream, ctx);  // may grow the table: `e` is not used after this
    return true;
}

void dispatch(ACL_EVENT* ev, const Pending& p) {
    if (static_cast<size_t>(p.fd) >= ev->table.size()) return;
    FdEntry& e = ev->table[static_cast<size_t>(p.fd)];
    if (e.serial != p.serial || e.stream == nullptr) return;
    int mask = e.pending;
    e.pending = 0;
    if (mask & ACL_EVENT_XCPT) {
        if (fire(ev, p.fd, p.serial, true, ACL_EVENT_XCPT))
            fire(ev, p.fd, p.serial, false, ACL_EVENT_XCPT);
    } else if (mask & ACL_EVENT_RW_TIMEOUT) {
        bool alive = true;
        if (mask & kTimeoutRead) alive = fire(ev, p.fd, p.serial, true, ACL_EVENT_RW_TIMEOUT);
        if (alive && (mask & kTimeoutWrite)) fire(ev, p.fd, p.serial, false, ACL_EVENT_RW_TIMEOUT);
    } else {
        bool alive = true;
        if (mask & ACL_EVENT_READ) alive = fire(ev, p.fd, p.serial, true, ACL_EVENT_READ);
        if (alive && (mask & ACL_EVENT_WRITE)) fire(ev, p.fd, p.serial, false, ACL_EVENT_WRITE);
    }
}

// Looks at one registered descriptor: the poller's interest is brought in
// line with its handlers, and the events known without waiting are collected.
void examine(ACL_EVENT* ev, int fd) {
    FdEntry& e = ev->table[static_cast<size_t>(fd)];
    if (e.stream == nullptr) return;
    if (e.r.fn == nullptr && e.w.fn == nullptr) {
        detach(ev, fd);
        return;
    }
    int want = (e.r.fn ? platform::POLLER_READ : 0) | (e.w.fn ? platform::POLLER_WRITE : 0);
    if (want != e.polled) {
        if (ev->poller.change(fd, e.polled, want) < 0)
            acl_msg_fatal("%s(%d): poller change fd(%d) error(%s)", __func__, __LINE__, fd,
                          std::strerror(errno));
        e.polled = want;
    }
    if (e.pending != 0) return;
    const ACL_VSTREAM* s = e.stream;
    int mask = 0;
    if (s->flag & ACL_VSTREAM_FLAG_BAD) {
        mask = ACL_EVENT_XCPT;
    } else if (e.r.fn != nullptr && acl_vstream_bfrd_cnt(s) > 0) {
        mask = ACL_EVENT_READ;
    } else {
        if (e.r.deadline > 0 && ev->now > e.r.deadline) {
            mask |= ACL_EVENT_RW_TIMEOUT | kTimeoutRead;
            e.r.deadline = 0;
        }
        if (e.w.deadline > 0 && ev->now > e.w.deadline) {
            mask |= ACL_EVENT_RW_TIMEOUT | kTimeoutWrite;
            e.w.deadline = 0;
        }
    }
    if (mask != 0) {
        e.pending = mask;
        ev->pending.push_back({fd, e.serial});
    }
}

// Step 1 of a pass. Deadlines are whole seconds, so every descriptor needs a
// look only when the second changes; within a second only the descriptors
// whose registration changed can hold news (a handler that re-registers a
// stream with buffered data, a close that flagged a stream). This keeps a
// pass proportional to the activity, not to the number of connections.
void collect_immediate(ACL_EVENT* ev) {
    if (ev->now != ev->scanned) {
        ev->scanned = ev->now;
        for (int fd : ev->touched) ev->table[static_cast<size_t>(fd)].touched = false;
        ev->touched.clear();
        for (size_t i = ev->active.size(); i-- > 0;)
            examine(ev, ev->active[i]);  // a detach swaps the last slot into i: already seen
        return;
    }
    std::vector<int> todo;
    todo.swap(ev->touched);
    for (int fd : todo) {
        ev->table[static_cast<size_t>(fd)].touched = false;
        examine(ev, fd);
    }
    if (ev->touched.empty()) {
        todo.clear();
        ev->touched.swap(todo);  // keep the capacity
    }
}

int wait_ms(ACL_EVENT* ev) {
    std::int64_t ms = static_cast<std::int64_t>(ev->delay_sec) * 1000 + ev->delay_usec / 1000;
    if (!ev->timers.empty()) {
        std::int64_t left = (ev->timers.first_deadline() - ev->now) * 1000;
        if (left < 0) left = 0;
        if (left < ms) ms = left;
    }
    return static_cast<int>(ms);
}

// Timers requested while timers run (a timer that re-arms itself with no
// delay) wait for the next pass.
void run_timers(ACL_EVENT* ev) {
    std::uint64_t limit = ev->timers.last_seq();
    TimerKey t{};
    while (ev->timers.pop_due(ev->now, limit, &t)) t.fn(ACL_EVENT_TIME, ev, t.ctx);
}

}  // namespace

ACL_EVENT* acl_event_new(int delay_sec, int delay_usec) {
    auto* ev = new ACL_EVENT;
    if (!ev->poller.valid())
        acl_msg_fatal("%s: poller create error(%s)", __func__, std::strerror(errno));
    if (delay_sec <= 0 && delay_usec <= 0) {
        delay_sec = ACL_EVENT_DELAY_SEC;
        delay_usec = 0;
    }
    ev->delay_sec = delay_sec < 0 ? 0 : delay_sec;
    ev->delay_usec = delay_usec < 0 ? 0 : delay_usec;
    ev->now = now_seconds(ev);
    ev->table.resize(1024);
    return ev;
}

void acl_event_free(ACL_EVENT* event) { delete event; }

void acl_event_loop(ACL_EVENT* ev) {
    if (ev == nullptr) return;
    ev->now = now_seconds(ev);
    ev->pending.clear();
    collect_immediate(ev);

    int timeout = ev->pending.empty() ? wait_ms(ev) : 0;
    if (ev->poller.wait(ev->ready, timeout) < 0) {
        if (errno != EINTR)
            acl_msg_fatal("%s(%d)->%s: event_loop: select: %s", __FILE__, __LINE__, __func__,
                          std::strerror(errno));
        // A signal ends the pass, but events already collected (a cleared
        // deadline, a flagged stream) would be lost: those still go out.
        if (ev->pending.empty()) return;
        ev->ready.clear();
    }

    ev->now = now_seconds(ev);
    run_timers(ev);

    for (const auto& r : ev->ready) {
        if (r.fd < 0 || static_cast<size_t>(r.fd) >= ev->table.size()) continue;
        FdEntry& e = ev->table[static_cast<size_t>(r.fd)];
        if (e.stream == nullptr || e.pending != 0)
            continue;  // gone, or already has an exception or time-out
        int mask = 0;
        if ((r.what & platform::POLLER_READ) && e.r.fn != nullptr) mask |= ACL_EVENT_READ;
        if ((r.what & platform::POLLER_WRITE) && e.w.fn != nullptr) mask |= ACL_EVENT_WRITE;
        if (mask != 0) {
            e.pending = mask;
            ev->pending.push_back({r.fd, e.serial});
        }
    }

    for (size_t i = 0; i < ev->pending.size(); i++) dispatch(ev, ev->pending[i]);
}

namespace {

// Registers one side; `myname`, the public caller, is named in a fatal line.
void enable_side(ACL_EVENT* ev, ACL_VSTREAM* stream, Waiter FdEntry::*side, int timeout,
                 ACL_EVENT_NOTIFY_RDWR callback, void* context, const char* myname) {
    if (callback == nullptr) acl_msg_fatal("%s: callback null", myname);
    FdEntry& e = attach(ev, stream, myname);
    e.*side = Waiter{callback, context, timeout > 0 ? now_seconds(ev) + timeout : 0};
    touch(ev, stream->fd, e);
}

void disable_side(ACL_EVENT* ev, ACL_VSTREAM* stream, Waiter FdEntry::*side) {
    if (FdEntry* e = entry_of(ev, stream)) {
        e->*side = Waiter{};
        touch(ev, stream->fd, *e);
    }
}

}  // namespace

void acl_event_enable_read(ACL_EVENT* ev, ACL_VSTREAM* stream, int timeout,
                           ACL_EVENT_NOTIFY_RDWR callback, void* context) {
    enable_side(ev, stream, &FdEntry::r, timeout, callback, context, __func__);
}

void acl_event_enable_write(ACL_EVENT* ev, ACL_VSTREAM* stream, int timeout,
                            ACL_EVENT_NOTIFY_RDWR callback, void* context) {
    enable_side(ev, stream, &FdEntry::w, timeout, callback, context, __func__);
}

void acl_event_disable_read(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    disable_side(ev, stream, &FdEntry::r);
}

void acl_event_disable_write(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    disable_side(ev, stream, &FdEntry::w);
}

void acl_event_disable_readwrite(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    if (stream == nullptr) acl_msg_fatal("%s: stream null", __func__);
    if (entry_of(ev, stream) != nullptr) detach(ev, stream->fd);
}

void acl_event_recheck(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    if (FdEntry* e = entry_of(ev, stream)) touch(ev, stream->fd, *e);
}

int acl_event_isrset(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    FdEntry* e = entry_of(ev, stream);
    return e != nullptr && e->r.fn != nullptr;
}

int acl_event_iswset(ACL_EVENT* ev, ACL_VSTREAM* stream) {
    FdEntry* e = entry_of(ev, stream);
    return e != nullptr && e->w.fn != nullptr;
}

std::int64_t acl_event_request_timer(ACL_EVENT* ev, ACL_EVENT_NOTIFY_TIME callback, void* context,
                                     int delay) {
    if (callback == nullptr) acl_msg_fatal("%s: callback null", __func__);
    std::int64_t deadline = now_seconds(ev) + (delay > 0 ? delay : 0);
    ev->timers.set(TimerKey{callback, context}, deadline);
    return deadline;
}

std::int64_t acl_event_cancel_timer(ACL_EVENT* ev, ACL_EVENT_NOTIFY_TIME callback, void* context) {
    std::int64_t when = 0;
    if (!ev->timers.cancel(TimerKey{callback, context}, &when)) return -1;
    std::int64_t left = when - now_seconds(ev);
    return left < 0 ? 0 : left;
}

void acl_event_set_clock_seam(ACL_EVENT* ev, ACL_TIMER_CLOCK_FN clock_fn) {
    ev->clock = clock_fn != nullptr ? clock_fn : acl_timer_now;
    ev->now = now_seconds(ev);
}

std::int64_t acl_event_time(const ACL_EVENT* ev) { return ev->now; }

int acl_event_nstreams(const ACL_EVENT* ev) { return static_cast<int>(ev->active.size()); }
