// The faults the simulated camera puts on for the console's tests.

#include "tests/core/camsim/camera_fixture.h"

namespace orv::camsim::test {
namespace {

constexpr std::size_t kUsersReply = kFrameHeaderSize + UserTable::kSize;

class MisbehaviourTest : public CameraFixture
{
protected:
    // Drops the connection after one more request and returns all that came before the end, so
    // that a test sees exactly what the camera sent, nothing left in flight.
    Bytes restOfStream()
    {
        camera->closeAfterRequest();
        EXPECT_TRUE(client.send(frame(Command::GetUsers)));
        Bytes rest = client.readUntilClosed();
        EXPECT_TRUE(client.closedByCamera());
        return rest;
    }
};

TEST_F(MisbehaviourTest, ReplyDelayHoldsEveryReplyUntilReset)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(20));
    camera->setReplyDelay(150ms);
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    }
    camera->setReplyDelay(0ms);
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
}

TEST_F(MisbehaviourTest, SplitReplyArrivesInThePiecesAsked)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(21));
    camera->splitNextReply({5, 0, 100}, 150ms);
    ASSERT_TRUE(client.send(frame(Command::GetUsers)));
    Bytes reply;
    const auto chunks = client.readChunks(kUsersReply, 3s, &reply);
    const std::vector<std::size_t> expected{5, 100, kUsersReply - 105};
    EXPECT_EQ(chunks, expected);
    EXPECT_EQ(Bytes(reply.begin() + kFrameHeaderSize, reply.end()), bytesOf(camera->accounts()));
    EXPECT_TRUE(restOfStream().empty()) << "the split applies to one reply";
}

TEST_F(MisbehaviourTest, PiecesLongerThanTheReplyAreCut)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(22));
    camera->splitNextReply({1000}, 10ms);
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    EXPECT_TRUE(restOfStream().empty());
}

TEST_F(MisbehaviourTest, ExtraBytesFollowTheNextReplyOnly)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(23));
    camera->sendExtraBytes(3);
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize + 3).size(), kUsersReply + 3);
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    EXPECT_TRUE(restOfStream().empty());
}

TEST_F(MisbehaviourTest, WrongSizeChangesTheNextReplyOnly)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(24));
    for (const long delta : {-1L, 2L, -1000L}) {
        SCOPED_TRACE(delta);
        camera->wrongSizeNextReply(delta);
        const std::size_t payload = static_cast<std::size_t>(std::max(0L, static_cast<long>(UserTable::kSize) + delta));
        const Bytes reply = exchange(frame(Command::GetUsers), payload);
        ASSERT_EQ(reply.size(), kFrameHeaderSize + payload);
        EXPECT_EQ(readFrameHeader(reply.data()).length, payload + 2);
        EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    }
    EXPECT_TRUE(restOfStream().empty());
}

TEST_F(MisbehaviourTest, CorruptHeaderSpoilsOnePartOfTheNextReplyOnly)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(28));
    struct Row { HeaderPart part; std::size_t offset, size; };
    for (const Row row : {Row{HeaderPart::Magic, 0, 4}, Row{HeaderPart::FixedWord, 4, 2}, Row{HeaderPart::Length, 6, 4},
                          Row{HeaderPart::Command, 10, 2}}) {
        SCOPED_TRACE(row.offset);
        const Bytes good = exchange(frame(Command::GetUsers), UserTable::kSize);
        camera->corruptNextReplyHeader(row.part);
        const Bytes bad = exchange(frame(Command::GetUsers), UserTable::kSize);
        ASSERT_EQ(bad.size(), good.size());
        for (std::size_t i = 0; i < good.size(); ++i) {
            const bool inPart = i >= row.offset && i < row.offset + row.size;
            EXPECT_EQ(bad[i], inPart ? static_cast<std::uint8_t>(good[i] ^ 0xFF) : good[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    EXPECT_TRUE(restOfStream().empty());
}

TEST_F(MisbehaviourTest, QuietCameraRecordsAndActsButDoesNotAnswer)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(25));
    camera->stayQuiet(true);
    ASSERT_TRUE(client.send(frame(Command::GetUsers)));
    ASSERT_TRUE(client.send(frame(Command::SetProxy, Bytes(ProxyRecord::kSize, 9))));
    ASSERT_TRUE(camera->waitForFrames(2, 3s));
    camera->stayQuiet(false);
    EXPECT_EQ(exchange(frame(Command::GetProxy), ProxyRecord::kSize).size(), kFrameHeaderSize + ProxyRecord::kSize);
    EXPECT_TRUE(restOfStream().empty());
    EXPECT_EQ(bytesOf(camera->proxyRecord()), Bytes(ProxyRecord::kSize, 9));
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].bytes, frame(Command::GetUsers));
    EXPECT_EQ(frames[1].command, static_cast<std::uint16_t>(Command::SetProxy));
}

TEST_F(MisbehaviourTest, QuietAfterASetOfOneRecordTakesItAndAnswersNothingMore)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(29));
    camera->stayQuietAfterSet(ConfigType::Device);
    Bytes wifi(WifiRecord::kSize, 0x41);
    wifi[0] = static_cast<std::uint8_t>(ConfigType::Wifi);
    ASSERT_TRUE(client.send(frame(Command::SetConfig, wifi)));
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply) << "another record's set";
    Bytes device(DeviceRecord::kSize, 0x42);
    device[0] = static_cast<std::uint8_t>(ConfigType::Device);
    ASSERT_TRUE(client.send(frame(Command::SetConfig, device)));
    ASSERT_TRUE(client.send(frame(Command::GetUsers)));
    ASSERT_TRUE(camera->waitForFrames(4, 3s));
    EXPECT_EQ(camera->configRecord(ConfigType::Device), device) << "the set is taken";
    camera->stayQuiet(false);
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    EXPECT_TRUE(restOfStream().empty()) << "the request made while quiet had no answer";
}

TEST_F(MisbehaviourTest, CloseAfterRequestDropsWithoutReplyOnce)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(26));
    EXPECT_TRUE(restOfStream().empty());
    ASSERT_TRUE(client.connect(address));
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply);
    EXPECT_EQ(camera->receivedFrames().size(), 2u);
}

TEST_F(MisbehaviourTest, RefusedConnectionsUntilReset)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(27));
    camera->refuseConnections(true);
    RawClient other;
    EXPECT_FALSE(other.connect(address));
    EXPECT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kUsersReply)
        << "the open connection goes on";
    camera->refuseConnections(false);
    ASSERT_TRUE(other.connect(address));
    ASSERT_TRUE(other.send(frame(Command::GetUsers)));
    EXPECT_EQ(other.read(kUsersReply).size(), kUsersReply);
}

} // namespace
} // namespace orv::camsim::test
