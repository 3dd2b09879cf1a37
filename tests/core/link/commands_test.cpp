// The commands built on the link, against the simulated camera: the login check, password
// change, clock synchronisation and read-modify-write of records.
#include "link/commands.h"
#include "link/local_clock.h"
#include "tests/support/camera_on_loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace orv;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

class CommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StartSockets();
        cam = test::startCameraOnLoopback();
        ASSERT_TRUE(cam);
        link.replyTimeout = 400ms;
        ASSERT_TRUE(link.Open());
        ASSERT_TRUE(link.Connect(cam.address));
    }

    void TearDown() override { setLocalClock({}); }

    void setAccounts(std::uint8_t count, std::initializer_list<std::pair<std::size_t, const char16_t*>> entries)
    {
        UserTable table;
        table.setNumber(UserTable::count, count);
        for (const auto& [index, name] : entries) {
            table.setText(UserTable::name(index), name);
            table.setText(UserTable::password(index), u"Secret1");
        }
        cam->setAccounts(table);
    }

    Bytes lastFrame(std::size_t expectedCount)
    {
        EXPECT_TRUE(cam->waitForFrames(expectedCount, 2s));
        const auto frames = cam->receivedFrames();
        return frames.empty() ? Bytes{} : frames.back().bytes;
    }

    test::LoopbackCamera cam;
    CameraLink link;
};

TEST_F(CommandsTest, LoginMatchesTheDefaultAccount)
{
    EXPECT_EQ(CheckLogin(link, u"admin", u"wrenq"), 1);
    EXPECT_EQ(link.loggedIn, 1);
}

TEST_F(CommandsTest, LoginIsRefused)
{
    struct Row
    {
        const char* why;
        std::uint8_t count;
        std::size_t matchAt;
        const char16_t* password;
    };
    const Row rows[] = {
        {"count 0 rejects even a correct login", 0, 0, u"Secret1"},
        {"a match past count does not count", 2, 2, u"Secret1"},
        {"passwords compare with letter case", 1, 0, u"secret1"},
        {"a longer password is another password", 1, 0, u"Secret12"},
    };
    for (const auto& row : rows) {
        setAccounts(row.count, {{row.matchAt, u"officer"}});
        link.loggedIn = 1;
        EXPECT_EQ(CheckLogin(link, u"officer", row.password), 0) << row.why;
        EXPECT_EQ(link.loggedIn, 0) << row.why;
    }
}

TEST_F(CommandsTest, LoginLooksAtTenEntriesAtMost)
{
    setAccounts(200, {{9, u"tenth"}});
    EXPECT_EQ(CheckLogin(link, u"tenth", u"Secret1"), 1);
}

TEST_F(CommandsTest, LoginWithoutTextAsksNothing)
{
    link.loggedIn = 1;
    EXPECT_EQ(CheckLogin(link, std::nullopt, u"wrenq"), 0);
    EXPECT_EQ(link.loggedIn, 1) << "untouched";
    EXPECT_TRUE(cam->receivedFrames().empty());
}

TEST_F(CommandsTest, LoginFailsWhenTheTableDoesNotCome)
{
    cam->stayQuiet(true);
    EXPECT_EQ(CheckLogin(link, u"admin", u"wrenq"), 0);
    EXPECT_EQ(link.loggedIn, 0);
}

TEST_F(CommandsTest, ChangePasswordSendsTheRecord)
{
    EXPECT_EQ(ChangePassword(link, u"admin", u""), 0);
    const Bytes frame = lastFrame(1);
    ASSERT_EQ(frame.size(), 12u + 34u);
    EXPECT_EQ(frame[10], 0x0F);
    EXPECT_EQ(frame[11], 0x03);
    EXPECT_EQ(frame[12], 2) << "operation";
    EXPECT_EQ(Bytes(frame.begin() + 13, frame.begin() + 18), (Bytes{'a', 'd', 'm', 'i', 'n'}));
    EXPECT_EQ(Bytes(frame.begin() + 29, frame.end()), Bytes(17, 0)) << "empty password: 16 zero bytes, then zero";

    EXPECT_EQ(ChangePassword(link, u"admin", u"n3w"), 0);
    lastFrame(2);
    EXPECT_EQ(CheckLogin(link, u"admin", u"n3w"), 1) << "the camera took the new password";
}

TEST_F(CommandsTest, SyncClockWritesTheComputersClock)
{
    TimeRecord camera;
    camera.setNumber(TimeRecord::timeZone, 8);
    camera.setNumber(TimeRecord::summerTime, 1);
    camera.bytes[40] = 0x5A; // a byte nobody interprets
    cam->setTimeRecord(camera);
    setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 9}; });

    EXPECT_EQ(SyncClock(link), 0);
    const Bytes frame = lastFrame(2);
    ASSERT_EQ(frame.size(), 12u + 84u);
    EXPECT_EQ(frame[10], 0x0D);
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 18), (Bytes{0x09, 0x07, 0x0E, 0x05, 0x03, 0x7E}));
    EXPECT_EQ(frame[12 + 71], 8) << "time zone as read";
    EXPECT_EQ(frame[12 + 72], 1) << "summer time as read";
    EXPECT_EQ(frame[12 + 40], 0x5A);
}

TEST_F(CommandsTest, SyncClockSendsNothingWithoutTheCamerasTime)
{
    cam->stayQuiet(true);
    EXPECT_EQ(SyncClock(link), -1);
    cam->stayQuiet(false);
    EXPECT_EQ(FormatCard(link), 0);
    const Bytes frame = lastFrame(2);
    const auto frames = cam->receivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].command, 780);
    EXPECT_EQ(frames[1].command, 1544) << "no SetTime between them";
}

TEST_F(CommandsTest, ReadModifyWriteKeepsEveryOtherByte)
{
    Bytes stored = cam->configRecord(ConfigType::Wifi);
    ASSERT_EQ(stored.size(), WifiRecord::kSize);
    for (std::size_t i = 65; i < stored.size(); ++i) {
        stored[i] = static_cast<std::uint8_t>(i);
    }
    cam->setConfigRecord(ConfigType::Wifi, stored);

    WifiRecord wifi;
    const auto outcome = ReadModifyWrite(link, wifi, [](WifiRecord& r) { r.setText(WifiRecord::ssid, u"Patrol"); });
    EXPECT_EQ(outcome, WriteOutcome::Sent);
    const Bytes frame = lastFrame(2);
    Bytes expected = stored;
    WifiRecord edited;
    std::copy(stored.begin(), stored.end(), edited.bytes.begin());
    edited.setText(WifiRecord::ssid, u"Patrol");
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.end()), Bytes(edited.bytes.begin(), edited.bytes.end()));
}

TEST_F(CommandsTest, ReadModifyWriteSendsNothingWhenTheReadFails)
{
    cam->wrongSizeNextReply(-1);
    Net4gRecord net;
    bool edited = false;
    EXPECT_EQ(ReadModifyWrite(link, net, [&](Net4gRecord&) { edited = true; }), WriteOutcome::ReadFailed);
    EXPECT_FALSE(edited);
    EXPECT_EQ(cam->receivedFrames().size(), 1u);
}

TEST_F(CommandsTest, ChineseOfficerNameRoundTrips)
{
    DeviceRecord device;
    ASSERT_EQ(ReadModifyWrite(link, device, [](DeviceRecord& r) { r.setText(DeviceRecord::policeName, u"张伟"); }),
              WriteOutcome::Sent);
    lastFrame(2);
    const Bytes stored = cam->configRecord(ConfigType::Device);
    EXPECT_EQ(Bytes(stored.begin() + 33, stored.begin() + 38), (Bytes{0xD5, 0xC5, 0xCE, 0xB0, 0x00})) << "GBK";

    DeviceRecord back;
    ASSERT_EQ(GetConfig(link, back), 0);
    EXPECT_EQ(back.text(DeviceRecord::policeName), u"张伟");
}

TEST_F(CommandsTest, FullWidthPasswordReadsBackWithoutRunningOn)
{
    const std::u16string full = u"0123456789abcdef0123456789ABCDEF";
    WifiRecord wifi;
    ASSERT_EQ(ReadModifyWrite(link, wifi, [&](WifiRecord& r) { r.setText(WifiRecord::wifiPassword, full); }),
              WriteOutcome::Sent);
    lastFrame(2);
    WifiRecord back;
    ASSERT_EQ(GetConfig(link, back), 0);
    EXPECT_EQ(back.bytes[64], 'F') << "the field ends without a terminator";
    EXPECT_EQ(back.text(WifiRecord::wifiPassword), full);
}

TEST_F(CommandsTest, ProxyAndTimeRoundTrip)
{
    ProxyRecord proxy;
    proxy.setNumber(ProxyRecord::proxyEnable, 1);
    proxy.setText(ProxyRecord::proxyAddress, u"127.0.0.9");
    proxy.setNumber(ProxyRecord::proxyPort, 8080);
    EXPECT_EQ(SetProxy(link, proxy), 0);
    lastFrame(1);
    ProxyRecord back;
    ASSERT_EQ(GetProxy(link, back), 0);
    EXPECT_EQ(back, proxy);
}

} // namespace
