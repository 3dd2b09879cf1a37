// orvctl scan and provision --all on simulated cameras at addresses of their own: what reaches the
// camera, what is refused before anything is sent.
#include "orvctl/cli_options.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/support/misbehaving_cameras.h"

#include <gmock/gmock.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <streambuf>
#include <thread>

namespace orv::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kSetup = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
    <wifi ssid="Unit Wifi" password="wifi-secret"/>
    <device deviceid="" policeid="SETUP" policename="Setup" companyid="U0" companyname="Unit"/>
</root>
)";

// orvctl's output, line by line as it is written, so that a test can act at the moment a line
// comes (pull a camera out as an officer would).
class LineHook : public std::streambuf
{
public:
    explicit LineHook(std::function<void(const std::string&)> hear)
        : hear_(std::move(hear))
    {
    }

    std::string text() const
    {
        std::lock_guard lock(mutex_);
        return all_;
    }

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof()) {
            return 0;
        }
        std::lock_guard lock(mutex_);
        all_ += static_cast<char>(c);
        line_ += static_cast<char>(c);
        if (c == '\n') {
            hear_(line_);
            line_.clear();
        }
        return c;
    }

private:
    std::function<void(const std::string&)> hear_;
    mutable std::mutex mutex_;
    std::string all_;
    std::string line_;
};

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

    // Runs `args` after both cameras' addresses with its output heard line by line; interrupted
    // (Ctrl+C) once `until` says so of the output, when given.
    int hookedRun(std::vector<std::string> args, LineHook& hook, std::function<bool(const std::string&)> until = {})
    {
        std::vector<std::string> all{"--timeout-ms", kTestTimeoutMs, "--poll-ms", "20", "--address",
                                     camera.address, "--address", second.address};
        all.insert(all.end(), args.begin(), args.end());
        std::atomic<bool> interrupted{false};
        std::istringstream in;
        std::ostream out(&hook);
        std::ostringstream err;
        cli::CliContext context(in, out, err);
        context.interrupted = &interrupted;
        int code = -1;
        std::thread orvctl([&] { code = cli::runOrvctl(all, context); });
        for (int i = 0; until && i < 1000 && !until(hook.text()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (until) {
            interrupted = true;
        }
        orvctl.join();
        errors = err.str();
        return code;
    }

    // Pulls `second` out, and plugs it in again a moment later.
    void replugSecond()
    {
        second->stop();
        replug = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(second->start());
        });
    }

    void TearDown() override
    {
        if (replug.joinable()) {
            replug.join();
        }
        OrvctlTest::TearDown();
    }

    LoopbackCamera second;
    std::thread replug;
    std::string errors;
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
    EXPECT_THAT(inventory, HasSubstr("," + camera.address + ",CAM-1,P1,ok,,0\r\n"));
    EXPECT_THAT(inventory, HasSubstr("," + second.address + ",CAM-2,SETUP,ok,,0\r\n")) << "not on the roster";
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1, officer P1: ok"));
}

// A camera the roster does not name is left as it is: not set as asked, so not a success.
TEST_F(OrvctlFleet, ACameraNotOnTheRosterIsLeftAsItIsAndTheRunDoesNotSucceed)
{
    writeFile(folder / "roster.csv", "device_id,police_id,police_name,company_id,company_name\nCAM-1,P1,One,U1,Unit\n");
    const OrvctlRun r = fleet({"--poll-ms", "20", "provision", path("setup.xml"), "--all", "--roster",
                               path("roster.csv"), "--inventory", path("inv.csv"), "--count", "2"});
    EXPECT_EQ(r.code, 5) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1, officer P1: ok"));
    EXPECT_THAT(r.out, HasSubstr(second.address + ": device CAM-2"));
    EXPECT_THAT(r.out, HasSubstr("not on the roster"));
    EXPECT_THAT(readFile(folder / "inv.csv"), HasSubstr("," + second.address + ",CAM-2,"));

    const OrvctlRun check = fleet({"--poll-ms", "20", "check", path("setup.xml"), "--all", "--roster",
                                   path("roster.csv"), "--count", "2"});
    EXPECT_EQ(check.code, 5) << check.out << check.err;
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
        // Found before the first camera is configured, not after it (its outcome would be lost).
        {{"--inventory", path("no-such-folder/inv.csv")}, "it cannot be created"},
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

TEST_F(OrvctlFleet, ScanSaysWhenNoCameraAnswersAndRefusesAnInterfaceThatIsNot)
{
    const OrvctlRun none = runOrvctlWith({"--timeout-ms", kTestTimeoutMs, "--address", "127.0.83.253", "scan"});
    EXPECT_EQ(none.code, 4) << "no camera found, as for one camera";
    EXPECT_THAT(none.out, HasSubstr("0 cameras found of 1 looked at"));
    const OrvctlRun missing = runOrvctlWith({"--interface", "no-such-if0", "scan"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_THAT(missing.err, HasSubstr("no network interface is named \"no-such-if0\""));
    const OrvctlRun found = fleet({"scan"});
    EXPECT_EQ(found.code, 0);
    EXPECT_THAT(found.out, HasSubstr("device CAM-1  officer PC4471 Dana Whitlow  clock "));
}

TEST_F(OrvctlFleet, CheckReadsEveryCameraAndWritesNothing)
{
    writeFile(folder / "roster.csv", "device_id,police_id,police_name,company_id,company_name\n"
                                     "CAM-1,P1,One,U1,Unit\nCAM-2,P2,Two,U1,Unit\n");
    ASSERT_EQ(fleet({"--poll-ms", "20", "provision", path("setup.xml"), "--all", "--roster", path("roster.csv"),
                     "--inventory", path("inv.csv"), "--count", "2"})
                  .code,
              0);
    // One camera is changed by hand afterwards.
    std::vector<std::uint8_t> wifi = second->configRecord(ConfigType::Wifi);
    putText(wifi, WifiRecord::ssid, u"Changed");
    second->setConfigRecord(ConfigType::Wifi, wifi);
    camera->clearReceivedFrames();
    second->clearReceivedFrames();

    const OrvctlRun r = fleet({"--poll-ms", "20", "check", path("setup.xml"), "--all", "--roster", path("roster.csv"),
                               "--inventory", path("inv.csv"), "--count", "2"});
    EXPECT_EQ(r.code, 5) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1, officer P1: check: ok"));
    EXPECT_THAT(r.out, HasSubstr(second.address + ": device CAM-2, officer P2: check: differs: wifi.ssid"));
    for (const LoopbackCamera* c : {&camera, &second}) {
        for (const auto& frame : (*c)->receivedFrames()) {
            EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetConfig)) << "a check writes nothing";
            EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetTime));
        }
    }
    const std::string inventory = readFile(folder / "inv.csv");
    EXPECT_THAT(inventory, HasSubstr("," + camera.address + ",CAM-1,P1,check: ok,,"));
    EXPECT_THAT(inventory, HasSubstr("," + second.address + ",CAM-2,P2,check: differs,wifi.ssid,"));

    // The one camera at --ip, without --all.
    const OrvctlRun one =
        runOrvctlWith({"--timeout-ms", kTestTimeoutMs, "--ip", camera.address, "check", path("setup.xml")});
    EXPECT_EQ(one.code, 5) << "the setup's officer is not the roster's" << one.out;
}

TEST_F(OrvctlFleet, ARosterAloneGivesEachCameraItsOfficer)
{
    writeFile(folder / "officers-only.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><language "
                                            "choice_language=\"2\"/></root>\n");
    writeFile(folder / "roster.csv", "device_id,police_id,police_name,company_id,company_name\n"
                                     "CAM-1,P1,One,U1,Unit\nCAM-2,P2,Two,U1,Unit\n");
    const OrvctlRun alone = fleet({"provision", path("officers-only.xml"), "--all", "--inventory", path("inv.csv")});
    EXPECT_EQ(alone.code, 1) << "a setup with nothing to send and no roster is refused";
    EXPECT_THAT(alone.err, HasSubstr("the file holds no group to send"));
    const OrvctlRun r = fleet({"--poll-ms", "20", "provision", path("officers-only.xml"), "--all", "--roster",
                               path("roster.csv"), "--inventory", path("inv.csv"), "--count", "2"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(second->config<DeviceRecord>().text(DeviceRecord::policeId), u"P2");
    EXPECT_EQ(second->config<DeviceRecord>().text(DeviceRecord::companyName), u"Unit");
}

TEST_F(OrvctlFleet, RetryFailedTakesOnlyTheCamerasWhoseLastOutcomeWasNotOk)
{
    writeFile(folder / "inv.csv", "time,interface_or_address,device_id,officer_id,result,differences,clock_offset_s\r\n"
                                  "2026-03-05 14:07:09,usb0 192.168.2.158,CAM-1,P1,failed: login refused,,\r\n"
                                  "2026-03-05 14:07:10,usb1 192.168.2.158,CAM-2,P2,differs,wifi.ssid,0\r\n"
                                  "2026-03-05 14:08:00,usb0 192.168.2.158,CAM-1,P1,ok,,0\r\n");
    camera->clearReceivedFrames();
    const OrvctlRun r = fleet({"--poll-ms", "20", "provision", path("setup.xml"), "--all", "--inventory",
                               path("inv.csv"), "--retry-failed", "--count", "1"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1: its last outcome was ok; left alone"));
    EXPECT_THAT(r.out, HasSubstr(second.address + ": device CAM-2, officer SETUP: ok"));
    for (const auto& frame : camera->receivedFrames()) {
        EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetConfig)) << "CAM-1 was ok: left alone";
    }
}

TEST_F(OrvctlFleet, ACameraPulledOutBeforeItsWorkBeganIsNoCameraAndNotCounted)
{
    // Pulled out the moment the watch handed it to a worker: the worker's connection is refused.
    bool pulled = false;
    LineHook hook([&](const std::string& line) {
        if (!pulled && line.find("] " + second.address + ": camera found") != std::string::npos) {
            pulled = true;
            replugSecond();
        }
    });
    const int code =
        hookedRun({"provision", path("setup.xml"), "--all", "--inventory", path("inv.csv"), "--count", "2"}, hook);
    const std::string out = hook.text();
    ASSERT_TRUE(pulled) << out;
    EXPECT_EQ(code, 0) << "every camera there was got its setup\n" << out << errors;
    EXPECT_THAT(out, HasSubstr(second.address + ": gone before its work began: no connection: "));
    EXPECT_THAT(out, HasSubstr(second.address + ": device CAM-2, officer SETUP: ok"));
    const std::string inventory = readFile(folder / "inv.csv");
    EXPECT_EQ(std::count(inventory.begin(), inventory.end(), '\n'), 3) << "the header, CAM-1 and CAM-2\n"
                                                                          << inventory;
    EXPECT_THAT(inventory, HasSubstr("," + second.address + ",CAM-2,SETUP,ok,"));
}

TEST_F(OrvctlFleet, RetryFailedGoesByTheOutcomesOfThisSessionToo)
{
    writeFile(folder / "inv.csv", "time,interface_or_address,device_id,officer_id,result,differences,clock_offset_s\r\n"
                                  "2026-03-05 14:07:09,usb0 192.168.2.158,CAM-1,P1,ok,,0\r\n"
                                  "2026-03-05 14:07:10,usb1 192.168.2.158,CAM-2,P2,differs,wifi.ssid,0\r\n");
    // CAM-2 is set, pulled out and plugged in again: its last outcome is now ok.
    const std::string done = second.address + ": device CAM-2, officer SETUP: ok";
    const std::string leftAlone = second.address + ": device CAM-2: its last outcome was ok; left alone";
    bool pulled = false;
    LineHook hook([&](const std::string& line) {
        if (!pulled && line.find(done) != std::string::npos) {
            pulled = true;
            second->clearReceivedFrames();
            replugSecond();
        }
    });
    const int code = hookedRun({"provision", path("setup.xml"), "--all", "--inventory", path("inv.csv"),
                                "--retry-failed"},
                               hook, [&](const std::string& out) {
                                   return out.find(leftAlone) != std::string::npos ||
                                          out.find(done) != out.rfind(done);
                               });
    const std::string out = hook.text();
    EXPECT_EQ(code, 130) << out << errors;
    EXPECT_TRUE(pulled) << out;
    EXPECT_THAT(out, HasSubstr(leftAlone));
    EXPECT_EQ(out.find(done), out.rfind(done)) << "set once only\n" << out;
    for (const auto& frame : second->receivedFrames()) {
        EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetConfig)) << "set again after the replug";
    }
}

TEST_F(OrvctlFleet, CamerasWithOneDeviceIdAreLeftWithoutAnOfficer)
{
    std::vector<std::uint8_t> device = second->configRecord(ConfigType::Device);
    putText(device, DeviceRecord::deviceId, u"CAM-1");
    second->setConfigRecord(ConfigType::Device, device);
    writeFile(folder / "roster.csv", "device_id,police_id,police_name,company_id,company_name\nCAM-1,P1,One,U1,Unit\n");
    const OrvctlRun scan = fleet({"scan"});
    EXPECT_THAT(scan.out, HasSubstr("(duplicate device id: also at " + second.address + ")"));
    camera->clearReceivedFrames();
    second->clearReceivedFrames();
    const OrvctlRun r = fleet({"--poll-ms", "20", "provision", path("setup.xml"), "--all", "--roster",
                               path("roster.csv"), "--inventory", path("inv.csv"), "--count", "2"});
    EXPECT_EQ(r.code, 5) << r.out;
    EXPECT_THAT(r.out, HasSubstr(camera.address + ": device CAM-1, officer PC4471: duplicate device id (also at " +
                                 second.address + ")"));
    EXPECT_THAT(readFile(folder / "inv.csv"), HasSubstr("," + second.address + ",CAM-1,"));
    for (const LoopbackCamera* c : {&camera, &second}) {
        for (const auto& frame : (*c)->receivedFrames()) {
            EXPECT_NE(frame.command, static_cast<std::uint16_t>(Command::SetConfig));
        }
    }
}

TEST_F(OrvctlFleet, CtrlCLetsEachCameraFinishItsStepAndSendsNothingMore)
{
    camera->setReplyDelay(std::chrono::milliseconds(100));
    second->setReplyDelay(std::chrono::milliseconds(100));
    std::atomic<bool> interrupted{false};
    std::istringstream in;
    std::ostringstream out, err;
    cli::CliContext context(in, out, err);
    context.interrupted = &interrupted;
    int code = -1;
    std::thread orvctl([&] {
        code = cli::runOrvctl(std::vector<std::string>{"--timeout-ms", "2000", "--poll-ms", "20", "--address",
                                                       camera.address, "--address", second.address, "provision",
                                                       path("setup.xml"), "--all", "--inventory", path("inv.csv")},
                              context);
    });
    // Both cameras are being written to when the operator presses Ctrl+C.
    const auto writing = [](const LoopbackCamera& c) {
        const auto frames = c->receivedFrames();
        return std::any_of(frames.begin(), frames.end(), [](const camsim::ReceivedFrame& f) {
            return f.command == static_cast<std::uint16_t>(Command::SetConfig);
        });
    };
    for (int i = 0; i < 400 && !(writing(camera) && writing(second)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(writing(camera) && writing(second)) << out.str();
    const std::size_t framesAtStop = camera->receivedFrames().size();
    interrupted = true;
    orvctl.join();
    EXPECT_EQ(code, 130) << out.str() << err.str();
    // The step in hand is one group's read and write: nothing after it.
    EXPECT_LE(camera->receivedFrames().size(), framesAtStop + 2);
    const std::string inventory = readFile(folder / "inv.csv");
    EXPECT_THAT(inventory, HasSubstr("," + camera.address + ",CAM-1,PC4471,\"stopped before "));
    EXPECT_THAT(inventory, HasSubstr("," + second.address + ",CAM-2,"));
}

// Without a roster a camera's work starts as soon as it has said who it is: a neighbour that never
// answers (its look waits out the whole reply time, a minute here) holds up no other camera.
TEST_F(OrvctlFleet, ACameraThatNeverAnswersHoldsUpNoOther)
{
    second->stayQuiet(true);
    LineHook hook([](const std::string&) {});
    std::atomic<bool> interrupted{false};
    std::istringstream in;
    std::ostream out(&hook);
    std::ostringstream err;
    cli::CliContext context(in, out, err);
    context.interrupted = &interrupted;
    int code = -1;
    std::thread orvctl([&] {
        code = cli::runOrvctl(std::vector<std::string>{"--timeout-ms", "60000", "--poll-ms", "20", "--address",
                                                       camera.address, "--address", second.address, "provision",
                                                       path("setup.xml"), "--all", "--inventory", path("inv.csv")},
                              context);
    });
    const std::string done = camera.address + ": device CAM-1, officer SETUP: ok";
    for (int i = 0; i < 2000 && hook.text().find(done) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string heard = hook.text();
    // Pulled out, the silent camera ends its look at once.
    interrupted = true;
    second->stop();
    orvctl.join();
    EXPECT_THAT(heard, HasSubstr(done)) << "the good camera waited for the silent one\n" << heard << err.str();
    EXPECT_THAT(readFile(folder / "inv.csv"), HasSubstr("," + camera.address + ",CAM-1,SETUP,ok,"));
}

// Cameras that get their replies wrong in each way firmware does, two beside three good ones in
// one run: the good ones are set up, each bad one is recorded once with what failed, and the run
// ends. (What the bad ones cost the good ones is measured by cli_bench.)
TEST(OrvctlMisbehaving, EachBadCameraIsRecordedWithWhatFailedAndTheGoodOnesAreSetUp)
{
    ScratchFolder folder;
    writeFile(folder / "setup.xml", kSetup);
    for (const CameraFault& f : kCameraFaults) {
        SCOPED_TRACE(f.name);
        std::vector<LoopbackCamera> cameras;
        std::vector<std::string> args{"--timeout-ms", "1000", "--poll-ms", "20"};
        for (int n = 0; n < 5; ++n) {
            camsim::CameraOptions options;
            options.deviceId = "CAM-" + std::to_string(n + 1);
            options.sdkPort = 0;
            cameras.push_back(startCameraOnLoopback(options));
            ASSERT_TRUE(cameras.back());
            args.insert(args.end(), {"--address", cameras.back().address});
        }
        misbehave(*cameras[3].camera, f.fault);
        misbehave(*cameras[4].camera, f.fault);
        const std::string inventory = (folder / (std::string("inv-") + std::to_string(&f - kCameraFaults.data()) +
                                                 ".csv")).string();
        args.insert(args.end(), {"provision", (folder / "setup.xml").string(), "--all", "--inventory", inventory,
                                 "--count", "5"});
        const OrvctlRun r = runOrvctlWith(args);
        EXPECT_EQ(r.code, cli::kExitUnreachable) << r.out << r.err;
        const std::string rows = readFile(inventory);
        for (int n = 0; n < 3; ++n) {
            EXPECT_THAT(rows, HasSubstr("," + cameras[n].address + ",CAM-" + std::to_string(n + 1) + ",SETUP,ok,"));
            EXPECT_TRUE(receivedAWrite(*cameras[n].camera));
        }
        for (int n = 3; n < 5; ++n) {
            // Named by its device id when the camera said it before it failed (a stream that
            // follows a whole reply).
            const std::size_t at = rows.find("," + cameras[n].address + ",");
            ASSERT_NE(at, std::string::npos) << rows;
            const std::string row = rows.substr(at, rows.find('\n', at) - at);
            // From the comma before the place: the result follows the device id and the officer.
            std::size_t result = 0;
            for (int comma = 0; comma < 3 && result != std::string::npos; ++comma) {
                result = row.find(',', result + 1);
            }
            EXPECT_TRUE(result != std::string::npos && row.compare(result + 1, 8, "failed: ") == 0) << row;
            EXPECT_FALSE(receivedAWrite(*cameras[n].camera)) << "nothing is written to a camera not identified";
        }
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 5) << rows;
    }
}

TEST(OrvctlFleetRace, ProvisionAllNeverGivesACameraTwoConnections)
{
    std::vector<LoopbackCamera> cameras;
    std::vector<std::string> args{"--timeout-ms", "2000", "--poll-ms", "10"};
    for (int i = 0; i < 8; ++i) {
        camsim::CameraOptions options;
        options.oneConnection = true; // a second connection while one is open is refused
        options.sdkPort = 0;
        cameras.push_back(startCameraOnLoopback(options));
        ASSERT_TRUE(cameras.back());
        cameras.back()->setReplyDelay(std::chrono::milliseconds(3));
        args.insert(args.end(), {"--address", cameras.back().address});
    }
    ScratchFolder folder;
    writeFile(folder / "setup.xml", kSetup);
    const std::string inventory = (folder / "inv.csv").string();
    args.insert(args.end(),
                {"provision", (folder / "setup.xml").string(), "--all", "--inventory", inventory, "--count", "8"});
    for (int round = 0; round < 20; ++round) {
        const OrvctlRun r = runOrvctlWith(args);
        ASSERT_EQ(r.code, 0) << "round " << round << "\n" << r.out << r.err;
    }
    for (const auto& camera : cameras) {
        EXPECT_EQ(camera->mostConnectionsHeld(), 1) << camera.address;
    }
    const std::string written = readFile(folder / "inv.csv");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1 + 8 * 20);
}

TEST(OrvctlFleetOptions, MisplacedOptionsAreUsageErrors)
{
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--all", "get", "wifi"}, "--all belongs to provision"},
        {{"--address", "127.0.0.9", "get", "wifi"}, "--interface and --address belong to scan"},
        {{"--address", "camera", "scan"}, "--address: \"camera\" is not an IPv4 address"},
        {{"--interface", "usb0", "--address", "127.0.0.9", "scan"}, "not both"},
        {{"--roster", "r.csv", "scan"}, "--roster, --not-on-roster and --retry-failed belong to provision --all"},
        {{"--retry-failed", "scan"}, "--retry-failed belong to provision --all and check --all"},
        {{"check", "s.xml", "--all", "--retry-failed"}, "--retry-failed reads the inventory"},
        {{"check", "s.xml", "--count", "2"}, "--count belongs to check --all"},
        {{"check"}, "check: missing arguments"},
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
