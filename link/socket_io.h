#pragma once
// The few socket calls the link makes, the same on every platform.
// socket_posix.cpp implements them with BSD sockets, socket_win.cpp with Winsock.

#include <cstddef>
#include <cstdint>

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

// Connects to an IPv4 address (host byte order) and port; gives up after timeoutMs.
bool connectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port, int timeoutMs);

enum class WaitResult { Readable, TimedOut, Interrupted, Failed };
WaitResult waitReadable(SocketHandle s, int timeoutMs);

// One send call that never raises SIGPIPE; bytes sent or -1.
long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t length);
// One receive call; bytes received, 0 when the peer closed, -1 on error.
long receiveSome(SocketHandle s, std::uint8_t* data, std::size_t length);
// Reads and drops whatever is already queued, without waiting.
void discardQueued(SocketHandle s);

} // namespace orv::net
