#pragma once
// The one layer of socket calls: the link's client side, the simulated camera's listening side and
// the benchmarks' loopback floors all go through it, the same on every platform.
// socket_posix.cpp implements them with BSD sockets, socket_win.cpp with Winsock; socket_io.cpp
// holds what is made of these calls alone.

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
bool isValid(SocketHandle s);

// Starts the socket library asking for version 2.2; true only when that version is ready, else
// false with the reason in `error` (when given).
bool startLibrary(std::string* error = nullptr);

// Dotted-decimal IPv4 text to an address in host byte order.
bool parseIpv4(const std::string& text, std::uint32_t& address);

// A TCP socket without delayed small writes (a request that follows an unanswered write must not
// wait for the delayed acknowledgement of that write).
SocketHandle openTcp();
// Closing (either way) an invalid socket does nothing.
void closeSocket(SocketHandle s);
// Closes with SO_LINGER 0, so that the peer sees a reset rather than the end of the stream.
void resetSocket(SocketHandle s);
void shutdownBoth(SocketHandle s);

// A listening socket that a restart can bind again at once (address reuse where that is what it
// means; exclusive use on Windows). Port 0 takes any free port; boundPort() tells which. Invalid,
// with the reason in `error` (when given), when it cannot listen.
SocketHandle listenOn(std::uint32_t address, std::uint16_t port, std::string* error = nullptr);
std::uint16_t boundPort(SocketHandle listener);

// Accepts one pending connection, without delayed small writes, like openTcp's. A send on it
// gives up after sendTimeoutMs (0: never), so that a client that never reads cannot hang a
// server. Invalid when there was none.
SocketHandle acceptConnection(SocketHandle listener, int sendTimeoutMs);

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
// Waits until one of `count` sockets is readable (a listener: a connection is pending; a
// connection: data, its end or an error, which the receive that follows reports); readable[i]
// tells which.
WaitResult waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable);

// One send call that never raises SIGPIPE; bytes sent or -1.
long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t length);
// Sends everything or fails (socket_io.cpp); never raises SIGPIPE.
bool sendAll(SocketHandle s, const std::uint8_t* data, std::size_t length);
// One receive call; bytes received, 0 when the peer closed, -1 on error.
long receiveSome(SocketHandle s, std::uint8_t* data, std::size_t length);
// Receives exactly `length` bytes (socket_io.cpp); false when the peer closed or failed first.
bool receiveAll(SocketHandle s, std::uint8_t* data, std::size_t length);
// Reads and drops whatever is already queued, without waiting.
void discardQueued(SocketHandle s);

// Why the last socket call of this thread failed.
std::string lastErrorText();

} // namespace orv::net
