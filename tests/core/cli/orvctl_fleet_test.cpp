// orvctl scan and provision --all on simulated cameras at addresses of their own: what reaches the
// camera, what is refused before anything is sent.
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>

namespace orv::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kSetup = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
    <wifi ssid="Unit Wifi" password="wifi-secret"/>
    <device deviceid="" policeid="SETUP" policename="Setup" companyid="U0" companyname="Unit"/>
</root>
)";

class OrvctlFleet : public OrvctlTest
{
protected:
    void SetUp() override
    {
        OrvctlTest::SetUp();
        second = startCameraOnLoopback();
        ASSERT_TRUE(second);
        std::vector<std::uint8_t> device = second->configRecord(ConfigType::Device);
        putText(device, DeviceRecord::deviceId, u"CAM-2");
        second->setConfigRecord(ConfigType::Device, device);
        device = camera->configRecord(ConfigType::Device);
        putText(device, DeviceRecord::deviceId, u"CAM-1");
        camera->setConfigRecord(ConfigType::Device, device);
        writeFile(folder / "setup.xml", kSetup);
    }

    OrvctlRun fleet(std::vector<std::string> args)
    {
        std::vector<std::string> all{"--timeout-ms", kTestTimeoutMs, "--address",
                                     camera.address, "--address",    second.address};
        all.insert(all.end(), args.begin(), args.end());
        return runOrvctlWith(all);
    }

    std::string path(const char* name) const { return (folder / name).string(); }

    LoopbackCamera second;
};

TEST_F(OrvctlFleet, ScanNamesEveryCameraByItsDeviceId)
{
    const OrvctlRun text = fleet({"scan"});
    EXPECT_EQ(text.code, 0) << text.err;
    EXPECT_THAT(text.out, HasSubstr(camera.address + "  device CAM-1  officer "));
    EXPECT_THAT(text.out, HasSubstr(second.address + "  device CAM-2  officer "));
    EXPECT_THAT(text.out, HasSubstr("2 cameras found of 2 looked at"));
    const OrvctlRun json = fleet({"--json", "scan"});
    EXPECT_THAT(json.out, HasSubstr("{\"where\":\"" + second.address + "\",\"interface\":null,\"address\":\"" +
                                    second.address + "\",\"usbAdapter\":false,\"deviceId\":\"CAM-2\""));
}

TEST_F(OrvctlFleet, ProvisionAllGivesEachCameraItsOfficerAndRecordsEach)
{
    writeFile(folder / "roster.csv", "device_id,police_id,police_name,company_id,company_name\nCAM-1,P1,One,U1,Unit\n");
    const OrvctlRun r =
        fleet({"--poll-ms", "20", "provision", path("setup.xml"), "--all", "--roster", path("roster.csv"),
               "--not-on-roster", "setup", "--inventory", path("inv.csv"), "--count", "2"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::ifstream in(folder / "inv.csv", std::ios::binary);
    const std::string inventory{std::istreambuf_iterator<char>(in), {}};
    EXPECT_THAT(inventory, HasSubstr("," + camera.address + ",CAM-1,P1,ok,\r\n"));
    EXPECT_THAT(inventory, HasSubstr("," + second.address + ",CAM-2,SETUP,ok,\r\n")) << "not on the roster";
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1, officer P1: ok"));
}

TEST_F(OrvctlFleet, ABadRosterOrAForeignInventoryStopsBeforeAnythingIsSent)
{
    writeFile(folder / "twice.csv", "device_id,police_id,police_name,company_id,company_name\n"
                                    "CAM-1,P1,One,U1,Unit\nCAM-1,P2,Two,U1,Unit\n");
    writeFile(folder / "single.csv", "time,device_id,officer_id,result\r\n");
    struct Row
    {
        std::vector<std::string> args;
        const char* message;
    };
    const Row rows[] = {
        {{"--roster", path("twice.csv"), "--inventory", path("new.csv")}, "line 3: "},
        {{"--inventory", path("single.csv")}, "its first line is not time,interface_or_address,"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"provision", path("setup.xml"), "--all", "--count", "2"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const OrvctlRun r = fleet(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_THAT(r.err, HasSubstr(row.message));
        EXPECT_THAT(r.err, HasSubstr("nothing was sent"));
    }
    EXPECT_EQ(camera->connectionCount() + second->connectionCount(), 0);
}

TEST(OrvctlFleetOptions, MisplacedOptionsAreUsageErrors)
{
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--all", "get", "wifi"}, "--all belongs to provision"},
        {{"--address", "127.0.0.9", "get", "wifi"}, "--interface and --address belong to scan"},
        {{"--address", "camera", "scan"}, "--address: \"camera\" is not an IPv4 address"},
        {{"--interface", "usb0", "--address", "127.0.0.9", "scan"}, "not both"},
        {{"--roster", "r.csv", "scan"}, "--roster and --not-on-roster belong to provision --all"},
        {{"--not-on-roster", "maybe", "scan"}, "--not-on-roster takes skip or setup"},
        {{"provision", "s.xml", "--all"}, "provision needs --inventory"},
        {{"scan", "extra"}, "scan: too many arguments"},
    };
    for (const auto& [args, message] : rows) {
        const OrvctlRun r = runOrvctlWith(args);
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_THAT(r.err, HasSubstr(message));
    }
}

} // namespace
} // namespace orv::test
