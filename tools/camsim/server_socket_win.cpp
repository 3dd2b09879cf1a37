// Winsock for the simulated camera.
#include "tools/camsim/server_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace orv::camsim::sock {

namespace {

constexpr DWORD kSendTimeoutMs = 2000;

void setError(std::string* error, const std::string& what)
{
    if (error) {
        *error = what + ": " + lastErrorText();
    }
}

SOCKET raw(Handle h)
{
    return static_cast<SOCKET>(h);
}

} // namespace

Handle invalidHandle()
{
    return static_cast<Handle>(INVALID_SOCKET);
}

bool isValid(Handle h)
{
    return raw(h) != INVALID_SOCKET;
}

bool startLibrary(std::string* error)
{
    WSADATA data{};
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
        if (error) {
            *error = "cannot start Winsock (error " + std::to_string(rc) + ")";
        }
        return false;
    }
    return true; // kept for the life of the process
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
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        setError(error, "cannot create a socket");
        return invalidHandle();
    }
    // SO_REUSEADDR means something else here (sharing a port that is in use); a listener can be
    // bound again after a restart without it. Exclusive use keeps a second camera from sharing.
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        setError(error, "cannot bind");
        ::closesocket(s);
        return invalidHandle();
    }
    if (::listen(s, SOMAXCONN) != 0) {
        setError(error, "cannot listen");
        ::closesocket(s);
        return invalidHandle();
    }
    return static_cast<Handle>(s);
}

std::uint16_t boundPort(Handle listener)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(raw(listener), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

Handle acceptConnection(Handle listener)
{
    const SOCKET s = ::accept(raw(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return invalidHandle();
    }
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&kSendTimeoutMs), sizeof kSendTimeoutMs);
    return static_cast<Handle>(s);
}

void closeHandle(Handle h)
{
    if (isValid(h)) {
        ::closesocket(raw(h));
    }
}

void resetHandle(Handle h)
{
    if (isValid(h)) {
        const linger hardClose{1, 0};
        ::setsockopt(raw(h), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hardClose), sizeof hardClose);
        ::closesocket(raw(h));
    }
}

WaitStatus waitReadable(const Handle* handles, std::size_t count, int timeoutMs, bool* readable)
{
    fd_set set;
    FD_ZERO(&set);
    for (std::size_t i = 0; i < count; ++i) {
        FD_SET(raw(handles[i]), &set);
        readable[i] = false;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, &set, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
        return WSAGetLastError() == WSAEINTR ? WaitStatus::TimedOut : WaitStatus::Failed;
    }
    if (n == 0) {
        return WaitStatus::TimedOut;
    }
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = FD_ISSET(raw(handles[i]), &set) != 0;
    }
    return WaitStatus::Ready;
}

long receiveSome(Handle h, std::uint8_t* data, std::size_t length)
{
    const int n = ::recv(raw(h), reinterpret_cast<char*>(data), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

bool sendAll(Handle h, const std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const int n = ::send(raw(h), reinterpret_cast<const char*>(data + done), static_cast<int>(length - done), 0);
        if (n == SOCKET_ERROR || n == 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string lastErrorText()
{
    return "Winsock error " + std::to_string(WSAGetLastError());
}

} // namespace orv::camsim::sock
