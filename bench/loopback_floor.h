#pragma once
// The loopback floor the link's benchmarks are measured against: a plain TCP pair on loopback
// making the same round trips, with the same byte counts, as the code beside it, through link/'s
// socket layer and nothing of the protocol.
//
// Both ends go without delayed small writes, as the link and the simulated camera open theirs:
// with Nagle on, a request that follows a write nobody answers would wait out the peer's delayed
// acknowledgement, and the floor would be far slower than what it is meant to bound.

#include "link/socket_io.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orv::bench {

struct FloorStep
{
    std::size_t request = 0;
    std::size_t reply = 0; // 0: a write, nothing comes back
};

// Listens on a loopback address and serves one connection after another, each with the steps in
// order, over and over, until the client closes.
class LoopbackFloor
{
public:
    LoopbackFloor(std::uint32_t address, std::vector<FloorStep> steps)
        : steps_(std::move(steps))
    {
        std::string error;
        if (!net::startLibrary(&error) || !net::isValid(listener_ = net::listenOn(address, 0, &error))) {
            std::fprintf(stderr, "cannot start the loopback floor: %s\n", error.c_str());
            std::exit(1);
        }
        address_ = address;
        port_ = net::boundPort(listener_);
        thread_ = std::thread([this] { serve(); });
    }

    ~LoopbackFloor()
    {
        net::shutdownBoth(listener_); // wakes the accept
        thread_.join();
        net::closeSocket(listener_);
    }

    LoopbackFloor(const LoopbackFloor&) = delete;
    LoopbackFloor& operator=(const LoopbackFloor&) = delete;

    std::uint32_t address() const { return address_; }
    std::uint16_t port() const { return port_; }
    const std::vector<FloorStep>& steps() const { return steps_; }

private:
    void serve() const
    {
        std::vector<std::uint8_t> buffer;
        for (;;) {
            const net::SocketHandle peer = net::acceptConnection(listener_, 0);
            if (!net::isValid(peer)) {
                return;
            }
            bool open = true;
            while (open) {
                for (const FloorStep& step : steps_) {
                    buffer.resize(std::max(step.request, step.reply), 'x');
                    if (!net::receiveAll(peer, buffer.data(), step.request)) {
                        open = false;
                        break;
                    }
                    if (step.reply > 0) {
                        net::sendAll(peer, buffer.data(), step.reply);
                    }
                }
            }
            net::closeSocket(peer);
        }
    }

    std::vector<FloorStep> steps_;
    net::SocketHandle listener_ = net::invalidSocket();
    std::uint32_t address_ = 0;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// One connection to the floor, opened as the link opens its socket; closed by the destructor,
// which the floor waits for before it ends.
class FloorClient
{
public:
    explicit FloorClient(const LoopbackFloor& floor)
        : floor_(floor)
        , socket_(net::openTcp())
    {
        if (!net::connectWithin(socket_, floor.address(), floor.port(), 3000)) {
            net::closeSocket(socket_);
            socket_ = net::invalidSocket();
        }
    }

    ~FloorClient()
    {
        if (net::isValid(socket_)) {
            net::shutdownBoth(socket_);
            net::closeSocket(socket_);
        }
    }

    FloorClient(const FloorClient&) = delete;
    FloorClient& operator=(const FloorClient&) = delete;

    // The floor's steps once from the client's side; false when the pair broke.
    bool replay()
    {
        for (const FloorStep& step : floor_.steps()) {
            buffer_.resize(std::max(step.request, step.reply), 'r');
            if (!net::sendAll(socket_, buffer_.data(), step.request)
                || (step.reply > 0 && !net::receiveAll(socket_, buffer_.data(), step.reply))) {
                return false;
            }
        }
        return true;
    }

private:
    const LoopbackFloor& floor_;
    net::SocketHandle socket_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace orv::bench
