// What each platform supplies to the link: the socket library's start, a connect that gives up,
// and the GBK code page (iconv here, code page 936 through the Windows functions there). Both
// platforms must behave alike.
#include "link/camera_link.h"
#include "link/gbk.h"
#include "link/link_text.h"
#include "tests/support/camera_on_loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace orv;
using namespace std::chrono_literals;

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
void closeNative(NativeSocket s)
{
    ::closesocket(s);
}
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
void closeNative(NativeSocket s)
{
    ::close(s);
}
#endif

// A listener with the shortest queue there is, which never accepts: once the queue is full,
// further connection attempts go unanswered, as with a camera that has hung.
class DeafListener
{
public:
    explicit DeafListener(const std::string& address)
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kCameraPort);
        if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
            return;
        }
        ip_ = ntohl(sa.sin_addr.s_addr);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ != kNoSocket &&
            (::bind(socket_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(socket_, 1) != 0)) {
            closeNative(socket_);
            socket_ = kNoSocket;
        }
    }
    ~DeafListener()
    {
        if (socket_ != kNoSocket) {
            closeNative(socket_);
        }
    }
    DeafListener(const DeafListener&) = delete;
    DeafListener& operator=(const DeafListener&) = delete;

    bool listening() const { return socket_ != kNoSocket; }
    std::uint32_t ip() const { return ip_; }

private:
    NativeSocket socket_ = kNoSocket;
    std::uint32_t ip_ = 0;
};

#ifdef _WIN32
bool winsockWorks()
{
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return false;
    }
    ::closesocket(s);
    return true;
}
#endif

TEST(StartSockets, StartsOnceAndStaysStarted)
{
#ifdef _WIN32
    // Run alone (as ctest runs every test), nothing has started Winsock before.
    if (socketsReady == 0) {
        EXPECT_FALSE(winsockWorks());
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }
#endif
    StartSockets();
    EXPECT_EQ(socketsReady, 1);
    StartSockets();
    EXPECT_EQ(socketsReady, 1) << "a second call is harmless";
#ifdef _WIN32
    EXPECT_TRUE(winsockWorks());
    // Taking and giving back a start of our own must leave the link's start in place.
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    WSACleanup();
    EXPECT_TRUE(winsockWorks()) << "StartSockets never cleans up";
#endif
    CameraLink link;
    EXPECT_TRUE(link.Open());
}

TEST(ConnectOnEveryPlatform, GivesUpOnACameraThatNeverAnswers)
{
    StartSockets();
    const std::size_t seed = std::hash<std::string>{}("ConnectOnEveryPlatform");
    std::string address;
    std::unique_ptr<DeafListener> listener;
    for (int attempt = 0; attempt < 20 && !(listener && listener->listening()); ++attempt) {
        address = test::loopbackAddressFor(seed, attempt);
        listener = std::make_unique<DeafListener>(address);
    }
    ASSERT_TRUE(listener->listening());
    std::vector<net::SocketHandle> queued;
    bool full = false;
    for (int i = 0; i < 16 && !full; ++i) {
        queued.push_back(net::openTcp());
        full = !net::connectWithin(queued.back(), listener->ip(), kCameraPort, 200);
    }

    CameraLink link;
    link.connectTimeout = 300ms;
    ASSERT_TRUE(link.Open());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.Connect(address));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "the system's own limit is minutes";
    EXPECT_EQ(link.connected, 0);
    EXPECT_TRUE(full) << "the queue never filled, so this only saw a refusal";

    for (const net::SocketHandle s : queued) {
        net::closeSocket(s);
    }
}

// A peer that sends without end, as fast as it can: what is left of an earlier request must be
// let go of (discardQueued) while the stream still flows, not once it pauses, which it may never
// do. The sender gives up after 10 s; discardQueued must have returned long before that.
TEST(DiscardOnEveryPlatform, LetsGoOfAStreamThatNeverPauses)
{
    StartSockets();
    std::uint32_t loopback = 0;
    ASSERT_TRUE(net::parseIpv4("127.0.0.1", loopback));
    const net::SocketHandle listener = net::listenOn(loopback, 0);
    ASSERT_TRUE(net::isValid(listener));
    const net::SocketHandle client = net::openTcp();
    ASSERT_TRUE(net::connectWithin(client, loopback, net::boundPort(listener), 2000));
    ASSERT_EQ(net::waitReadable(listener, 2000), net::WaitResult::Readable);
    const net::SocketHandle peer = net::acceptConnection(listener, 0);
    ASSERT_TRUE(net::isValid(peer));

    std::atomic<bool> stop{false};
    std::atomic<bool> gaveUp{false};
    std::thread sender([&] {
        const std::vector<std::uint8_t> chunk(1 << 16, 0x5A);
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!stop) {
            if (std::chrono::steady_clock::now() > until) {
                gaveUp = true;
                return;
            }
            if (net::sendSome(peer, chunk.data(), chunk.size()) < 0) {
                return;
            }
        }
    });
    // Some of the stream queued before the discard starts.
    EXPECT_EQ(net::waitReadable(client, 2000), net::WaitResult::Readable);
    net::discardQueued(client);
    EXPECT_FALSE(gaveUp) << "the discard ended only when the stream did";
    stop = true;
    net::shutdownBoth(client);
    net::closeSocket(client);
    sender.join();
    net::closeSocket(peer);
    net::closeSocket(listener);
}

struct GbkPairRow
{
    std::uint8_t lead;
    std::uint8_t trail;
    char16_t expected; // 0: not a GBK character
};

std::string pairName(const ::testing::TestParamInfo<GbkPairRow>& info)
{
    static const char digits[] = "0123456789ABCDEF";
    const GbkPairRow& r = info.param;
    return {digits[r.lead >> 4], digits[r.lead & 15], digits[r.trail >> 4], digits[r.trail & 15]};
}

class GbkPair : public ::testing::TestWithParam<GbkPairRow>
{
};

TEST_P(GbkPair, DecodesAlikeOnEveryPlatform)
{
    const GbkPairRow row = GetParam();
    char16_t c = 0;
    const bool decoded = codepage::decodeGbkPair(row.lead, row.trail, c);
    if (row.expected == 0) {
        EXPECT_FALSE(decoded) << "got U+" << std::hex << static_cast<int>(c);
    } else {
        ASSERT_TRUE(decoded);
        EXPECT_EQ(c, row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, GbkPair,
                         ::testing::Values(GbkPairRow{0x81, 0x40, u'\u4E02'}, // first of the extension
                                           GbkPairRow{0xA1, 0xA1, u'\u3000'}, // ideographic space
                                           GbkPairRow{0xA3, 0xA1, u'\uFF01'}, // full-width '!'
                                           GbkPairRow{0xB9, 0xAB, u'\u516C'}, // the first of "公安局"
                                           GbkPairRow{0xFE, 0x4F, u'\uFA29'}, // last row
                                           GbkPairRow{0xAA, 0xA1, 0},         // user-defined area 1
                                           GbkPairRow{0xF8, 0xA1, 0},         // user-defined area 2
                                           GbkPairRow{0xA1, 0x40, 0},         // user-defined area 3
                                           GbkPairRow{0x80, 0x40, 0}),        // 0x80 leads nothing
                         pairName);

TEST(LinkTextDecoding, UserDefinedPairsReadAsSingleBytes)
{
    const std::uint8_t field[] = {'C', 0xAA, 0xA1, ' ', 0xF8, 0xA1, 0};
    EXPECT_EQ(decodeLinkText(field, sizeof field), u"C\u00AA\u00A1 \u00F8\u00A1");
}

} // namespace
