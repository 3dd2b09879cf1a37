// The device id a simulated camera reports: derived from its address unless given.

#include "tests/core/camsim/camera_fixture.h"

#include "tools/camsim/camera_state.h"

namespace orv::camsim::test {
namespace {

TEST(DeviceIdTest, DerivedFromTheLastTwoOctets)
{
    const std::pair<const char*, const char*> rows[] = {
        {"127.0.0.1", "ORV202600001"},   {"127.0.0.2", "ORV202600002"},     {"127.0.1.0", "ORV202600256"},
        {"127.0.10.80", "ORV202602640"}, {"127.5.255.255", "ORV202665535"},
    };
    for (const auto& [address, id] : rows) {
        std::uint32_t a = 0;
        ASSERT_TRUE(net::parseIpv4(address, a));
        EXPECT_EQ(deviceIdForAddress(a), id) << address;
    }
}

std::u16string idOnTheWire(const std::string& address)
{
    RawClient client;
    if (!client.connect(address) || !client.send(frame(Command::GetConfig, selector(0)))) {
        return u"(no connection)";
    }
    const Bytes reply = client.read(kFrameHeaderSize + DeviceRecord::kSize);
    if (reply.size() != kFrameHeaderSize + DeviceRecord::kSize) {
        return u"(no reply)";
    }
    DeviceRecord record;
    std::copy(reply.begin() + kFrameHeaderSize, reply.end(), record.bytes.begin());
    return record.text(DeviceRecord::deviceId);
}

TEST(DeviceIdTest, TwoCamerasOnTwoAddressesReportTwoIds)
{
    std::unique_ptr<SimulatedCamera> cameras[2];
    for (int i = 0; i < 2; ++i) {
        CameraOptions options;
        options.listenAddress = hostAddress(80 + i);
        options.log = [](const std::string&) {};
        cameras[i] = std::make_unique<SimulatedCamera>(options);
        std::string error;
        ASSERT_TRUE(cameras[i]->start(&error)) << error;
    }
    EXPECT_EQ(idOnTheWire(hostAddress(80)), u"ORV202602640");
    EXPECT_EQ(idOnTheWire(hostAddress(81)), u"ORV202602641");
    EXPECT_EQ(cameras[1]->deviceId(), "ORV202602641");
}

TEST(DeviceIdTest, GivenIdReplacesTheDerivedOneWithoutLeftovers)
{
    CameraOptions options;
    options.listenAddress = hostAddress(82);
    options.log = [](const std::string&) {};
    options.deviceId = "CAM-\xE7\xBD\x91"; // a GBK character: two bytes on the link
    SimulatedCamera camera(options);
    std::string error;
    ASSERT_TRUE(camera.start(&error)) << error;
    EXPECT_EQ(idOnTheWire(hostAddress(82)), u"CAM-\u7F51");
    const Bytes device = camera.configRecord(ConfigType::Device);
    const auto field = device.begin() + DeviceRecord::deviceId.offset;
    EXPECT_TRUE(std::all_of(field + 6, field + DeviceRecord::deviceId.width, [](std::uint8_t b) { return b == 0; }));
}

TEST(DeviceIdTest, IdThatDoesNotFitStopsTheStart)
{
    for (const std::string& id : {std::string(33, 'A'), std::string("\xF0\x9F\x93\xB7")}) {
        CameraOptions options;
        options.listenAddress = hostAddress(83);
        options.log = [](const std::string&) {};
        options.deviceId = id;
        SimulatedCamera camera(options);
        std::string error;
        EXPECT_FALSE(camera.start(&error));
        EXPECT_EQ(camera.lastStartFailure(), StartFailure::DeviceId);
        EXPECT_EQ(error.rfind("device id \"" + id + "\": ", 0), 0u) << error;
    }
}

} // namespace
} // namespace orv::camsim::test
