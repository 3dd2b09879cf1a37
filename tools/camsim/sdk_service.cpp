#include "tools/camsim/sdk_service.h"

#include "tools/camsim/sdk_protocol.h"

#include "link/socket_io.h"

#include <atomic>
#include <thread>

namespace orv::camsim {

namespace {

constexpr int kTickMs = 20;
// A client that cannot take a reply within this time is gone.
constexpr int kSendTimeoutMs = 2000;
constexpr std::size_t kMaxConnections = 4;

struct Connection
{
    net::SocketHandle handle;
    std::vector<std::uint8_t> pending;
    bool loggedIn = false;
};

// "a\0b\0": the two texts; false when the body is not exactly that.
bool splitLogin(const std::vector<std::uint8_t>& body, std::string& user, std::string& password)
{
    std::size_t firstZero = 0;
    while (firstZero < body.size() && body[firstZero] != 0) {
        ++firstZero;
    }
    if (firstZero >= body.size()) {
        return false;
    }
    std::size_t secondZero = firstZero + 1;
    while (secondZero < body.size() && body[secondZero] != 0) {
        ++secondZero;
    }
    if (secondZero + 1 != body.size()) {
        return false;
    }
    user.assign(body.begin(), body.begin() + static_cast<long>(firstZero));
    password.assign(body.begin() + static_cast<long>(firstZero) + 1, body.begin() + static_cast<long>(secondZero));
    return true;
}

} // namespace

struct SdkService::Impl
{
    SdkServiceHooks hooks;
    net::SocketHandle listener = net::invalidSocket();
    std::uint16_t boundPort = 0;
    std::vector<Connection> connections;
    std::atomic<bool> stopping{false};
    std::thread thread;

    void log(const std::string& line)
    {
        if (hooks.log) {
            hooks.log(line);
        }
    }

    bool reply(Connection& c, std::uint8_t status, std::span<const std::uint8_t> body = {})
    {
        std::vector<std::uint8_t> wire;
        const auto head = sdk::header(status, static_cast<std::uint32_t>(body.size()));
        wire.insert(wire.end(), head.begin(), head.end());
        wire.insert(wire.end(), body.begin(), body.end());
        return net::sendAll(c.handle, wire.data(), wire.size());
    }

    // False when the connection must end.
    bool handle(Connection& c, std::uint8_t operation, const std::vector<std::uint8_t>& body)
    {
        switch (operation) {
            case sdk::Login: {
                std::string user;
                std::string password;
                if (!splitLogin(body, user, password)) {
                    log("sdk: malformed login");
                    return false;
                }
                c.loggedIn = hooks.checkLogin && hooks.checkLogin(user, password);
                log(c.loggedIn ? "sdk: login of " + user : "sdk: login of " + user + " refused");
                return reply(c, c.loggedIn ? sdk::Ok : sdk::Refused);
            }
            case sdk::GetRecord:
                if (!c.loggedIn) {
                    return reply(c, sdk::NotLoggedIn);
                }
                log("sdk: get GB28181 record");
                return reply(c, sdk::Ok, hooks.record ? hooks.record() : std::vector<std::uint8_t>(sdk::kRecordSize));
            case sdk::SetRecord:
                if (!c.loggedIn) {
                    return reply(c, sdk::NotLoggedIn);
                }
                if (body.size() != sdk::kRecordSize) {
                    log("sdk: set with a record of the wrong size");
                    return reply(c, sdk::Refused);
                }
                log("sdk: set GB28181 record");
                if (hooks.setRecord) {
                    hooks.setRecord(body);
                }
                return reply(c, sdk::Ok);
            default:
                return false;
        }
    }

    // False when the connection must end (closed by the peer, an error or a bad message).
    bool read(Connection& c)
    {
        std::uint8_t buffer[1024];
        const long got = net::receiveSome(c.handle, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        c.pending.insert(c.pending.end(), buffer, buffer + got);
        while (c.pending.size() >= sdk::kHeaderSize) {
            const std::uint8_t operation = c.pending[4];
            const std::uint32_t length = sdk::bodyLength(c.pending.data());
            if (!sdk::hasMagic(c.pending.data()) ||
                (operation != sdk::Login && operation != sdk::GetRecord && operation != sdk::SetRecord) ||
                length > sdk::maxBody(operation)) {
                log("sdk: bad message; connection closed");
                return false;
            }
            if (c.pending.size() < sdk::kHeaderSize + length) {
                return true;
            }
            const std::vector<std::uint8_t> body(c.pending.begin() + sdk::kHeaderSize,
                                                 c.pending.begin() + static_cast<long>(sdk::kHeaderSize + length));
            c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<long>(sdk::kHeaderSize + length));
            if (!handle(c, operation, body)) {
                return false;
            }
        }
        return true;
    }

    void run()
    {
        while (!stopping.load()) {
            std::vector<net::SocketHandle> handles;
            for (const Connection& c : connections) {
                handles.push_back(c.handle);
            }
            handles.push_back(listener);
            bool readable[kMaxConnections + 1] = {};
            const net::WaitResult status = net::waitAnyReadable(handles.data(), handles.size(), kTickMs, readable);
            if (status != net::WaitResult::Readable) {
                if (status == net::WaitResult::Failed) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
                }
                continue;
            }
            for (std::size_t i = connections.size(); i-- > 0;) {
                if (readable[i] && !read(connections[i])) {
                    net::closeSocket(connections[i].handle);
                    connections.erase(connections.begin() + static_cast<long>(i));
                }
            }
            if (readable[handles.size() - 1]) {
                const net::SocketHandle accepted = net::acceptConnection(listener, kSendTimeoutMs);
                if (net::isValid(accepted)) {
                    if (connections.size() >= kMaxConnections) {
                        net::closeSocket(accepted);
                    } else {
                        connections.push_back({accepted, {}, false});
                    }
                }
            }
        }
        for (Connection& c : connections) {
            net::closeSocket(c.handle);
        }
        connections.clear();
    }
};

SdkService::SdkService(SdkServiceHooks hooks)
    : impl_(std::make_unique<Impl>())
{
    impl_->hooks = std::move(hooks);
}

SdkService::~SdkService()
{
    stop();
}

bool SdkService::start(std::uint32_t address, std::uint16_t port, std::string* error)
{
    if (impl_->thread.joinable()) {
        return true;
    }
    impl_->listener = net::listenOn(address, port, error);
    if (!net::isValid(impl_->listener)) {
        return false;
    }
    impl_->boundPort = net::boundPort(impl_->listener);
    impl_->stopping = false;
    impl_->thread = std::thread([this] { impl_->run(); });
    return true;
}

void SdkService::stop()
{
    if (!impl_->thread.joinable()) {
        return;
    }
    impl_->stopping = true;
    impl_->thread.join();
    net::closeSocket(impl_->listener);
    impl_->listener = net::invalidSocket();
}

std::uint16_t SdkService::port() const
{
    return impl_->boundPort;
}

} // namespace orv::camsim
