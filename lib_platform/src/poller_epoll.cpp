// The poller on epoll: no limit on descriptor numbers, cost per ready
// descriptor rather than per watched one.
#include "platform/poller.h"

#include <sys/epoll.h>

#include <cerrno>

#include "platform/socket.h"

namespace platform {

struct Poller::Impl {
    FdHandle epfd{::epoll_create1(EPOLL_CLOEXEC)};
    std::vector<epoll_event> events = std::vector<epoll_event>(256);
};

Poller::Poller() : impl_(std::make_unique<Impl>()) {}
Poller::~Poller() = default;

bool Poller::valid() const { return impl_->epfd.valid(); }

int Poller::change(int fd, int old_what, int new_what) {
    if (old_what == new_what) return 0;
    epoll_event ev{};
    ev.data.fd = fd;
    ev.events =
        ((new_what & POLLER_READ) ? EPOLLIN : 0u) | ((new_what & POLLER_WRITE) ? EPOLLOUT : 0u);
    int op = old_what == 0 ? EPOLL_CTL_ADD : new_what == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
    int rc = ::epoll_ctl(impl_->epfd.get(), op, fd, &ev);
    // The caller's view and the kernel's can differ when a descriptor was
    // closed and its number reused behind our back: fall back to the other op.
    if (rc < 0 && op == EPOLL_CTL_ADD && errno == EEXIST)
        rc = ::epoll_ctl(impl_->epfd.get(), EPOLL_CTL_MOD, fd, &ev);
    else if (rc < 0 && op == EPOLL_CTL_MOD && errno == ENOENT)
        rc = ::epoll_ctl(impl_->epfd.get(), EPOLL_CTL_ADD, fd, &ev);
    else if (rc < 0 && op == EPOLL_CTL_DEL && (errno == ENOENT || errno == EBADF))
        rc = 0;
    return rc;
}

int Poller::wait(std::vector<PollerReady>& out, int timeout_ms) {
    out.clear();
    auto& evs = impl_->events;
    int n = ::epoll_wait(impl_->epfd.get(), evs.data(), static_cast<int>(evs.size()), timeout_ms);
    if (n < 0) return -1;
    for (int i = 0; i < n; i++) {
        unsigned e = evs[static_cast<size_t>(i)].events;
        int what = 0;
        if (e & (EPOLLIN | EPOLLERR | EPOLLHUP)) what |= POLLER_READ;
        if (e & (EPOLLOUT | EPOLLERR | EPOLLHUP)) what |= POLLER_WRITE;
        out.push_back({evs[static_cast<size_t>(i)].data.fd, what});
    }
    // A full batch suggests more are ready: take more next time.
    if (static_cast<size_t>(n) == evs.size() && evs.size() < 65536) evs.resize(evs.size() * 2);
    return n;
}

}  // namespace platform
