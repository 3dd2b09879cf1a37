// A stand-in of the camera maker's network SDK, with the same six functions, for the simulated
// camera: it logs into the camera on the simulated camera's SDK port (tools/camsim/sdk_protocol.h:
// 19437 or what ORV_CAMSIM_SDK_PORT says) whatever port it is given, since the maker's own
// protocol is not ours to know. Like a real SDK it reports the login's outcome from a thread of
// its own. Against a real camera it fails to log in.

#include "link/socket_io.h"
#include "tools/camsim/sdk_protocol.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define QMNET_API extern "C" __declspec(dllexport)
#else
#define QMNET_API extern "C" __attribute__((visibility("default")))
#endif

using LoginStatusCallback = int (*)(int value, int status, void* context);

namespace {

using namespace orv::camsim;

constexpr int kTimeoutMs = 3000;
constexpr int kFailure = -1;

// The socket calls are the camera link's own (link/socket_io.h), compiled into this library.
using Socket = orv::net::SocketHandle;
const Socket kNoSocket = orv::net::invalidSocket();
using orv::net::closeSocket;

struct Login
{
    std::mutex mutex; // held while the status is reported, so that a logout waits for it
    Socket socket = kNoSocket;
    bool loggedIn = false;
    bool ended = false;
};

std::mutex tableMutex;
std::map<int, std::shared_ptr<Login>> logins;
int nextHandle = 1;

std::shared_ptr<Login> find(int handle)
{
    std::lock_guard lock(tableMutex);
    const auto found = logins.find(handle);
    return found == logins.end() ? nullptr : found->second;
}

// The camera's SDK port for a login starting now; 0 when the variable names no port.
std::uint16_t sdkPort()
{
    const char* text = std::getenv(sdk::kPortVariable);
    if (!text || *text == 0) {
        return sdk::kDefaultPort;
    }
    const char* end = text + std::strlen(text);
    unsigned port = 0;
    const auto [p, ec] = std::from_chars(text, end, port);
    if (ec != std::errc() || p != end || port < 1 || port > 65535) {
        std::fprintf(stderr, "libQMNetSDK (stand-in): %s=\"%s\" is not a port from 1 to 65535; login refused\n",
                     sdk::kPortVariable, text);
        return 0;
    }
    return static_cast<std::uint16_t>(port);
}

Socket connectTo(const std::string& address, std::uint16_t port)
{
    std::uint32_t ip = 0;
    // 0.0.0.0 would reach this computer; it is no camera's address.
    if (!orv::net::parseIpv4(address, ip) || ip == 0) {
        return kNoSocket;
    }
    // Started once and kept for the life of the process, as in the maker's SDK.
    static const bool started = orv::net::startLibrary();
    const Socket s = started ? orv::net::openTcp() : kNoSocket;
    if (s == kNoSocket) {
        return kNoSocket;
    }
    if (!orv::net::connectWithin(s, ip, port, kTimeoutMs)) {
        closeSocket(s);
        return kNoSocket;
    }
    return s;
}

// Each piece must come within the timeout of the one before it.
bool receiveAll(Socket s, std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        if (orv::net::waitReadable(s, kTimeoutMs) != orv::net::WaitResult::Readable) {
            return false;
        }
        const long got = orv::net::receiveSome(s, data, length);
        if (got <= 0) {
            return false;
        }
        data += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

// One request and its reply; the reply's status, or -1 when the exchange failed. A reply body
// longer than `replyCapacity` ends the exchange as failed.
int exchange(Socket s, std::uint8_t operation, const std::vector<std::uint8_t>& body, std::uint8_t* reply,
             std::size_t replyCapacity, std::size_t* replyLength)
{
    std::vector<std::uint8_t> wire;
    const auto head = sdk::header(operation, static_cast<std::uint32_t>(body.size()));
    wire.insert(wire.end(), head.begin(), head.end());
    wire.insert(wire.end(), body.begin(), body.end());
    if (!orv::net::sendAll(s, wire.data(), wire.size())) {
        return -1;
    }
    std::uint8_t answer[sdk::kHeaderSize];
    if (!receiveAll(s, answer, sizeof answer) || !sdk::hasMagic(answer)) {
        return -1;
    }
    const std::uint32_t length = sdk::bodyLength(answer);
    if (length > replyCapacity || !receiveAll(s, reply, length)) {
        return -1;
    }
    if (replyLength) {
        *replyLength = length;
    }
    return answer[4];
}

void forget(int handle)
{
    std::lock_guard lock(tableMutex);
    logins.erase(handle);
}

void runLogin(int handle, std::shared_ptr<Login> login, std::string address, std::uint16_t port, std::string user,
              std::string password, LoginStatusCallback callback, void* context)
{
    int status = 1;
    const Socket s = connectTo(address, port);
    if (s != kNoSocket) {
        std::vector<std::uint8_t> body(user.begin(), user.end());
        body.push_back(0);
        body.insert(body.end(), password.begin(), password.end());
        body.push_back(0);
        status = exchange(s, sdk::Login, body, nullptr, 0, nullptr) == sdk::Ok ? 0 : 1;
    }
    std::lock_guard lock(login->mutex);
    if (login->ended) {
        if (s != kNoSocket) {
            closeSocket(s);
        }
        return;
    }
    if (status == 0) {
        login->socket = s;
        login->loggedIn = true;
    } else if (s != kNoSocket) {
        closeSocket(s);
    }
    if (callback) {
        callback(0, status, context);
    }
    // A refused login is over: no logout will come for it.
    if (status != 0) {
        forget(handle);
    }
}

} // namespace

QMNET_API int QMNET_Init()
{
    return 0;
}

QMNET_API int QMNET_Login(const char* address, int /*port*/, const char* user, const char* password,
                          LoginStatusCallback callback, void* context)
{
    if (!address || !user || !password || std::strlen(user) + std::strlen(password) + 2 > sdk::kMaxLoginBody) {
        return kFailure;
    }
    // Read at each call, on the caller's thread, so that a change between two logins takes effect.
    const std::uint16_t port = sdkPort();
    if (port == 0) {
        return kFailure;
    }
    auto login = std::make_shared<Login>();
    int handle = 0;
    {
        std::lock_guard lock(tableMutex);
        handle = nextHandle++;
        logins.emplace(handle, login);
    }
    std::thread(runLogin, handle, login, std::string(address), port, std::string(user), std::string(password), callback,
                context)
        .detach();
    return handle;
}

QMNET_API int QMNET_LoginOut(int handle)
{
    std::shared_ptr<Login> login;
    {
        std::lock_guard lock(tableMutex);
        const auto found = logins.find(handle);
        if (found == logins.end()) {
            return kFailure;
        }
        login = found->second;
        logins.erase(found);
    }
    // Waits for a status being reported; none comes after this.
    std::lock_guard lock(login->mutex);
    login->ended = true;
    login->loggedIn = false;
    if (login->socket != kNoSocket) {
        closeSocket(login->socket);
        login->socket = kNoSocket;
    }
    return 0;
}

QMNET_API int QMNET_GetConfig(int handle, int /*channel*/, int command, void* buffer, int* size)
{
    const auto login = find(handle);
    if (!login || command != 32 || !buffer || !size || *size < static_cast<int>(sdk::kRecordSize)) {
        return kFailure;
    }
    std::lock_guard lock(login->mutex);
    if (!login->loggedIn) {
        return kFailure;
    }
    std::uint8_t record[sdk::kRecordSize];
    std::size_t length = 0;
    if (exchange(login->socket, sdk::GetRecord, {}, record, sizeof record, &length) != sdk::Ok ||
        length != sdk::kRecordSize) {
        return kFailure;
    }
    std::memcpy(buffer, record, sizeof record);
    *size = static_cast<int>(sdk::kRecordSize);
    return 0;
}

QMNET_API int QMNET_SetConfig(int handle, int /*channel*/, int command, const void* buffer, int size)
{
    const auto login = find(handle);
    if (!login || command != 33 || !buffer || size != static_cast<int>(sdk::kRecordSize)) {
        return kFailure;
    }
    std::lock_guard lock(login->mutex);
    if (!login->loggedIn) {
        return kFailure;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    return exchange(login->socket, sdk::SetRecord, std::vector<std::uint8_t>(bytes, bytes + size), nullptr, 0,
                    nullptr) == sdk::Ok
               ? 0
               : kFailure;
}

QMNET_API int QMNET_CloseStream(int handle, int /*channel*/, int /*stream*/)
{
    return find(handle) ? 0 : kFailure;
}
