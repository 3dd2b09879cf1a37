// The simulated camera as a client on the wire sees it: replies, state changes, hostile input.

#include "tests/core/camsim/camera_fixture.h"

#include "link/local_clock.h"
#include "tools/camsim/camera_state.h"

#include <random>

namespace orv::camsim::test {
namespace {

class SimulatedCameraTest : public CameraFixture
{
protected:
    void TearDown() override { setLocalClock({}); }

    Bytes getConfig(std::uint8_t type, std::size_t size)
    {
        const Bytes reply = exchange(frame(Command::GetConfig, selector(type)), size);
        return reply.size() == kFrameHeaderSize + size ? Bytes(reply.begin() + kFrameHeaderSize, reply.end()) : Bytes{};
    }

    // Every request before this one has been dealt with once its reply is back.
    void expectServed()
    {
        const Bytes reply = exchange(frame(Command::GetUsers), UserTable::kSize);
        EXPECT_EQ(reply.size(), kFrameHeaderSize + UserTable::kSize);
    }
};

Bytes randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(gen());
    }
    return out;
}

struct ReadRow
{
    Command command;
    int type; // selector type for GetConfig, -1 for none
    std::size_t size;
};

TEST_F(SimulatedCameraTest, AnswersEveryReadWithAFrameOfTheRightSize)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(1));
    const ReadRow rows[] = {
        {Command::GetTime, -1, 84},       {Command::GetUsers, -1, 331},    {Command::GetProxy, -1, 72},
        {Command::GetConfig, 0, 287},     {Command::GetConfig, 1, 272},    {Command::GetConfig, 2, 191},
        {Command::GetConfig, 4, 228},     {Command::GetConfig, 5, 255},    {Command::GetConfig, 6, 198},
    };
    for (const ReadRow& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.command) * 10 + row.type);
        const Bytes request =
            row.type < 0 ? frame(row.command) : frame(row.command, selector(static_cast<std::uint8_t>(row.type)));
        const Bytes reply = exchange(request, row.size);
        ASSERT_EQ(reply.size(), kFrameHeaderSize + row.size);
        const FrameHeader header = readFrameHeader(reply.data());
        EXPECT_TRUE(header.magicOk);
        EXPECT_EQ(header.fixedWord, 1);
        EXPECT_EQ(header.length, row.size + 2);
        EXPECT_EQ(header.command, static_cast<std::uint16_t>(row.command));
        if (row.type >= 0) {
            EXPECT_EQ(reply[kFrameHeaderSize], row.type) << "a record starts with its type";
        }
    }
}

TEST_F(SimulatedCameraTest, DefaultsArePlausible)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(2));
    const UserTable users = camera->accounts();
    EXPECT_EQ(users.number(UserTable::count), 1);
    EXPECT_EQ(users.text(UserTable::name(0)), u"admin");
    EXPECT_EQ(users.text(UserTable::password(0)), u"wrenq");

    DeviceRecord device;
    const Bytes stored = camera->configRecord(ConfigType::Device);
    ASSERT_EQ(stored.size(), DeviceRecord::kSize);
    std::copy(stored.begin(), stored.end(), device.bytes.begin());
    const std::u16string id = device.text(DeviceRecord::deviceId);
    ASSERT_EQ(id.size(), 12u);
    EXPECT_EQ(id.substr(0, 3), u"ORV");
    EXPECT_TRUE(std::all_of(id.begin() + 3, id.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }));

    const Bytes function = camera->configRecord(ConfigType::Function);
    EXPECT_EQ(function[FunctionRecord::platformChoice.offset], 0);
    EXPECT_EQ(camera->timeRecord().number(TimeRecord::timeZone), 20);
    EXPECT_EQ(camera->proxyRecord().number(ProxyRecord::proxyEnable), 0);
}

TEST_F(SimulatedCameraTest, GivesNoReplyToWhatItDoesNotKnow)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(3));
    const Bytes requests[] = {
        frame(Command::GetConfig, selector(3)),  frame(Command::GetConfig, selector(7)),
        frame(Command::GetConfig, selector(200)), frame(Command::GetConfig, Bytes{2}),
        frame(Command::GetTime, Bytes{1, 2}),     frame(999),
        frame(Command::SetConfig),                frame(Command::SetConfig, Bytes{3, 1, 2}),
        frame(Command::SetConfig, Bytes{7, 7}),   frame(Command::ChangePassword, Bytes(33)),
        frame(Command::FactoryReset, Bytes{1, 0, 0, 0}),
    };
    for (const Bytes& request : requests) {
        ASSERT_TRUE(client.send(request));
    }
    // The first bytes back must be the answer to this request: nothing came for the others.
    const Bytes reply = exchange(frame(Command::GetProxy), ProxyRecord::kSize);
    ASSERT_EQ(reply.size(), kFrameHeaderSize + ProxyRecord::kSize);
    EXPECT_EQ(readFrameHeader(reply.data()).command, static_cast<std::uint16_t>(Command::GetProxy));
    EXPECT_EQ(camera->receivedFrames().size(), std::size(requests) + 1);
    EXPECT_FALSE(camera->inUDiskMode());
    EXPECT_EQ(camera->factoryResetCount(), 0);
    EXPECT_TRUE(log.contains("unknown command 999"));
}

TEST_F(SimulatedCameraTest, RequestSplitAtAnyByteIsStillAnswered)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(4));
    const Bytes request = frame(Command::GetConfig, selector(2));
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        SCOPED_TRACE(cut);
        ASSERT_TRUE(client.send(Bytes(request.begin(), request.begin() + static_cast<long>(cut))));
        ASSERT_TRUE(client.send(Bytes(request.begin() + static_cast<long>(cut), request.end())));
        EXPECT_EQ(client.read(kFrameHeaderSize + WifiRecord::kSize).size(), kFrameHeaderSize + WifiRecord::kSize);
    }
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.size(), request.size() - 1);
    EXPECT_EQ(frames.back().bytes, request);
}

TEST_F(SimulatedCameraTest, SkipsGarbageAndBadMagicBeforeAFrame)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(5));
    Bytes stream{0x00, 0x9A, 0x42, 0x11, 0x9A, 0x42, 0xEC};          // junk and broken starts of the magic
    const Bytes badMagic{0x9A, 0x42, 0xEC, 0x76, 1, 0, 2, 0, 0, 0, 0x0E, 0x03}; // GetUsers, one bit off
    stream.insert(stream.end(), badMagic.begin(), badMagic.end());
    const Bytes request = frame(Command::GetTime);
    stream.insert(stream.end(), request.begin(), request.end());
    const Bytes reply = exchange(stream, TimeRecord::kSize);
    ASSERT_EQ(reply.size(), kFrameHeaderSize + TimeRecord::kSize);
    EXPECT_EQ(readFrameHeader(reply.data()).command, static_cast<std::uint16_t>(Command::GetTime));
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, request);
}

TEST_F(SimulatedCameraTest, ImpossibleLengthDropsOnlyThatConnection)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(6));
    for (const std::uint32_t length : {0xFFFFFFFFu, 0u, 1u, 20471u, 0x80000000u}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(client.connect(address));
        Bytes header = frame(Command::GetUsers);
        putLe32(header.data() + 6, length);
        ASSERT_TRUE(client.send(header));
        EXPECT_TRUE(client.readUntilClosed().empty());
        EXPECT_TRUE(client.closedByCamera());
    }
    ASSERT_TRUE(client.connect(address));
    expectServed();
}

TEST_F(SimulatedCameraTest, LargestFrameIsTakenWhole)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(7));
    ASSERT_TRUE(client.send(frame(4242, Bytes(kMaxPayloadSize, 0x9A)))); // payload full of magic starts
    expectServed();
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes.size(), kFrameBufferSize);
}

TEST_F(SimulatedCameraTest, VanishingClientsAndNoiseDoNotStopIt)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(8));
    const Bytes request = frame(Command::GetConfig, selector(0));
    ASSERT_TRUE(client.send(Bytes(request.begin(), request.begin() + 7))); // half a frame, then gone
    client.close();

    // Noise with the magic sprinkled in, so that headers with random lengths turn up too.
    std::mt19937 gen(20260305);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(client.connect(address));
        Bytes noise = randomBytes(4096, gen());
        for (std::size_t at = gen() % 64; at + 4 < noise.size(); at += 1 + gen() % 300) {
            std::copy(kFrameMagic.begin(), kFrameMagic.end(), noise.begin() + static_cast<long>(at));
        }
        client.send(noise);
        client.close();
    }
    ASSERT_TRUE(client.connect(address));
    expectServed();
}

TEST_F(SimulatedCameraTest, NewConnectionReplacesTheOpenOne)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(9));
    RawClient second;
    ASSERT_TRUE(second.connect(address));
    ASSERT_TRUE(second.send(frame(Command::GetProxy)));
    EXPECT_EQ(second.read(kFrameHeaderSize + ProxyRecord::kSize).size(), kFrameHeaderSize + ProxyRecord::kSize);
    EXPECT_TRUE(client.readUntilClosed().empty());
    EXPECT_TRUE(client.closedByCamera());
    EXPECT_EQ(camera->connectionCount(), 2);
}

TEST_F(SimulatedCameraTest, SetThenGetKeepsEveryByte)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(10));
    std::uint32_t seed = 1;
    for (const ConfigType type : kConfigTypes) {
        SCOPED_TRACE(static_cast<int>(type));
        Bytes record = randomBytes(configRecordSize(type), seed++);
        record[0] = static_cast<std::uint8_t>(type);
        ASSERT_TRUE(client.send(frame(Command::SetConfig, record)));
        EXPECT_EQ(getConfig(static_cast<std::uint8_t>(type), record.size()), record);
        EXPECT_EQ(camera->configRecord(type), record);
    }
    const Bytes proxy = randomBytes(ProxyRecord::kSize, seed++);
    ASSERT_TRUE(client.send(frame(Command::SetProxy, proxy)));
    const Bytes reply = exchange(frame(Command::GetProxy), ProxyRecord::kSize);
    EXPECT_EQ(Bytes(reply.begin() + kFrameHeaderSize, reply.end()), proxy);
}

TEST_F(SimulatedCameraTest, SetConfigOfTheWrongSizeChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(11));
    const Bytes before = camera->configRecord(ConfigType::Wifi);
    for (const std::size_t size : {WifiRecord::kSize - 1, WifiRecord::kSize + 1, std::size_t{1}}) {
        Bytes record(size, 0x41);
        record[0] = static_cast<std::uint8_t>(ConfigType::Wifi);
        ASSERT_TRUE(client.send(frame(Command::SetConfig, record)));
    }
    expectServed();
    EXPECT_EQ(camera->configRecord(ConfigType::Wifi), before);
}

TEST_F(SimulatedCameraTest, SetTimeMovesTheClockAndKeepsTheRest)
{
    setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 9}; });
    ASSERT_NO_FATAL_FAILURE(startCamera(12));
    TimeRecord sent;
    const Bytes noise = randomBytes(TimeRecord::kSize, 7);
    std::copy(noise.begin(), noise.end(), sent.bytes.begin());
    const std::uint8_t clock[] = {5, 4, 3, 28, 2, 127}; // 2027-02-28 03:04:05, a year and days ahead
    std::copy(std::begin(clock), std::end(clock), sent.bytes.begin());
    ASSERT_TRUE(client.send(frame(Command::SetTime, bytesOf(sent))));

    Bytes reply = exchange(frame(Command::GetTime), TimeRecord::kSize);
    ASSERT_EQ(reply.size(), kFrameHeaderSize + TimeRecord::kSize);
    EXPECT_EQ(Bytes(reply.begin() + kFrameHeaderSize, reply.end()), bytesOf(sent)) << "the same instant";

    // The camera's clock runs with the computer's, across the end of the month.
    setLocalClock([] { return LocalDateTime{2026, 3, 6, 14, 7, 9}; });
    reply = exchange(frame(Command::GetTime), TimeRecord::kSize);
    ASSERT_EQ(reply.size(), kFrameHeaderSize + TimeRecord::kSize);
    const Bytes expectedClock{5, 4, 3, 1, 3, 127};
    EXPECT_EQ(Bytes(reply.begin() + kFrameHeaderSize, reply.begin() + kFrameHeaderSize + 6), expectedClock);
    EXPECT_EQ(Bytes(reply.begin() + kFrameHeaderSize + 6, reply.end()), Bytes(sent.bytes.begin() + 6, sent.bytes.end()));

    // A date that does not exist leaves the clock alone but keeps zone and summer time.
    TimeRecord bad = sent;
    bad.bytes[3] = 30; // 30 February
    bad.setNumber(TimeRecord::timeZone, 3);
    ASSERT_TRUE(client.send(frame(Command::SetTime, bytesOf(bad))));
    expectServed();
    const TimeRecord now = camera->timeRecord();
    EXPECT_EQ(Bytes(now.bytes.begin(), now.bytes.begin() + 6), expectedClock);
    EXPECT_EQ(now.number(TimeRecord::timeZone), 3);
}

TEST_F(SimulatedCameraTest, ChangePasswordChangesOnlyThatAccount)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(13));
    UserTable table;
    table.setNumber(UserTable::count, 2);
    table.setText(UserTable::name(0), u"admin");
    table.setText(UserTable::password(0), u"wrenq");
    table.setText(UserTable::name(1), u"guest");
    table.setText(UserTable::password(1), u"guest16charsxxxx");
    table.setText(UserTable::name(2), u"ghost"); // beyond count: not an account
    camera->setAccounts(table);

    auto change = [&](std::u16string_view name, std::u16string_view password, std::uint8_t operation = 2) {
        PasswordChange c;
        c.setNumber(PasswordChange::operation, operation);
        c.setText(PasswordChange::name, name);
        c.setText(PasswordChange::password, password);
        ASSERT_TRUE(client.send(frame(Command::ChangePassword, bytesOf(c))));
    };
    change(u"guest", u"new");
    change(u"ghost", u"x");
    change(u"nobody", u"x");
    change(u"admin", u"sneaky", 1);
    expectServed();

    UserTable expected = table;
    std::fill_n(expected.data() + UserTable::password(1).offset, UserTable::kPasswordWidth, 0);
    expected.setText(UserTable::password(1), u"new");
    EXPECT_EQ(camera->accounts(), expected);
    EXPECT_TRUE(log.contains("unknown account \"nobody\""));
}

TEST_F(SimulatedCameraTest, FactoryResetRestoresEveryDefaultButTheDeviceId)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(14));
    Bytes device = camera->configRecord(ConfigType::Device);
    const UserTable users = camera->accounts();
    const ProxyRecord proxy = camera->proxyRecord();
    Bytes changed(DeviceRecord::kSize, 0x33);
    changed[0] = 0;
    const auto id = static_cast<long>(DeviceRecord::deviceId.offset);
    const auto idEnd = id + static_cast<long>(DeviceRecord::deviceId.width);
    std::copy(changed.begin() + id, changed.begin() + idEnd, device.begin() + id);
    ASSERT_TRUE(client.send(frame(Command::SetConfig, changed)));
    ASSERT_TRUE(client.send(frame(Command::SetProxy, Bytes(ProxyRecord::kSize, 1))));
    PasswordChange c;
    c.setNumber(PasswordChange::operation, 2);
    c.setText(PasswordChange::name, u"admin");
    ASSERT_TRUE(client.send(frame(Command::ChangePassword, bytesOf(c))));
    expectServed();
    ASSERT_NE(camera->configRecord(ConfigType::Device), device);

    ASSERT_TRUE(client.send(frame(Command::FactoryReset, Bytes{2, 0, 0, 0})));
    expectServed();
    EXPECT_EQ(camera->configRecord(ConfigType::Device), device);
    EXPECT_EQ(camera->accounts(), users);
    EXPECT_EQ(camera->proxyRecord(), proxy);
    EXPECT_EQ(camera->factoryResetCount(), 1);
}

TEST_F(SimulatedCameraTest, FormatCardIsCountedAndLogged)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(15));
    ASSERT_TRUE(client.send(frame(Command::FormatCard)));
    ASSERT_TRUE(client.send(frame(Command::FormatCard)));
    expectServed();
    EXPECT_EQ(camera->formatCount(), 2);
    EXPECT_TRUE(log.contains("SD card formatted"));
}

TEST_F(SimulatedCameraTest, UDiskModeLeavesTheNetworkForThePause)
{
    CameraOptions options;
    options.uDiskPause = 300ms;
    ASSERT_NO_FATAL_FAILURE(startCamera(16, options));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send(frame(Command::SetConfig, Bytes{7})));
    EXPECT_TRUE(client.readUntilClosed().empty());
    EXPECT_TRUE(client.closedByCamera());
    EXPECT_TRUE(camera->inUDiskMode());

    RawClient another;
    EXPECT_FALSE(another.connect(address)) << "refused while away";

    ASSERT_TRUE(camera->waitUntilServing(5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, options.uDiskPause);
    EXPECT_FALSE(camera->inUDiskMode());
    ASSERT_TRUE(client.connect(address));
    expectServed();
}

} // namespace
} // namespace orv::camsim::test
