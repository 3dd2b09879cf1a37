#include "tools/camsim/server_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orv::camsim::sock {

namespace {

// A reply is a few hundred bytes; a client that cannot take that within this time is gone.
constexpr int kSendTimeoutMs = 2000;

void setError(std::string* error, const std::string& what)
{
    if (error) {
        *error = what + ": " + lastErrorText();
    }
}

} // namespace

Handle invalidHandle()
{
    return -1;
}

bool isValid(Handle h)
{
    return h >= 0;
}

bool startLibrary(std::string*)
{
    return true;
}

bool parseIpv4(const std::string& text, std::uint32_t& address)
{
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) {
        return false;
    }
    address = ntohl(a.s_addr);
    return true;
}

Handle listenOn(std::uint32_t address, std::uint16_t port, std::string* error)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        setError(error, "cannot create a socket");
        return invalidHandle();
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
        return invalidHandle();
    }
    if (::listen(s, SOMAXCONN) != 0) {
        setError(error, "cannot listen");
        ::close(s);
        return invalidHandle();
    }
    return s;
}

std::uint16_t boundPort(Handle listener)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

Handle acceptConnection(Handle listener)
{
    int s = -1;
    do {
        s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) {
        return invalidHandle();
    }
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval tv{};
    tv.tv_sec = kSendTimeoutMs / 1000;
    tv.tv_usec = (kSendTimeoutMs % 1000) * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return s;
}

void closeHandle(Handle h)
{
    if (isValid(h)) {
        ::close(h);
    }
}

void resetHandle(Handle h)
{
    if (isValid(h)) {
        const linger hardClose{1, 0};
        ::setsockopt(h, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
        ::close(h);
    }
}

WaitStatus waitReadable(const Handle* handles, std::size_t count, int timeoutMs, bool* readable)
{
    std::vector<pollfd> fds(count);
    for (std::size_t i = 0; i < count; ++i) {
        fds[i] = pollfd{handles[i], POLLIN, 0};
        readable[i] = false;
    }
    const int n = ::poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    if (n < 0) {
        return errno == EINTR ? WaitStatus::TimedOut : WaitStatus::Failed;
    }
    if (n == 0) {
        return WaitStatus::TimedOut;
    }
    for (std::size_t i = 0; i < count; ++i) {
        // A hang-up or error counts as readable: the receive that follows reports it.
        readable[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    return WaitStatus::Ready;
}

long receiveSome(Handle h, std::uint8_t* data, std::size_t length)
{
    ssize_t n = 0;
    do {
        n = ::recv(h, data, length, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool sendAll(Handle h, const std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::send(h, data + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string lastErrorText()
{
    return std::strerror(errno);
}

} // namespace orv::camsim::sock
