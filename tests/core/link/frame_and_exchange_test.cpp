// The link frame on the wire and the exchange rules: exact request bytes, reply sizes, replies
// in pieces, late replies, a camera that goes away.
#include "link/camera_link.h"
#include "link/commands.h"
#include "tests/support/camera_on_loopback.h"
#include "tests/support/misbehaving_cameras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace orv;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

class LinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StartSockets();
        ASSERT_EQ(socketsReady, 1);
        cam = test::startCameraOnLoopback();
        ASSERT_TRUE(cam);
        link.replyTimeout = 400ms;
        ASSERT_TRUE(link.Open());
        ASSERT_TRUE(link.Connect(cam.address));
    }

    void TearDown() override { socketsReady = 1; }

    // The frames the camera received, each as its bytes; waits for `count` of them.
    std::vector<Bytes> framesReceived(std::size_t count)
    {
        EXPECT_TRUE(cam->waitForFrames(count, 2s));
        std::vector<Bytes> frames;
        for (const auto& f : cam->receivedFrames()) {
            frames.push_back(f.bytes);
        }
        return frames;
    }

    test::LoopbackCamera cam;
    CameraLink link;
};

TEST_F(LinkTest, RequestFramesAreByteExact)
{
    FunctionRecord function;
    EXPECT_EQ(GetConfig(link, function), 0);
    UserTable users;
    EXPECT_EQ(GetUsers(link, users), 0);
    EXPECT_EQ(FormatCard(link), 0);
    EXPECT_EQ(FactoryReset(link), 0);
    EXPECT_EQ(RequestUDiskMode(link), 0);

    const auto frames = framesReceived(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], (Bytes{0x9A, 0x42, 0xEC, 0x75, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x80, 0x03, 0x06, 0x00,
                                0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[1], (Bytes{0x9A, 0x42, 0xEC, 0x75, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0E, 0x03}));
    EXPECT_EQ(frames[2], (Bytes{0x9A, 0x42, 0xEC, 0x75, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x06}));
    EXPECT_EQ(frames[3],
              (Bytes{0x9A, 0x42, 0xEC, 0x75, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x10, 0x03, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[4], (Bytes{0x9A, 0x42, 0xEC, 0x75, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x81, 0x03, 0x07}));
}

TEST_F(LinkTest, ReplyIsAcceptedOnlyAtItsExactSize)
{
    UserTable users;
    EXPECT_EQ(GetUsers(link, users), 0) << "343 bytes for 331 expected";

    cam->wrongSizeNextReply(-1);
    users.bytes.fill(0xAA);
    EXPECT_EQ(link.Exchange(782, users.data(), users.size()), -1) << "342 bytes";
    EXPECT_EQ(users.bytes[5], 0xAA) << "a failed exchange leaves the buffer alone";

    cam->wrongSizeNextReply(+1);
    EXPECT_EQ(GetUsers(link, users), -1) << "344 bytes";

    cam->sendExtraBytes(1);
    EXPECT_EQ(GetUsers(link, users), -1) << "reply plus a stray byte";

    EXPECT_EQ(GetUsers(link, users), 0) << "the link recovers for the next request";
    EXPECT_EQ(link.connected, 1);
}

// The link judges a reply by its size alone, as cameras in the field have always been read: a
// reply whose header is wrong in any part is still taken when its total size is right.
TEST_F(LinkTest, ReplyHeaderIsNotExamined)
{
    WifiRecord stored;
    stored.setText(WifiRecord::ssid, u"UNIT-7");
    cam->setConfigRecord(ConfigType::Wifi, Bytes(stored.bytes.begin(), stored.bytes.end()));
    for (const auto part : {camsim::HeaderPart::Magic, camsim::HeaderPart::FixedWord, camsim::HeaderPart::Length,
                            camsim::HeaderPart::Command}) {
        SCOPED_TRACE(static_cast<int>(part));
        cam->corruptNextReplyHeader(part);
        WifiRecord wifi;
        ASSERT_EQ(GetConfig(link, wifi), 0);
        EXPECT_EQ(wifi.text(WifiRecord::ssid), u"UNIT-7");
    }
    UserTable users;
    cam->corruptNextReplyHeader(camsim::HeaderPart::Length);
    EXPECT_EQ(GetUsers(link, users), 0);
    EXPECT_EQ(users.bytes, cam->accounts().bytes);
}

TEST_F(LinkTest, ReplyInPiecesIsAssembled)
{
    WifiRecord wifi;
    cam->splitNextReply({1, 11, 50}, 30ms);
    EXPECT_EQ(GetConfig(link, wifi), 0);
    EXPECT_EQ(wifi.bytes[0], 2);
    EXPECT_EQ(Bytes(wifi.bytes.begin(), wifi.bytes.end()), cam->configRecord(ConfigType::Wifi));

    cam->splitNextReply({5}, 30ms);
    TimeRecord time;
    EXPECT_EQ(GetTime(link, time), 0);
}

TEST_F(LinkTest, LateReplyNeverPassesForTheNextOne)
{
    WifiRecord old;
    old.setText(WifiRecord::ssid, u"OLD-NET");
    cam->setConfigRecord(ConfigType::Wifi, Bytes(old.bytes.begin(), old.bytes.end()));
    cam->setReplyDelay(link.replyTimeout + 200ms);

    WifiRecord wifi;
    EXPECT_EQ(GetConfig(link, wifi), -1);
    ASSERT_TRUE(link.WaitReadable()) << "the late reply arrives and stays queued";

    WifiRecord fresh;
    fresh.setText(WifiRecord::ssid, u"NEW-NET");
    cam->setConfigRecord(ConfigType::Wifi, Bytes(fresh.bytes.begin(), fresh.bytes.end()));
    cam->setReplyDelay(0ms);
    ASSERT_EQ(GetConfig(link, wifi), 0);
    EXPECT_EQ(wifi.text(WifiRecord::ssid), u"NEW-NET");
}

TEST_F(LinkTest, SilentCameraFailsWithinTheWindow)
{
    cam->stayQuiet(true);
    TimeRecord time;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetTime(link, time), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, link.replyTimeout - 20ms);
    EXPECT_EQ(link.connected, 1);
    EXPECT_EQ(link.loggedIn, 0);
}

TEST_F(LinkTest, ClosedConnectionNeitherCrashesNorHangs)
{
    cam->closeAfterRequest();
    TimeRecord time;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetTime(link, time), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, link.replyTimeout) << "a close is not a timeout";
    EXPECT_EQ(link.connected, 1) << "only a failed login closes the link";

    // The camera is gone: sooner or later a send must report it, never kill the process.
    int outcome = 0;
    for (int i = 0; i < 50 && outcome == 0; ++i) {
        outcome = FormatCard(link);
    }
    EXPECT_EQ(outcome, -1);
    EXPECT_EQ(GetTime(link, time), -1);
}

// Each way a camera's firmware may get a reply wrong fails the read, at the latest when the
// reply's window closes (a trickle too, a byte each quarter of the window: the window is for the
// whole reply), and leaves the camera able to answer the next connection.
TEST_F(LinkTest, EveryMisbehaviourFailsTheReadWithinTheWindow)
{
    for (const test::CameraFault& f : test::kCameraFaults) {
        SCOPED_TRACE(f.name);
        test::misbehave(*cam.camera, f.fault, 100ms);
        CameraLink bad;
        bad.replyTimeout = 400ms;
        ASSERT_TRUE(bad.Open());
        ASSERT_TRUE(bad.Connect(cam.address));
        const auto start = std::chrono::steady_clock::now();
        UserTable users;
        DeviceRecord device;
        const int login = GetUsers(bad, users);
        const int read = GetConfig(bad, device);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(login, 0) << "the login is answered";
        // The stream follows a whole reply, which may be taken before the stream's first bytes
        // come; the next exchange cannot wait for a stream that never runs dry.
        if (f.fault != camsim::ReplyFault::EndlessStream) {
            EXPECT_EQ(read, -1);
        }
        EXPECT_LT(took, bad.replyTimeout + 150ms);
        const auto again = std::chrono::steady_clock::now();
        EXPECT_EQ(GetConfig(bad, device), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - again, bad.replyTimeout + 150ms);
        bad.Close();

        cam->setReplyFault(camsim::ReplyFault::None);
        CameraLink good;
        ASSERT_TRUE(good.Open());
        ASSERT_TRUE(good.Connect(cam.address));
        EXPECT_EQ(GetConfig(good, device), 0) << "the camera answers a new connection";
        EXPECT_EQ(device.text(DeviceRecord::deviceId), cam->config<DeviceRecord>().text(DeviceRecord::deviceId));
    }
}

TEST_F(LinkTest, NothingMovesWhileSocketsAreNotReady)
{
    socketsReady = 0;
    EXPECT_EQ(FormatCard(link), -1) << "nothing was sent";
    TimeRecord time;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetTime(link, time), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "fails at once, no wait";
    EXPECT_FALSE(link.Open());
    EXPECT_TRUE(link.Connect(cam.address)) << "reports the earlier state without trying";

    socketsReady = 1;
    EXPECT_EQ(FactoryReset(link), 0);
    const auto frames = framesReceived(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][10], 0x10) << "the first frame the camera saw is the factory reset";
}

TEST(LinkLifecycle, ConnectWithoutSocketReportsEarlierState)
{
    StartSockets();
    CameraLink link;
    EXPECT_FALSE(link.Connect("127.0.0.1"));
    link.connected = 1;
    EXPECT_TRUE(link.Connect("127.0.0.1"));
}

TEST(LinkLifecycle, ConnectFailsWhereNothingListens)
{
    StartSockets();
    CameraLink link;
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Connect("127.0.39.254"));
    EXPECT_EQ(link.connected, 0);
    EXPECT_FALSE(link.Connect("not an address"));
    link.Close();
    EXPECT_EQ(link.socket, net::invalidSocket());
}

TEST(LinkLifecycle, ExchangeAndSendNeedAConnection)
{
    StartSockets();
    CameraLink link;
    TimeRecord time;
    EXPECT_EQ(GetTime(link, time), -1);
    EXPECT_EQ(SetTime(link, time), -1);
    EXPECT_FALSE(link.WaitReadable());
}

} // namespace
