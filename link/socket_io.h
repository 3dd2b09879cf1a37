#pragma once
// The few socket calls the link makes, the same on every platform.
// socket_posix.cpp implements them with BSD sockets, socket_win.cpp with Winsock.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv::net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif

SocketHandle invalidSocket();

// Starts the socket library asking for version 2.2; true only when that version is ready.
bool startLibrary();

SocketHandle openTcp();
void closeSocket(SocketHandle s);
void shutdownBoth(SocketHandle s);

// The network interface a socket is tied to before it connects. Every camera answers at the same
// address, each behind a USB adapter of its own, so only the interface says which camera a
// connection reaches. Linux binds by name, Windows by index; both are kept so that one value
// serves either. Empty: the routing table chooses, as for any socket.
struct InterfaceBinding
{
    std::string name;
    unsigned index = 0;

    bool empty() const { return name.empty() && index == 0; }
    friend bool operator==(const InterfaceBinding&, const InterfaceBinding&) = default;
};

// Ties an unconnected socket to one interface; false with the reason in `error` when it cannot.
bool bindToInterface(SocketHandle s, const InterfaceBinding& binding, std::string& error);

// Connects to an IPv4 address (host byte order) and port; gives up after timeoutMs. On failure,
// `error` (when given) says why.
bool connectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port, int timeoutMs,
                   std::string* error = nullptr);

enum class WaitResult { Readable, TimedOut, Interrupted, Failed };
WaitResult waitReadable(SocketHandle s, int timeoutMs);

// One send call that never raises SIGPIPE; bytes sent or -1.
long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t length);
// One receive call; bytes received, 0 when the peer closed, -1 on error.
long receiveSome(SocketHandle s, std::uint8_t* data, std::size_t length);
// Reads and drops whatever is already queued, without waiting.
void discardQueued(SocketHandle s);

} // namespace orv::net
