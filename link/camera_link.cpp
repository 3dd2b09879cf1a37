#include "link/camera_link.h"

#include <array>
#include <charconv>
#include <cstring>
#include <mutex>
#include <string>

namespace orv {

std::atomic<int> socketsReady{0};

namespace {

FrameTrace& frameTrace()
{
    static FrameTrace trace;
    return trace;
}

void trace(FrameDirection direction, const std::uint8_t* bytes, std::size_t length)
{
    if (frameTrace()) {
        frameTrace()(direction, bytes, length);
    }
}

int millisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

} // namespace

bool parseDottedIpv4(std::string_view text, std::uint32_t& address)
{
    address = 0;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (p == end || *p != '.') {
                return false;
            }
            ++p;
        }
        unsigned value = 0;
        const auto [next, error] = std::from_chars(p, end, value);
        if (error != std::errc() || next == p || value > 255) {
            return false;
        }
        address = (address << 8) | value;
        p = next;
    }
    return p == end;
}

void setFrameTrace(FrameTrace trace)
{
    frameTrace() = std::move(trace);
}

void StartSockets()
{
    if (socketsReady == 1) {
        return;
    }
    // A mutex rather than std::call_once: a start that failed must be tried again.
    static std::mutex starting;
    const std::lock_guard lock(starting);
    if (socketsReady == 1) {
        return;
    }
    if (net::startLibrary()) {
        socketsReady = 1;
    }
}

CameraLink::~CameraLink()
{
    if (socket != net::invalidSocket()) {
        net::closeSocket(socket);
    }
}

bool CameraLink::Open()
{
    if (socketsReady == 0) {
        return false;
    }
    if (socket != net::invalidSocket()) {
        net::closeSocket(socket);
        socket = net::invalidSocket();
    }
    socket = net::openTcp();
    return socket != net::invalidSocket();
}

bool CameraLink::Connect(std::string_view address, std::uint16_t port)
{
    if (socketsReady == 0 || socket == net::invalidSocket()) {
        return connected != 0;
    }
    lastFailure_.clear();
    std::uint32_t ip = 0;
    if (!parseDottedIpv4(address, ip)) {
        lastFailure_ = "\"" + std::string(address) + "\" is not an IPv4 address";
        connected = 0;
        return false;
    }
    if (!boundInterface.empty() && !net::bindToInterface(socket, boundInterface, lastFailure_)) {
        connected = 0;
        return false;
    }
    std::string why;
    connected = net::connectWithin(socket, ip, port, static_cast<int>(connectTimeout.count()), &why) ? 1 : 0;
    if (connected == 0) {
        std::string through;
        if (!boundInterface.empty()) {
            through = boundInterface.name.empty() ? " through interface " + std::to_string(boundInterface.index)
                                                  : " through \"" + boundInterface.name + "\"";
        }
        lastFailure_ = "cannot connect to " + std::string(address) + ":" + std::to_string(port) + through + ": " + why;
    }
    return connected != 0;
}

void CameraLink::Close()
{
    if (socketsReady == 1 && socket != net::invalidSocket()) {
        net::shutdownBoth(socket);
        net::closeSocket(socket);
        socket = net::invalidSocket();
        connected = 0;
    }
}

bool CameraLink::WaitReadable()
{
    if (socketsReady == 0 || connected == 0) {
        return false;
    }
    for (;;) {
        switch (net::waitReadable(socket, static_cast<int>(replyTimeout.count()))) {
        case net::WaitResult::Readable:
            return true;
        case net::WaitResult::Interrupted:
            continue; // a fresh full wait, as after any interrupted call
        case net::WaitResult::TimedOut:
        case net::WaitResult::Failed:
            return false;
        }
    }
}

bool CameraLink::waitReadableUntil(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        switch (net::waitReadable(socket, millisecondsLeft(deadline))) {
        case net::WaitResult::Readable:
            return true;
        case net::WaitResult::Interrupted:
            continue;
        case net::WaitResult::TimedOut:
        case net::WaitResult::Failed:
            return false;
        }
    }
}

bool CameraLink::sendFrame(const std::uint8_t* frame, std::size_t length)
{
    trace(FrameDirection::Out, frame, length);
    return net::sendAll(socket, frame, length);
}

int CameraLink::Exchange(std::uint16_t command, std::uint8_t* reply, std::size_t expectedLength)
{
    // A request is a header and at most the one-byte selector.
    std::array<std::uint8_t, kFrameHeaderSize + kConfigSelectorSize> request{};
    const bool withSelector = command == static_cast<std::uint16_t>(Command::GetConfig);
    const std::size_t payloadLength = withSelector ? kConfigSelectorSize : 0;
    writeFrameHeader(request.data(), command, payloadLength);
    if (withSelector && reply != nullptr) {
        request[kFrameHeaderSize] = reply[0];
    }
    if (socketsReady == 0 || connected == 0) {
        return -1;
    }

    // Whatever is still queued belongs to an earlier request whose reply came too late or in
    // too many bytes; it must never pass for the reply to this one.
    net::discardQueued(socket);
    if (!sendFrame(request.data(), kFrameHeaderSize + payloadLength) || reply == nullptr) {
        return -1;
    }

    const std::size_t wanted = expectedLength + kFrameHeaderSize;
    if (wanted > kFrameBufferSize) {
        return -1;
    }
    // TCP may hand the reply over in pieces: gather them until the reply is complete or the
    // window, counted from the send, has closed.
    const auto deadline = std::chrono::steady_clock::now() + replyTimeout;
    // Not zero-filled: only the bytes received are ever read, and filling 20 KiB on every
    // exchange was most of what a Get cost.
    std::array<std::uint8_t, kFrameBufferSize> received;
    std::size_t total = 0;
    while (total < wanted) {
        if (!waitReadableUntil(deadline)) {
            return -1;
        }
        const long n = net::receiveSome(socket, received.data() + total, received.size() - total);
        if (n <= 0) {
            return -1;
        }
        trace(FrameDirection::In, received.data() + total, static_cast<std::size_t>(n));
        total += static_cast<std::size_t>(n);
    }
    if (total != wanted) {
        return -1;
    }
    std::memcpy(reply, received.data() + kFrameHeaderSize, expectedLength);
    return 0;
}

int CameraLink::Send(std::uint16_t command, std::size_t payloadLength, const std::uint8_t* payload)
{
    if (payloadLength > kMaxPayloadSize) {
        return -1;
    }
    std::array<std::uint8_t, kFrameBufferSize> frame{};
    writeFrameHeader(frame.data(), command, payloadLength);
    if (payload != nullptr && payloadLength > 0) {
        std::memcpy(frame.data() + kFrameHeaderSize, payload, payloadLength);
    }
    if (socketsReady == 0 || connected == 0) {
        return -1;
    }
    return sendFrame(frame.data(), kFrameHeaderSize + payloadLength) ? 0 : -1;
}

} // namespace orv
