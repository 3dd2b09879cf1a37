#pragma once
// A bare client for the simulated camera's tests: raw bytes in and out, nothing of the console's
// link in between, so that the tests see exactly what the camera sends.

#include "link/frame.h"
#include "link/socket_io.h"
#include "tools/camsim/sdk_protocol.h"
#include "tools/camsim/simulated_camera.h"

#include <chrono>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orv::camsim::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Each test serves on an address of its own, 127.0.10.host, so that they can run in parallel.
inline std::string hostAddress(int host)
{
    return "127.0.10." + std::to_string(host);
}

inline Bytes frame(std::uint16_t command, const Bytes& payload = {})
{
    Bytes out(kFrameHeaderSize);
    writeFrameHeader(out.data(), command, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline Bytes frame(Command command, const Bytes& payload = {})
{
    return frame(static_cast<std::uint16_t>(command), payload);
}

inline Bytes selector(std::uint8_t type)
{
    return Bytes{type, 0, 0, 0, 0, 0};
}

template <typename Record>
Bytes bytesOf(const Record& r)
{
    return Bytes(r.bytes.begin(), r.bytes.end());
}

class RawClient
{
public:
    RawClient() = default;
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() { close(); }

    // False when the camera refuses (or does not answer within three seconds).
    bool connect(const std::string& address, std::uint16_t port = kCameraPort)
    {
        close();
        std::uint32_t a = 0;
        if (!net::startLibrary() || !net::parseIpv4(address, a)) {
            return false;
        }
        socket_ = net::openTcp();
        closed_ = false;
        reset_ = false;
        connectError_.clear();
        if (!net::connectWithin(socket_, a, port, 3000, &connectError_)) {
            close();
            return false;
        }
        return true;
    }

    bool send(const Bytes& bytes) { return net::sendAll(socket_, bytes.data(), bytes.size()); }

    // Reads until `count` bytes came, the camera closed, or the timeout (a safety net) passed.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout = 3s)
    {
        Bytes out;
        readChunks(count, timeout, &out);
        return out;
    }

    // As read(), giving the size of each receive as it came.
    std::vector<std::size_t> readChunks(std::size_t count, std::chrono::milliseconds timeout = 3s,
                                        Bytes* bytes = nullptr)
    {
        std::vector<std::size_t> chunks;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::uint8_t buffer[4096];
        std::size_t total = 0;
        while (total < count && !closed_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || net::waitReadable(socket_, static_cast<int>(left.count())) != net::WaitResult::Readable) {
                break;
            }
            const long n = net::receiveSome(socket_, buffer, std::min(sizeof buffer, count - total));
            if (n <= 0) {
                closed_ = true;
                reset_ = n < 0; // a clean close reads as 0
                break;
            }
            chunks.push_back(static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
            if (bytes) {
                bytes->insert(bytes->end(), buffer, buffer + n);
            }
        }
        return chunks;
    }

    // Everything the camera sends until it closes the connection.
    Bytes readUntilClosed(std::chrono::milliseconds timeout = 3s) { return read(SIZE_MAX, timeout); }

    // True once a read met the end of the connection.
    bool closedByCamera() const { return closed_; }
    // True when that end was a reset rather than a close.
    bool resetByCamera() const { return reset_; }
    // Why the last connect() failed.
    const std::string& connectError() const { return connectError_; }

    void close()
    {
        if (socket_ != net::invalidSocket()) {
            net::closeSocket(socket_);
            socket_ = net::invalidSocket();
        }
    }

private:
    net::SocketHandle socket_ = net::invalidSocket();
    bool closed_ = false;
    bool reset_ = false;
    std::string connectError_;
};

// A message to the camera's SDK port.
inline Bytes sdkMessage(std::uint8_t code, const Bytes& body = {})
{
    const auto head = sdk::header(code, static_cast<std::uint32_t>(body.size()));
    Bytes out(head.begin(), head.end());
    for (const std::uint8_t b : body) { // an insert of the range trips g++ 12's -Warray-bounds at -O2
        out.push_back(b);
    }
    return out;
}

inline Bytes sdkLoginBody(const std::string& user, const std::string& password)
{
    Bytes body(user.begin(), user.end());
    body.push_back(0);
    body.insert(body.end(), password.begin(), password.end());
    body.push_back(0);
    return body;
}

// Sends a request to the SDK port; the reply's status byte and body, status -1 when no whole reply came.
inline std::pair<int, Bytes> askSdk(RawClient& client, const Bytes& request)
{
    if (!client.send(request)) {
        return {-1, {}};
    }
    const Bytes head = client.read(sdk::kHeaderSize);
    if (head.size() != sdk::kHeaderSize || !sdk::hasMagic(head.data())) {
        return {-1, {}};
    }
    return {head[4], client.read(sdk::bodyLength(head.data()))};
}

// The camera's log, kept for assertions.
class LogLines
{
public:
    std::function<void(const std::string&)> sink()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }

    bool contains(const std::string& part) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace orv::camsim::test
