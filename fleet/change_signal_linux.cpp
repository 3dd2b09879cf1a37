// Linux: the kernel's routing messages on links and IPv4 addresses wake the watcher at once; an
// eventfd wakes it to stop.
#include "fleet/change_signal.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orv::fleet {

struct ChangeSignal::Impl
{
    int netlink = -1; // -1 when the kernel would not give one: the timer alone then
    int stop = -1;
};

ChangeSignal::ChangeSignal()
    : impl_(std::make_unique<Impl>())
{
    impl_->stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int s = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (s >= 0) {
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
        if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            impl_->netlink = s;
        } else {
            ::close(s);
        }
    }
}

ChangeSignal::~ChangeSignal()
{
    if (impl_->netlink >= 0) {
        ::close(impl_->netlink);
    }
    if (impl_->stop >= 0) {
        ::close(impl_->stop);
    }
}

void ChangeSignal::wait(std::chrono::milliseconds timeout)
{
    pollfd fds[2] = {{impl_->stop, POLLIN, 0}, {impl_->netlink, POLLIN, 0}};
    const int n = ::poll(fds, impl_->netlink >= 0 ? 2 : 1, static_cast<int>(timeout.count()));
    if (n <= 0) {
        return; // time is up (or a signal came): the watcher looks again either way
    }
    if (fds[0].revents != 0) {
        std::uint64_t count = 0;
        (void)::read(impl_->stop, &count, sizeof count);
    }
    if (impl_->netlink >= 0 && fds[1].revents != 0) {
        // What changed is read from the interface list itself; the messages only say when.
        char sink[8192];
        for (;;) {
            const ssize_t got = ::recv(impl_->netlink, sink, sizeof sink, MSG_DONTWAIT);
            if (got > 0 || (got < 0 && errno == EINTR)) {
                continue;
            }
            break; // drained, or overrun (ENOBUFS): the list is read afresh either way
        }
    }
}

void ChangeSignal::wake()
{
    const std::uint64_t one = 1;
    if (impl_->stop >= 0) {
        (void)::write(impl_->stop, &one, sizeof one);
    }
}

} // namespace orv::fleet
