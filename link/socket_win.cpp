// Winsock for the camera link, the simulated camera and the benchmarks.
#include "link/socket_io.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace orv::net {

SocketHandle invalidSocket()
{
    return static_cast<SocketHandle>(INVALID_SOCKET);
}

bool isValid(SocketHandle s)
{
    return static_cast<SOCKET>(s) != INVALID_SOCKET;
}

bool startLibrary(std::string* error)
{
    WSADATA data{};
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
        if (error != nullptr) {
            *error = "cannot start Winsock (error " + std::to_string(rc) + ")";
        }
        return false;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        if (error != nullptr) {
            *error = "Winsock 2.2 is not available";
        }
        return false;
    }
    return true; // never cleaned up: the library lives as long as the process
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

SocketHandle openTcp()
{
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        (void)WSAGetLastError();
    } else {
        BOOL one = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    }
    return static_cast<SocketHandle>(s);
}

void closeSocket(SocketHandle s)
{
    if (isValid(s)) {
        ::closesocket(static_cast<SOCKET>(s));
    }
}

void resetSocket(SocketHandle s)
{
    if (isValid(s)) {
        const linger hardClose{1, 0};
        ::setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hardClose),
                     sizeof hardClose);
        ::closesocket(static_cast<SOCKET>(s));
    }
}

void shutdownBoth(SocketHandle s)
{
    ::shutdown(static_cast<SOCKET>(s), SD_BOTH);
}

namespace {

std::string errorText(int code)
{
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(code);
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out;
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
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        setError(error, "cannot create a socket");
        return invalidSocket();
    }
    // SO_REUSEADDR means something else here (sharing a port that is in use); a listener can be
    // bound again after a restart without it. Exclusive use keeps a second listener from sharing.
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        setError(error, "cannot bind");
        ::closesocket(s);
        return invalidSocket();
    }
    if (::listen(s, SOMAXCONN) != 0) {
        setError(error, "cannot listen");
        ::closesocket(s);
        return invalidSocket();
    }
    return static_cast<SocketHandle>(s);
}

std::uint16_t boundPort(SocketHandle listener)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

SocketHandle acceptConnection(SocketHandle listener, int sendTimeoutMs)
{
    const SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return invalidSocket();
    }
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (sendTimeoutMs > 0) {
        const DWORD timeout = static_cast<DWORD>(sendTimeoutMs);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    }
    return static_cast<SocketHandle>(s);
}

bool bindToInterface(SocketHandle s, const InterfaceBinding& binding, std::string& error)
{
    if (binding.index == 0) {
        // Windows binds by index only; a name alone must first be looked up among the adapters.
        error = "network interface \"" + binding.name + "\" has no known index";
        return false;
    }
    // IP_UNICAST_IF takes the IPv4 interface index in network byte order.
    const DWORD index = htonl(static_cast<u_long>(binding.index));
    const auto sock = static_cast<SOCKET>(s);
    if (::setsockopt(sock, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index), sizeof index) != 0) {
        const int code = WSAGetLastError();
        error = "cannot bind to network interface " + std::to_string(binding.index)
              + (binding.name.empty() ? std::string() : " (\"" + binding.name + "\")") + ": " + errorText(code);
        return false;
    }
    return true;
}

bool connectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port, int timeoutMs, std::string* error)
{
    const auto sock = static_cast<SOCKET>(s);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);

    u_long nonBlocking = 1;
    if (ioctlsocket(sock, FIONBIO, &nonBlocking) != 0) {
        if (error != nullptr) {
            *error = "cannot prepare the socket: " + errorText(WSAGetLastError());
        }
        return false;
    }
    bool ok = ::connect(sock, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    int failure = ok ? 0 : WSAGetLastError();
    bool timedOut = false;
    if (!ok && failure == WSAEWOULDBLOCK) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
            const long long us = left.count() > 0 ? left.count() : 0;
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(sock, &writable);
            FD_SET(sock, &failed);
            timeval tv{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
            const int n = ::select(0, nullptr, &writable, &failed, &tv);
            if (n == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) {
                continue;
            }
            ok = n > 0 && FD_ISSET(sock, &writable) && !FD_ISSET(sock, &failed);
            timedOut = n == 0;
            if (n > 0 && !ok) {
                int code = 0;
                int len = sizeof code;
                ::getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &len);
                failure = code;
            } else if (n < 0) {
                failure = WSAGetLastError();
            }
            break;
        }
    }
    u_long blocking = 0;
    ioctlsocket(sock, FIONBIO, &blocking);
    if (!ok && error != nullptr) {
        *error = timedOut ? "no answer within " + std::to_string(timeoutMs) + " ms" : errorText(failure);
    }
    return ok;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs)
{
    const auto sock = static_cast<SOCKET>(s);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    if (n > 0) {
        return WaitResult::Readable;
    }
    if (n == 0) {
        return WaitResult::TimedOut;
    }
    return WSAGetLastError() == WSAEINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

WaitResult waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable)
{
    fd_set set;
    FD_ZERO(&set);
    for (std::size_t i = 0; i < count; ++i) {
        FD_SET(static_cast<SOCKET>(sockets[i]), &set);
        readable[i] = false;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, &set, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
        return WSAGetLastError() == WSAEINTR ? WaitResult::Interrupted : WaitResult::Failed;
    }
    if (n == 0) {
        return WaitResult::TimedOut;
    }
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = FD_ISSET(static_cast<SOCKET>(sockets[i]), &set) != 0;
    }
    return WaitResult::Readable;
}

long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t length)
{
    const int n = ::send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long receiveSome(SocketHandle s, std::uint8_t* data, std::size_t length)
{
    const int n = ::recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(data), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void discardQueued(SocketHandle s)
{
    // What is queued now, and no more: a peer that streams without end must not keep this going.
    const auto sock = static_cast<SOCKET>(s);
    u_long queued = 0;
    if (ioctlsocket(sock, FIONREAD, &queued) != 0) {
        return;
    }
    char sink[4096];
    while (queued > 0) {
        const int n = ::recv(sock, sink, static_cast<int>(std::min<u_long>(queued, sizeof sink)), 0);
        if (n <= 0) {
            return;
        }
        queued -= static_cast<u_long>(n);
    }
}

std::string lastErrorText()
{
    return "Winsock error " + std::to_string(WSAGetLastError());
}

} // namespace orv::net
