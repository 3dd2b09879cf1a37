#pragma once
// The few socket calls the simulated camera makes, as a listening TCP server.
// server_socket_posix.cpp implements them with BSD sockets; a Winsock twin only has to provide
// the same functions.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv::camsim::sock {

#ifdef _WIN32
using Handle = std::uintptr_t;
#else
using Handle = int;
#endif

Handle invalidHandle();
bool isValid(Handle h);

// Starts the socket library where there is one to start; false with a reason otherwise.
bool startLibrary(std::string* error);

// Dotted-decimal IPv4 text to an address in host byte order.
bool parseIpv4(const std::string& text, std::uint32_t& address);

// A listening socket with address reuse, so that a restart on the same port works at once.
// Port 0 takes any free port; boundPort() tells which.
Handle listenOn(std::uint32_t address, std::uint16_t port, std::string* error);
std::uint16_t boundPort(Handle listener);

// Accepts one pending connection (without delaying small writes, and with a bounded send time
// so that a client that never reads cannot hang the camera). Invalid when there was none.
Handle acceptConnection(Handle listener);

void closeHandle(Handle h);
// Closes with SO_LINGER 0, so that the peer sees a reset rather than the end of the stream.
void resetHandle(Handle h);

enum class WaitStatus { Ready, TimedOut, Failed };
// Waits until one of `count` handles is readable (for a listener: has a connection pending);
// readable[i] tells which.
WaitStatus waitReadable(const Handle* handles, std::size_t count, int timeoutMs, bool* readable);

// One receive call: bytes received, 0 when the peer closed, -1 on error.
long receiveSome(Handle h, std::uint8_t* data, std::size_t length);
// Sends everything or fails; never raises SIGPIPE.
bool sendAll(Handle h, const std::uint8_t* data, std::size_t length);

std::string lastErrorText();

} // namespace orv::camsim::sock
