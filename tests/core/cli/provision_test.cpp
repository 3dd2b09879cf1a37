// `orvctl provision`: cameras brought up and taken down one after another at the same address, each
// outcome in the inventory and the ledger.
#include "link/local_clock.h"
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orv::test {
namespace {

using cli::ProvisionStep;
using ::testing::HasSubstr;
using ::testing::Not;

// Collects provisioning steps from the run's thread and lets the test wait for one.
class StepLog
{
public:
    void add(const cli::ProvisionEvent& e)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        changed_.notify_all();
    }

    bool waitFor(int camera, ProvisionStep step)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            for (const auto& e : events_) {
                if (e.camera == camera && e.step == step) {
                    return true;
                }
            }
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<cli::ProvisionEvent> events_;
};

class OrvctlProvision : public OrvctlTest
{
protected:
    void SetUp() override
    {
        OrvctlTest::SetUp();
        setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 9}; });
        setup = (folder / "setup.xml").string();
        SetupValues v;
        v.ssid = u"Unit Wifi";
        v.wifiPassword = u"wifi-secret";
        v.policeId = u"P-100";
        ASSERT_TRUE(saveSetupFile(setup, v));
        inventory = folder / "inventory.csv";
    }

    void TearDown() override
    {
        if (runner.joinable()) {
            interrupted = true;
            runner.join();
        }
        setLocalClock({});
        OrvctlTest::TearDown();
    }

    // Starts provisioning on a thread of its own; `onStep` runs on that thread for each step.
    void startProvision(std::vector<std::string> extra, std::function<void(const cli::ProvisionEvent&)> onStep = {})
    {
        std::vector<std::string> args{"--ip", camera.address, "--timeout-ms", kTestTimeoutMs, "--poll-ms",
                                      "20",   "provision",    setup,          "--inventory",  inventory.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        runner = std::thread([this, args, onStep] {
            std::istringstream in;
            cli::CliContext context(in, output, errors);
            context.interrupted = &interrupted;
            context.onProvisionEvent = [this, onStep](const cli::ProvisionEvent& e) {
                if (onStep) {
                    onStep(e);
                }
                steps.add(e);
            };
            exitCode = cli::runOrvctl(args, context);
        });
    }

    int finish()
    {
        runner.join();
        return exitCode;
    }

    // A different camera at the same address, as when the next one is plugged in.
    void plugIn(const std::u16string& deviceId)
    {
        camsim::CameraOptions options;
        options.listenAddress = camera.address;
        options.log = [](const std::string&) {};
        camera.camera = std::make_unique<camsim::SimulatedCamera>(options);
        // Named before it listens: the run polls the address and may log in at once.
        auto device = camera->configRecord(ConfigType::Device);
        encodeLinkText(deviceId, device.data() + DeviceRecord::deviceId.offset, DeviceRecord::deviceId.width);
        camera->setConfigRecord(ConfigType::Device, device);
        ASSERT_TRUE(camera->start());
    }

    void unplug(int number)
    {
        ASSERT_TRUE(steps.waitFor(number, ProvisionStep::WaitingForRemoval));
        camera->stop();
        ASSERT_TRUE(steps.waitFor(number, ProvisionStep::CameraGone));
    }

    std::string setup;
    std::filesystem::path inventory;
    std::ostringstream output;
    std::ostringstream errors;
    std::atomic<bool> interrupted{false};
    StepLog steps;
    std::thread runner;
    int exitCode = -1;
};

TEST_F(OrvctlProvision, ThreeCamerasOneAfterAnotherGiveThreeRows)
{
    auto device = camera->configRecord(ConfigType::Device);
    encodeLinkText(u"CAM-1", device.data() + DeviceRecord::deviceId.offset, DeviceRecord::deviceId.width);
    camera->setConfigRecord(ConfigType::Device, device);
    startProvision({"--count", "3"});
    ASSERT_TRUE(steps.waitFor(1, ProvisionStep::Recorded));
    unplug(1);
    plugIn(u"CAM-2");
    ASSERT_TRUE(steps.waitFor(2, ProvisionStep::Recorded));
    unplug(2);
    plugIn(u"CAM-,3");
    EXPECT_EQ(finish(), 0) << errors.str();

    EXPECT_EQ(readFile(inventory), "time,device_id,officer_id,result\r\n"
                                   "2026-03-05 14:07:09,CAM-1,P-100,ok\r\n"
                                   "2026-03-05 14:07:09,CAM-2,P-100,ok\r\n"
                                   "2026-03-05 14:07:09,\"CAM-,3\",P-100,ok\r\n");
    auto wifi = camera->configRecord(ConfigType::Wifi);
    EXPECT_EQ(decodeLinkText(wifi.data() + WifiRecord::ssid.offset, WifiRecord::ssid.width), u"Unit Wifi");
    EXPECT_THAT(output.str(), HasSubstr("[3] verified\n"));
    EXPECT_THAT(output.str(), Not(HasSubstr("[3] waiting for the camera to go")));
    EXPECT_THAT(output.str() + errors.str(), Not(HasSubstr("wifi-secret")));
}

TEST_F(OrvctlProvision, ACameraThatFallsSilentIsRecordedAsFailedAndTheLoopGoesOn)
{
    startProvision({"--count", "2", "--json"}, [this](const cli::ProvisionEvent& e) {
        if (e.camera == 1 && e.step == ProvisionStep::Applying) {
            camera->stayQuiet(true);
        }
    });
    ASSERT_TRUE(steps.waitFor(1, ProvisionStep::Failed));
    unplug(1);
    plugIn(u"CAM-2");
    EXPECT_EQ(finish(), 4) << "the code of the camera that failed";

    const std::string rows = readFile(inventory);
    EXPECT_THAT(rows, HasSubstr(",ORV202600001,PC4471,failed: uidentify: read the function record (type 6): no reply "
                                "of the expected size\r\n"));
    EXPECT_THAT(rows, HasSubstr(",CAM-2,P-100,ok\r\n"));
    EXPECT_THAT(output.str(), HasSubstr("{\"camera\":1,\"step\":\"failed\",\"message\":\"" + camera.address +
                                        ": uidentify: read the function record (type 6): no reply of the "
                                        "expected size\",\"exitCode\":4}\n"));
}

TEST_F(OrvctlProvision, AnOfficerSentButNeverReadBackIsRecordedAsSent)
{
    camera->stayQuietAfterSet(ConfigType::Device);
    // A ledger of the test's own: on Windows the default one is the whole test run's.
    const std::string ledgerFile = (folder / "ledger.db").string();
    startProvision({"--count", "1", "--ledger", ledgerFile});
    EXPECT_EQ(finish(), 4);
    EXPECT_EQ(camera->config<DeviceRecord>().text(DeviceRecord::policeId), u"P-100") << "the camera took it";

    const std::vector<ledger::Event> events = eventsIn(ledgerFile);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].officerBefore, "PC4471");
    EXPECT_EQ(events[0].officerAfter, "P-100") << "as sent, since it was not read back";
    EXPECT_EQ(events[0].result,
              "failed: time: read the time record: no reply of the expected size; device not read back");
    EXPECT_THAT(readFile(inventory), HasSubstr(",ORV202600001,PC4471,failed: time: ")) << "the inventory as it was";
}

TEST_F(OrvctlProvision, RefusedLoginIsRecorded)
{
    UserTable users;
    users.setNumber(UserTable::count, 1);
    users.setText(UserTable::name(0), u"admin");
    users.setText(UserTable::password(0), u"changed");
    camera->setAccounts(users);
    startProvision({"--count", "1"});
    EXPECT_EQ(finish(), 3);
    EXPECT_EQ(readFile(inventory), "time,device_id,officer_id,result\r\n"
                                   "2026-03-05 14:07:09,,,failed: login refused for user admin\r\n");
}

TEST_F(OrvctlProvision, InterruptionFinishesTheCurrentCameraFirst)
{
    startProvision({}, [this](const cli::ProvisionEvent& e) {
        if (e.step == ProvisionStep::Applying) {
            interrupted = true;
        }
    });
    EXPECT_EQ(finish(), 130);
    EXPECT_THAT(readFile(inventory), HasSubstr(",ORV202600001,P-100,ok\r\n"));
    EXPECT_THAT(output.str(), Not(HasSubstr("waiting for the camera to go")));

    // Interrupted while no camera is there: nothing recorded but the header, written before any
    // camera could be touched.
    camera->stop();
    std::filesystem::remove(inventory);
    interrupted = false;
    startProvision({}, [this](const cli::ProvisionEvent& e) {
        if (e.step == ProvisionStep::WaitingForCamera) {
            interrupted = true;
        }
    });
    EXPECT_EQ(finish(), 130);
    EXPECT_EQ(readFile(inventory), "time,device_id,officer_id,result\r\n");
}

TEST_F(OrvctlProvision, AnInventoryThatCannotBeWrittenStopsTheRun)
{
    // Found before the first camera is waited for, not after it was configured.
    inventory = folder / "no-such-folder" / "inventory.csv";
    startProvision({});
    EXPECT_EQ(finish(), 1);
    EXPECT_THAT(output.str(), HasSubstr("cannot open the inventory"));
    EXPECT_THAT(output.str(), HasSubstr("it cannot be created"));
    EXPECT_THAT(output.str(), HasSubstr("nothing was sent"));
    EXPECT_EQ(camera->connectionCount(), 0);
}

} // namespace
} // namespace orv::test
