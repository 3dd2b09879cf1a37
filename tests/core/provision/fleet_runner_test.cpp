// The runner on several simulated cameras at once, each on a loopback address of its own: every
// camera gets its own officer from the roster, a camera that goes away fails alone, and Stop lets
// each camera finish its step and sends nothing more.
#include "fleet/roster.h"
#include "provision/fleet_runner.h"
#include "tests/core/cli/scratch_folder.h"
#include "tests/support/camera_on_loopback.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>
#include <map>

namespace orv::test {
namespace {

using provision::CameraProgress;
using provision::CameraResult;
using provision::CameraStep;
using provision::Group;
using ::testing::HasSubstr;

provision::GroupPlan groupOf(Group group, std::initializer_list<std::string_view> assignments)
{
    provision::GroupPlan plan{group, {}};
    for (const std::string_view text : assignments) {
        std::string error;
        const auto a = provision::parseAssignment(group, text, error);
        EXPECT_TRUE(a) << error;
        plan.assignments.push_back(*a);
    }
    return plan;
}

// Wifi and the device group: two frames each (read, then write back), so frame logs add up.
std::vector<provision::GroupPlan> unitPlan()
{
    return {groupOf(Group::Wifi, {"ssid=Unit Wifi", "wifiPassword=unit-secret"}),
            groupOf(Group::Device, {"policeId=SETUP-P", "policeName=Setup Name"})};
}

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FleetRunnerTest : public ::testing::Test
{
protected:
    // Cameras with the device ids given, each with the officer "OLD-<id>".
    void startCameras(std::initializer_list<const char16_t*> deviceIds)
    {
        for (const char16_t* id : deviceIds) {
            LoopbackCamera camera = startCameraOnLoopback();
            ASSERT_TRUE(camera);
            DeviceRecord device = camera->config<DeviceRecord>();
            device.setText(DeviceRecord::deviceId, id);
            device.setText(DeviceRecord::policeId, u"OLD-" + std::u16string(id));
            camera->setConfig(device);
            cameras.push_back(std::move(camera));
        }
    }

    std::u16string officerOf(std::size_t camera) const
    {
        return cameras[camera]->config<DeviceRecord>().text(DeviceRecord::policeId);
    }

    provision::FleetSettings settings()
    {
        provision::FleetSettings s;
        s.user = u"admin";
        s.password = u"wrenq";
        s.plan = unitPlan();
        s.timeout = std::chrono::milliseconds(1000);
        return s;
    }

    void run(provision::FleetSettings s, std::function<void(const CameraProgress&, provision::FleetRunner&)> hear = {})
    {
        std::string error;
        ASSERT_TRUE(inventory.open(folder / "inventory.csv", error)) << error;
        provision::FleetRunner* self = nullptr;
        provision::FleetRunner runner(std::move(s), &inventory, [&](const CameraProgress& p) {
            heard.push_back(p);
            if (hear) {
                hear(p, *self);
            }
        });
        self = &runner;
        for (const auto& camera : cameras) {
            fleet::Candidate c;
            c.address = camera.address;
            runner.add(c);
        }
        runner.wait();
        outcomes = runner.outcomes();
    }

    ScratchFolder folder;
    std::vector<LoopbackCamera> cameras;
    provision::FleetInventory inventory;
    std::vector<CameraProgress> heard;
    std::vector<CameraProgress> outcomes;
};

TEST_F(FleetRunnerTest, EachCameraGetsItsOfficerFromTheRosterAndEveryOutcomeIsRecorded)
{
    const auto roster = fleet::parseRoster("Police_Name,device_id,police_id,company_id,company_name\r\n"
                                           "Officer A,CAM-A,PA,U1,Unit One\r\n"
                                           "Officer B,CAM-B,PB,U1,Unit One\r\n");
    ASSERT_TRUE(roster.ok());
    struct Row
    {
        provision::NotOnRoster policy;
        std::u16string strangerOfficer; // what the camera not on the roster ends up with
        CameraResult strangerResult;
        const char* strangerRow;
    };
    const Row rows[] = {
        {provision::NotOnRoster::Skip, u"OLD-CAM-C", CameraResult::NotOnRoster,
         ",CAM-C,OLD-CAM-C,not on the roster,\r\n"},
        {provision::NotOnRoster::UseSetup, u"SETUP-P", CameraResult::Verified, ",CAM-C,SETUP-P,ok,\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.policy));
        cameras.clear();
        std::filesystem::remove(folder / "inventory.csv");
        startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
        auto s = settings();
        s.roster = &roster.roster;
        s.notOnRoster = row.policy;
        run(s);

        ASSERT_EQ(outcomes.size(), 3u);
        EXPECT_EQ(outcomes[0].result, CameraResult::Verified) << outcomes[0].message;
        EXPECT_EQ(outcomes[1].result, CameraResult::Verified) << outcomes[1].message;
        EXPECT_EQ(outcomes[2].result, row.strangerResult) << outcomes[2].message;
        EXPECT_EQ(officerOf(0), u"PA");
        EXPECT_EQ(officerOf(1), u"PB");
        EXPECT_EQ(officerOf(2), row.strangerOfficer);
        EXPECT_EQ(cameras[1]->config<DeviceRecord>().text(DeviceRecord::companyName), u"Unit One");
        EXPECT_EQ(cameras[1]->config<DeviceRecord>().text(DeviceRecord::policeName), u"Officer B")
            << "the roster's name, not the setup's";
        if (row.policy == provision::NotOnRoster::Skip) {
            for (const auto& frame : cameras[2]->receivedFrames()) {
                EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetConfig))
                    << "a skipped camera is left as it was";
            }
        }

        const std::string written = readAll(folder / "inventory.csv");
        EXPECT_EQ(written.rfind(provision::kFleetInventoryHeader, 0), 0u);
        EXPECT_THAT(written, HasSubstr(cameras[0].address + ",CAM-A,PA,ok,\r\n"));
        EXPECT_THAT(written, HasSubstr(cameras[1].address + ",CAM-B,PB,ok,\r\n"));
        EXPECT_THAT(written, HasSubstr(cameras[2].address + row.strangerRow));
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4);
    }
}

TEST_F(FleetRunnerTest, ACameraThatGoesAwayMidRunIsRecordedAsFailedWhileTheOthersFinish)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    run(settings(), [&](const CameraProgress& p, provision::FleetRunner&) {
        if (p.camera == 1 && p.step == CameraStep::Sent && p.group == Group::Wifi) {
            cameras[1]->stop(); // pulled out between two groups
        }
    });
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].result, CameraResult::Verified);
    EXPECT_EQ(outcomes[1].result, CameraResult::Unreachable);
    EXPECT_THAT(outcomes[1].message, HasSubstr("failed: device: "));
    EXPECT_EQ(outcomes[2].result, CameraResult::Verified);
    EXPECT_EQ(officerOf(0), u"SETUP-P");
    EXPECT_EQ(officerOf(2), u"SETUP-P");
    EXPECT_THAT(readAll(folder / "inventory.csv"),
                HasSubstr(cameras[1].address + ",CAM-B,OLD-CAM-B,failed: device: read the device record"));
    // Every step of a camera is heard in order, ending once with Finished.
    std::map<std::size_t, std::vector<CameraStep>> steps;
    for (const auto& p : heard) {
        steps[p.camera].push_back(p.step);
    }
    for (const auto& [camera, list] : steps) {
        EXPECT_EQ(list.front(), CameraStep::Queued) << camera;
        EXPECT_EQ(std::count(list.begin(), list.end(), CameraStep::Finished), 1) << camera;
        EXPECT_EQ(list.back(), CameraStep::Finished) << camera;
    }
}

TEST_F(FleetRunnerTest, StopLetsEachCameraFinishItsStepAndSendsNothingMore)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    // The second and third answer slowly, so the first is well inside the run when it stops it.
    cameras[1]->setReplyDelay(std::chrono::milliseconds(200));
    cameras[2]->setReplyDelay(std::chrono::milliseconds(200));
    auto s = settings();
    s.parallel = 2; // the third camera waits in the queue
    std::size_t secondAtStop = 0;
    run(s, [&](const CameraProgress& p, provision::FleetRunner& runner) {
        if (p.camera == 0 && p.step == CameraStep::Sent && p.group == Group::Wifi) {
            secondAtStop = cameras[1]->receivedFrames().size();
            runner.stop();
        }
    });
    ASSERT_EQ(outcomes.size(), 3u);
    // The account table, the device record, the wifi record read and written back: then nothing.
    EXPECT_EQ(outcomes[0].result, CameraResult::Stopped);
    EXPECT_EQ(outcomes[0].message, "stopped before sending device (sent: wifi)");
    EXPECT_EQ(cameras[0]->receivedFrames().size(), 4u);
    // The second camera was somewhere else; it may finish that step (a group's read and write),
    // nothing after it.
    EXPECT_LE(cameras[1]->receivedFrames().size(), secondAtStop + 2) << outcomes[1].message;
    EXPECT_EQ(outcomes[1].result, CameraResult::Stopped) << outcomes[1].message;
    EXPECT_EQ(outcomes[2].result, CameraResult::Stopped);
    EXPECT_EQ(outcomes[2].message, "stopped before it started");
    EXPECT_EQ(cameras[2]->connectionCount(), 0);
    const std::string written = readAll(folder / "inventory.csv");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4) << "stopped cameras are recorded too";
}

TEST(FleetInventory, AppendsUnderItsOwnHeaderOnlyAndNeverRewrites)
{
    ScratchFolder folder;
    const auto file = folder / "inv.csv";
    struct Row
    {
        const char* before; // nullptr: no file
        bool opens;
    };
    const Row rows[] = {
        {nullptr, true},
        {"", true},
        {"time,interface_or_address,device_id,officer_id,result,differences\r\nold row\r\n", true},
        {"time,device_id,officer_id,result\r\n", false}, // the one-camera inventory: other columns
        {"time,interface", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.before ? row.before : "(no file)");
        std::filesystem::remove(file);
        if (row.before) {
            writeFile(file, row.before);
        }
        provision::FleetInventory inventory;
        std::string error;
        ASSERT_EQ(inventory.open(file, error), row.opens) << error;
        if (!row.opens) {
            EXPECT_THAT(error, HasSubstr("first line"));
            continue;
        }
        ASSERT_TRUE(inventory.append(
            {"2026-03-05 14:07:09", "usb0 192.168.2.158", u"CAM-1", u"=P1", "differs", "wifi.ssid, device.policeId"}));
        const std::string kept = row.before && *row.before ? row.before : std::string(provision::kFleetInventoryHeader);
        EXPECT_EQ(readAll(file),
                  kept +
                      "2026-03-05 14:07:09,usb0 192.168.2.158,CAM-1,'=P1,differs,\"wifi.ssid, device.policeId\"\r\n");
    }
}

} // namespace
} // namespace orv::test
