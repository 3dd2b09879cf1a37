#pragma once
// A TCP relay on loopback between a client and a server that can stop carrying data: the link
// stays up and every byte sent into it is taken (the relay's system acknowledges it), but nothing
// comes through either way, as when a server hangs or a network path stops forwarding while the
// connection looks alive. It can also drop a connection at a chosen moment of the conversation,
// as a path that breaks mid-transaction. POSIX sockets; for the tests of the shared ledger.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orv::test {

class StallingRelay
{
public:
    // Relays connections to 127.0.0.1:serverPort from a port of its own on 127.0.0.1.
    explicit StallingRelay(std::uint16_t serverPort)
        : serverPort_(serverPort)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~StallingRelay()
    {
        stopping_ = true;
        acceptor_.join();
        const std::lock_guard lock(mutex_);
        for (std::thread& pump : pumps_) {
            pump.join();
        }
        ::close(listener_);
    }
    StallingRelay(const StallingRelay&) = delete;
    StallingRelay& operator=(const StallingRelay&) = delete;

    std::uint16_t port() const { return port_; }
    // While stalled nothing is carried; new connections are taken and wait too.
    void stall(bool stalled) { stalled_ = stalled; }

    enum class Way { ToServer, ToClient };
    // The next piece of the conversation going `way` that holds `marker` (a statement's text, a
    // reply's tag) is not carried: that connection is closed at both ends instead. Once.
    void dropAt(Way way, std::string marker)
    {
        const std::lock_guard lock(mutex_);
        dropWay_ = way;
        dropMarker_ = std::move(marker);
    }
    bool dropped() const { return dropped_; }

private:
    void acceptLoop()
    {
        while (!stopping_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) != 1) {
                continue;
            }
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) {
                continue;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(serverPort_);
            if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(server);
                ::close(client);
                continue;
            }
            const std::lock_guard lock(mutex_);
            pumps_.emplace_back([this, client, server] { pump(client, server); });
        }
    }

    // Carries bytes both ways until either side closes or the relay stops.
    void pump(int client, int server)
    {
        std::vector<char> buffer(16384);
        bool open = true;
        while (open && !stopping_) {
            if (stalled_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(both, 2, 50) <= 0) {
                continue;
            }
            for (int side = 0; side < 2 && open; ++side) {
                if (!(both[side].revents & (POLLIN | POLLHUP | POLLERR))) {
                    continue;
                }
                const long n = ::recv(both[side].fd, buffer.data(), buffer.size(), 0);
                const int to = side == 0 ? server : client;
                if (n > 0 && dropsHere(side == 0 ? Way::ToServer : Way::ToClient,
                                       std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
                    open = false;
                    break;
                }
                open = n > 0 && ::send(to, buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
            }
        }
        ::close(client);
        ::close(server);
    }

    bool dropsHere(Way way, std::string_view piece)
    {
        const std::lock_guard lock(mutex_);
        if (dropMarker_.empty() || way != dropWay_ || piece.find(dropMarker_) == std::string_view::npos) {
            return false;
        }
        dropMarker_.clear();
        dropped_ = true;
        return true;
    }

    std::uint16_t serverPort_;
    std::uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stalled_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> dropped_{false};
    std::mutex mutex_; // the pumps, the drop
    Way dropWay_ = Way::ToServer;
    std::string dropMarker_;
    std::vector<std::thread> pumps_;
    std::thread acceptor_;
};

} // namespace orv::test
