#pragma once
// A loopback address and port where a connect goes unanswered, as with a camera that is still
// booting or an adapter whose camera is gone: a listener that never accepts and whose accept queue
// is full, so the kernel drops every SYN and the connect neither succeeds nor is refused until the
// caller gives up. POSIX only.

#ifndef _WIN32

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orv::test {

class SilentAddress
{
public:
    // Port 0 takes any free port; port() tells which.
    SilentAddress(const std::string& address, std::uint16_t port) { open(address, port); }
    ~SilentAddress()
    {
        for (const int s : fillers_) {
            ::close(s);
        }
        if (listener_ >= 0) {
            ::close(listener_);
        }
    }
    SilentAddress(const SilentAddress&) = delete;
    SilentAddress& operator=(const SilentAddress&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::uint16_t port() const { return port_; }

private:
    // Far longer than a loopback handshake takes even on a loaded machine; a filler that is still
    // connecting after it shows that the listener drops SYNs already.
    static constexpr int kHandshakeMs = 500;
    static constexpr int kMaxFillers = 4;

    void open(const std::string& address, std::uint16_t port)
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 || (ntohl(sa.sin_addr.s_addr) >> 24) != 127) {
            error_ = "\"" + address + "\" is not a loopback address";
            return;
        }
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (listener_ < 0 || ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(listener_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listener_, 0) != 0) {
            fail("cannot listen on " + address + ":" + std::to_string(port));
            return;
        }
        socklen_t length = sizeof sa;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &length);
        port_ = ntohs(sa.sin_port);

        // Linux takes one connection more than the backlog; fill until a connect goes unanswered.
        for (int i = 0; i < kMaxFillers; ++i) {
            if (queueFull()) {
                return;
            }
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (filler < 0) {
                fail("cannot open a socket");
                return;
            }
            fillers_.push_back(filler);
            if (::connect(filler, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
                fail("cannot connect to the listener");
                return;
            }
            pollfd connecting{filler, POLLOUT, 0};
            const int n = ::poll(&connecting, 1, kHandshakeMs);
            if (n == 0) {
                return; // the SYN was dropped: silent already
            }
            int code = 0;
            socklen_t codeLength = sizeof code;
            ::getsockopt(filler, SOL_SOCKET, SO_ERROR, &code, &codeLength);
            if (n < 0 || code != 0) {
                errno = n < 0 ? errno : code;
                fail("the listener did not take a connection");
                return;
            }
            // The client side is connected before the listener has queued the connection; a
            // listener is readable once something is queued.
            pollfd queued{listener_, POLLIN, 0};
            ::poll(&queued, 1, kHandshakeMs);
        }
        if (!queueFull()) {
            error_ = "the listener still takes connections after " + std::to_string(kMaxFillers) + " of them";
        }
    }

    // Linux reports a listener's queue length and backlog in TCP_INFO; the queue is full once it
    // is longer than the backlog. Elsewhere only a connect that stays unanswered tells.
    bool queueFull() const
    {
#ifdef __linux__
        tcp_info info{};
        socklen_t length = sizeof info;
        return ::getsockopt(listener_, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
               info.tcpi_unacked > info.tcpi_sacked;
#else
        return false;
#endif
    }

    void fail(const std::string& what)
    {
        error_ = what + ": " + std::strerror(errno);
    }

    int listener_ = -1;
    std::vector<int> fillers_;
    std::uint16_t port_ = 0;
    std::string error_;
};

} // namespace orv::test

#endif // _WIN32
