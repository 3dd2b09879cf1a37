// BSD sockets for the camera link, the simulated camera and the benchmarks.
#include "link/socket_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace orv::net {

SocketHandle invalidSocket()
{
    return -1;
}

bool isValid(SocketHandle s)
{
    return s >= 0;
}

bool startLibrary(std::string*)
{
    return true; // nothing to start here
}

bool parseIpv4(const std::string& text, std::uint32_t& address)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) {
        return false;
    }
    address = ntohl(a.s_addr);
    return true;
}

SocketHandle openTcp()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s >= 0) {
        int one = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
#ifdef SO_NOSIGPIPE
    if (s >= 0) {
        int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
    }
#endif
    return s < 0 ? -1 : s;
}

void closeSocket(SocketHandle s)
{
    if (isValid(s)) {
        ::close(s);
    }
}

void resetSocket(SocketHandle s)
{
    if (isValid(s)) {
        const linger hardClose{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
        ::close(s);
    }
}

void shutdownBoth(SocketHandle s)
{
    ::shutdown(s, SHUT_RDWR);
}

namespace {

std::string errorText(int code)
{
    return std::strerror(code);
}

void setError(std::string* error, const std::string& what)
{
    if (error != nullptr) {
        *error = what + ": " + lastErrorText();
    }
}

} // namespace

SocketHandle listenOn(std::uint32_t address, std::uint16_t port, std::string* error)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        setError(error, "cannot create a socket");
        return invalidSocket();
    }
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        setError(error, "cannot bind");
        ::close(s);
        return invalidSocket();
    }
    if (::listen(s, SOMAXCONN) != 0) {
        setError(error, "cannot listen");
        ::close(s);
        return invalidSocket();
    }
    return s;
}

std::uint16_t boundPort(SocketHandle listener)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

SocketHandle acceptConnection(SocketHandle listener, int sendTimeoutMs)
{
    int s = -1;
    do {
        s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) {
        return invalidSocket();
    }
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (sendTimeoutMs > 0) {
        timeval tv{};
        tv.tv_sec = sendTimeoutMs / 1000;
        tv.tv_usec = (sendTimeoutMs % 1000) * 1000;
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    return s;
}

bool bindToInterface(SocketHandle s, const InterfaceBinding& binding, std::string& error)
{
    std::string name = binding.name;
    if (name.empty() && binding.index != 0) {
        char buffer[IF_NAMESIZE] = {};
        if (::if_indextoname(binding.index, buffer) == nullptr) {
            error = "no network interface has index " + std::to_string(binding.index);
            return false;
        }
        name = buffer;
    }
    if (name.empty()) {
        error = "no network interface named";
        return false;
    }
    if (name.size() >= IF_NAMESIZE) {
        error = "\"" + name + "\" is too long for a network interface name";
        return false;
    }
#ifdef SO_BINDTODEVICE
    // The kernel takes the name with its terminating zero; an empty name would unbind.
    if (::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(), static_cast<socklen_t>(name.size() + 1)) != 0) {
        const int code = errno;
        error = "cannot bind to network interface \"" + name + "\": " + errorText(code);
        if (code == EPERM) {
            error += " (binding needs CAP_NET_RAW on this kernel)";
        }
        return false;
    }
    return true;
#else
    (void)s;
    error = "binding to network interface \"" + name + "\" is not supported on this system";
    return false;
#endif
}

bool connectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port, int timeoutMs, std::string* error)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);

    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
        if (error != nullptr) {
            *error = "cannot prepare the socket: " + errorText(errno);
        }
        return false;
    }
    bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    int failure = ok ? 0 : errno;
    bool timedOut = false;
    if (!ok && failure == EINPROGRESS) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{s, POLLOUT, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left.count() > 0 ? left.count() : 0));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 1) {
                int code = 0;
                socklen_t len = sizeof code;
                ok = ::getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &len) == 0 && code == 0;
                failure = ok ? 0 : code != 0 ? code : errno;
            } else {
                timedOut = n == 0;
                failure = n < 0 ? errno : 0;
            }
            break;
        }
    }
    ::fcntl(s, F_SETFL, flags);
    if (!ok && error != nullptr) {
        *error = timedOut       ? "no answer within " + std::to_string(timeoutMs) + " ms"
                 : failure != 0 ? errorText(failure)
                                : "the connect failed";
    }
    return ok;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs)
{
    pollfd p{s, POLLIN, 0};
    const int n = ::poll(&p, 1, timeoutMs);
    if (n > 0) {
        return WaitResult::Readable; // readable, or closed/failed: the receive tells which
    }
    if (n == 0) {
        return WaitResult::TimedOut;
    }
    return errno == EINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

WaitResult waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable)
{
    std::vector<pollfd> fds(count);
    for (std::size_t i = 0; i < count; ++i) {
        fds[i] = pollfd{sockets[i], POLLIN, 0};
        readable[i] = false;
    }
    const int n = ::poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    if (n < 0) {
        return errno == EINTR ? WaitResult::Interrupted : WaitResult::Failed;
    }
    if (n == 0) {
        return WaitResult::TimedOut;
    }
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    return WaitResult::Readable;
}

long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t length)
{
    for (;;) {
#ifdef MSG_NOSIGNAL
        const ssize_t n = ::send(s, data, length, MSG_NOSIGNAL);
#else
        const ssize_t n = ::send(s, data, length, 0);
#endif
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(n);
    }
}

long receiveSome(SocketHandle s, std::uint8_t* data, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::recv(s, data, length, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(n);
    }
}

void discardQueued(SocketHandle s)
{
    // What is queued now, and no more: a peer that streams without end must not keep this going.
    int queued = 0;
    if (::ioctl(s, FIONREAD, &queued) != 0) {
        return;
    }
    std::uint8_t sink[4096];
    while (queued > 0) {
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(queued), sizeof sink);
        const ssize_t n = ::recv(s, sink, take, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // closed, or an error the next call will meet
        }
        queued -= static_cast<int>(n);
    }
}

std::string lastErrorText()
{
    return errorText(errno);
}

} // namespace orv::net
