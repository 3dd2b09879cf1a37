#pragma once
// The console's one connection to the camera: a blocking TCP client, one request at a time.

#include "link/frame.h"
#include "link/socket_io.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orv {

// 1 once the socket library runs with version 2.2; while 0 the link neither sends nor receives.
// Atomic: links on many worker threads start the library and look at it.
extern std::atomic<int> socketsReady;

// Safe to call from several threads at once: the library is started by one call, the others
// wait for it; a start that failed is tried again by the next call.
void StartSockets();

// Optional hex trace of every frame the link sends and receives (the debug switch). Called on
// whichever thread exchanges; set it only while no link is exchanging.
enum class FrameDirection { Out, In };
using FrameTrace = std::function<void(FrameDirection, const std::uint8_t*, std::size_t)>;
void setFrameTrace(FrameTrace trace);

// Four decimal numbers 0..255 joined by points, nothing else; `address` in host byte order.
bool parseDottedIpv4(std::string_view text, std::uint32_t& address);

class CameraLink
{
public:
    CameraLink() = default;
    ~CameraLink();
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    net::SocketHandle socket = net::invalidSocket();
    int connected = 0;
    int loggedIn = 0;

    // How long a reply and a connect may take. Three seconds each; tests shorten them.
    std::chrono::milliseconds replyTimeout{3000};
    std::chrono::milliseconds connectTimeout{3000};

    // The network interface every Connect goes out through; empty (the default): wherever the
    // routing table sends it. A binding that fails fails the Connect; it never connects unbound.
    net::InterfaceBinding boundInterface;

    // A fresh, unconnected socket; an old one is closed without a shutdown.
    bool Open();
    // Connects to a dotted IPv4 address on port 19436 (or `port` for tests that need another).
    bool Connect(std::string_view address, std::uint16_t port = kCameraPort);
    // Why the last Connect failed (bad address, binding, refused, no answer); empty after success.
    const std::string& lastFailure() const { return lastFailure_; }
    void Close();
    bool WaitReadable();

    // Sends a request without payload (or the 6-byte ConfigSelector for GetConfig, taken from
    // reply[0]) and receives exactly `expectedLength` payload bytes into `reply`.
    // 0 on success; -1 and `reply` untouched otherwise.
    int Exchange(std::uint16_t command, std::uint8_t* reply, std::size_t expectedLength);

    // Sends one frame and awaits nothing. 0 when the whole frame went out, -1 when it could not
    // be sent (no connection, or the camera has gone).
    int Send(std::uint16_t command, std::size_t payloadLength, const std::uint8_t* payload);

private:
    bool sendFrame(const std::uint8_t* frame, std::size_t length);
    bool waitReadableUntil(std::chrono::steady_clock::time_point deadline);

    std::string lastFailure_;
};

} // namespace orv
