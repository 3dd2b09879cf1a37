// `orvctl apply`: a setup file of the console pushed as its Load Setup, login and Sets would push
// it, then read back and compared; its event names the officer as read back, or as sent.
#include "link/commands.h"
#include "link/local_clock.h"
#include "provision/camera_session.h"
#include "provision/setup_apply.h"
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

namespace orv::test {
namespace {

using ::testing::HasSubstr;

SetupValues unitSetup()
{
    SetupValues v;
    v.language = 2;
    v.cameraIp = u"192.168.2.158";
    v.cameraUser = u"admin";
    v.cameraPassword = u"wrenq";
    v.uIdentify = 1;
    v.serverChoice = 1; // the combo row; the camera's own platform choice decides
    v.serverIp = u"10.0.0.9";
    v.serverPort = u"70000";
    v.rtsId = u"RTS-X";
    v.authCode = u"CODE-X";
    v.apn = u"unit.apn";
    v.apnUser = u"unit";
    v.apnPassword = u"apn-secret";
    v.ssid = u"Unit Wifi";
    v.wifiPassword = u"wifi-secret";
    v.deviceId = u"FROM-ANOTHER-CAMERA";
    v.policeId = u"P77";
    v.policeName = u"张三";
    v.companyId = u"C1";
    v.companyName = u"Harbour";
    v.summerTime = 1;
    v.timeZone = 8;
    return v;
}

template <class Record>
Record recordOf(const std::vector<std::uint8_t>& bytes)
{
    Record r;
    std::copy(bytes.begin(), bytes.end(), r.bytes.begin());
    return r;
}

template <class Record>
std::vector<std::uint8_t> bytesOf(const Record& r)
{
    return {r.bytes.begin(), r.bytes.end()};
}

std::vector<provision::GroupPlan> planOf(const std::string& xml)
{
    const SetupReadResult read = readSetup(xml);
    EXPECT_TRUE(read.ok()) << read.message;
    return provision::planSetup(read.elements);
}

const provision::Assignment* assignment(const std::vector<provision::GroupPlan>& plan, provision::Group group,
                                        std::string_view field)
{
    for (const auto& g : plan) {
        for (const auto& a : g.assignments) {
            if (g.group == group && a.fieldSpec->field.name == field) {
                return &a;
            }
        }
    }
    return nullptr;
}

class OrvctlApply : public OrvctlTest
{
protected:
    void SetUp() override
    {
        OrvctlTest::SetUp();
        setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 9}; });
    }
    void TearDown() override
    {
        setLocalClock({});
        setFrameTrace({});
        OrvctlTest::TearDown();
    }

    std::string saveSetup(const SetupValues& values, const std::string& name = "setup.xml")
    {
        const auto file = folder / name;
        EXPECT_TRUE(saveSetupFile(file, values));
        return file.string();
    }
};

TEST_F(OrvctlApply, LeavesTheCameraAsTheConsolesSetsWouldAndReadsBackTheFile)
{
    const auto function = recordOf<FunctionRecord>(camera->configRecord(ConfigType::Function));
    const auto ttx = recordOf<TtxServerRecord>(camera->configRecord(ConfigType::TtxServer));
    const auto rts = camera->configRecord(ConfigType::RtsServer);
    const auto net4g = recordOf<Net4gRecord>(camera->configRecord(ConfigType::Net4g));
    const auto wifi = recordOf<WifiRecord>(camera->configRecord(ConfigType::Wifi));
    const auto device = recordOf<DeviceRecord>(camera->configRecord(ConfigType::Device));
    const TimeRecord time = camera->timeRecord();

    const OrvctlRun applied = run({"apply", saveSetup(unitSetup())});
    ASSERT_EQ(applied.code, 0) << applied.err;
    EXPECT_EQ(applied.out, "apply: sent uidentify, platform, 4g, wifi, device, time\n"
                           "verify: every sent field reads back as the setup has it\n");

    auto f = function;
    f.setNumber(FunctionRecord::uIdentify, 1);
    auto t = ttx;
    t.setText(TtxServerRecord::serverAddress, u"10.0.0.9");
    t.setNumber(TtxServerRecord::serverPort, 4464);
    auto n = net4g;
    n.setText(Net4gRecord::apn, u"unit.apn");
    n.setText(Net4gRecord::apnUser, u"unit");
    n.setText(Net4gRecord::apnPassword, u"apn-secret");
    auto w = wifi;
    w.setText(WifiRecord::ssid, u"Unit Wifi");
    w.setText(WifiRecord::wifiPassword, u"wifi-secret");
    auto d = device;
    d.setText(DeviceRecord::policeId, u"P77");
    d.setText(DeviceRecord::policeName, u"张三");
    d.setText(DeviceRecord::companyId, u"C1");
    d.setText(DeviceRecord::companyName, u"Harbour");
    EXPECT_EQ(camera->configRecord(ConfigType::Function), bytesOf(f));
    EXPECT_EQ(camera->configRecord(ConfigType::TtxServer), bytesOf(t));
    EXPECT_EQ(camera->configRecord(ConfigType::RtsServer), rts);
    EXPECT_EQ(camera->configRecord(ConfigType::Net4g), bytesOf(n));
    EXPECT_EQ(camera->configRecord(ConfigType::Wifi), bytesOf(w));
    EXPECT_EQ(camera->configRecord(ConfigType::Device), bytesOf(d)) << "device id and screen key untouched";
    auto tm = time;
    tm.setNumber(TimeRecord::timeZone, 8);
    tm.setNumber(TimeRecord::summerTime, 1);
    EXPECT_EQ(camera->timeRecord(), tm);

    const OrvctlRun all = run({"--json", "--show-passwords", "get", "all"});
    ASSERT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(all.out, "{\"platform\":{\"platformChoice\":0,\"serverAddress\":\"10.0.0.9\",\"serverPort\":4464},"
                       "\"4g\":{\"apn\":\"unit.apn\",\"apnUser\":\"unit\",\"apnPassword\":\"apn-secret\"},"
                       "\"wifi\":{\"ssid\":\"Unit Wifi\",\"wifiPassword\":\"wifi-secret\"},"
                       "\"device\":{\"policeId\":\"P77\",\"policeName\":\"张三\",\"deviceId\":\"ORV202600001\","
                       "\"companyId\":\"C1\",\"companyName\":\"Harbour\",\"screenPsk\":\"2468\"},"
                       "\"time\":{\"clock\":\"2026-03-05 14:07:09\",\"timeZone\":8,\"summerTime\":1},"
                       "\"proxy\":{\"proxyEnable\":0,\"proxyAddress\":\"127.0.0.1\",\"proxyPort\":5060},"
                       "\"uidentify\":{\"uIdentify\":1}}\n");
}

TEST_F(OrvctlApply, FieldsTheCameraDoesNotHoldAsWrittenAreReported)
{
    SetupValues v = unitSetup();
    v.ssid = std::u16string(40, u'S'); // cut to the 32-byte field
    v.wifiPassword = u"pass 😀";        // no 8-bit form for the emoji
    auto function = camera->configRecord(ConfigType::Function);
    function[FunctionRecord::platformChoice.offset] = 7;
    camera->setConfigRecord(ConfigType::Function, function);

    const OrvctlRun text = run({"apply", saveSetup(v)});
    EXPECT_EQ(text.code, 5);
    EXPECT_EQ(text.out, "apply: sent uidentify, 4g, wifi, device, time\n"
                        "verify: platform: camera reports platform choice 7; nothing sent\n"
                        "verify: wifi.ssid differs: camera has \"" +
                            std::string(32, 'S') + "\", setup has \"" + std::string(40, 'S') +
                            "\"\n"
                            "verify: wifi.wifiPassword differs (values hidden)\n");
    EXPECT_THAT(text.err, HasSubstr(camera.address + ": verify: 3 fields differ"));

    const OrvctlRun json = run({"--json", "apply", saveSetup(v)});
    EXPECT_EQ(json.code, 5);
    EXPECT_THAT(json.out, HasSubstr("{\"group\":\"wifi\",\"field\":\"wifiPassword\",\"camera\":\"********\","
                                    "\"setup\":\"********\"}"));
    EXPECT_THAT(json.out, HasSubstr("\"result\":\"differs\"}"));
}

TEST_F(OrvctlApply, AnOfficerSentButNeverReadBackIsRecordedAsSent)
{
    camera->stayQuietAfterSet(ConfigType::Device);
    // A ledger of the test's own: on Windows the default one is the whole test run's.
    const std::string ledgerFile = (folder / "apply-ledger.db").string();
    const OrvctlRun applied = run({"--ledger", ledgerFile, "apply", saveSetup(unitSetup())});
    EXPECT_EQ(applied.code, 4) << applied.err;
    const std::vector<ledger::Event> events = eventsIn(ledgerFile);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, "apply");
    EXPECT_EQ(events.back().groups, "uidentify, platform, 4g, wifi, device");
    EXPECT_EQ(events.back().officerAfter, "P77") << "as sent, since it was not read back";
    EXPECT_EQ(events.back().unitAfter, "Harbour");
    EXPECT_EQ(events.back().result,
              "failed: time: read the time record: no reply of the expected size; device not read back");
}

TEST_F(OrvctlApply, UnusableFilesSendNothing)
{
    const auto broken = folder / "broken.xml";
    writeFile(broken, "<root><wifi ssid=\"a\"></root>");
    const OrvctlRun notXml = run({"apply", broken.string()});
    EXPECT_EQ(notXml.code, 1);
    EXPECT_THAT(notXml.err, HasSubstr("not a well-formed XML document (line 1"));

    const auto loginOnly = folder / "login.xml";
    writeFile(loginOnly, "<root><camera ip=\"1.2.3.4\"/><language choice_language=\"1\"/></root>");
    EXPECT_EQ(run({"apply", loginOnly.string()}).code, 1);
    EXPECT_EQ(run({"apply", (folder / "missing.xml").string()}).code, 1);
    EXPECT_EQ(camera->connectionCount(), 0);
}

TEST(SetupPlan, FollowsTheFormAndKeepsTheZoneOfATimeBeforeTheLanguage)
{
    const auto ordered = planOf("<root><time summertime=\"2\" choice_timezone=\"8\"/><wifi ssid=\"a\"/>"
                                "<device deviceid=\"X\" policeid=\"P\"/><funtion uidentify=\"1\"/></root>");
    std::vector<provision::Group> groups;
    for (const auto& g : ordered) {
        groups.push_back(g.group);
    }
    EXPECT_EQ(groups, (std::vector<provision::Group>{provision::Group::UIdentify, provision::Group::Wifi,
                                                     provision::Group::Device, provision::Group::Time}));
    EXPECT_EQ(assignment(ordered, provision::Group::Device, "deviceId"), nullptr);
    EXPECT_EQ(assignment(ordered, provision::Group::Wifi, "wifiPassword")->text, u"") << "absent text is empty";
    EXPECT_EQ(assignment(ordered, provision::Group::Time, "summerTime")->number, 1);

    struct Row
    {
        const char* xml;
        std::int64_t zone;
    };
    const Row rows[] = {
        {"<root><time choice_timezone=\"8\"/><language choice_language=\"1\"/></root>", 8},
        {"<root><language choice_language=\"1\"/><time choice_timezone=\"8\"/></root>", 8},
        {"<root><time choice_timezone=\"8\"/><language choice_language=\"5\"/></root>", 8},
        {"<root><time choice_timezone=\"-1\"/></root>", 255},
        {"<root><time choice_timezone=\"25\"/></root>", 255},
        {"<root><time choice_timezone=\"24\"/></root>", 24},
        {"<root><time/></root>", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.xml);
        const auto plan = planOf(row.xml);
        ASSERT_NE(assignment(plan, provision::Group::Time, "timeZone"), nullptr);
        EXPECT_EQ(assignment(plan, provision::Group::Time, "timeZone")->number, row.zone);
    }
}

// A camera on UTC+08:00 given a setup file whose "time" stands before its "language": the
// language re-labels the console's combos, and the zone stays the file's, whichever tool sends it.
constexpr std::int64_t kUtcPlus8 = 20;
constexpr const char* kTimeBeforeLanguage = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
    <time summertime="0" choice_timezone="20"/>
    <language choice_language="1"/>
</root>
)";

class TimeBeforeLanguage : public OrvctlApply
{
protected:
    void SetUp() override
    {
        OrvctlApply::SetUp();
        second = startCameraOnLoopback();
        ASSERT_TRUE(second);
        int n = 0;
        for (camsim::SimulatedCamera* c : {camera.camera.get(), second.camera.get()}) {
            TimeRecord time = c->timeRecord();
            time.setNumber(TimeRecord::timeZone, kUtcPlus8);
            c->setTimeRecord(time);
            std::vector<std::uint8_t> device = c->configRecord(ConfigType::Device);
            putText(device, DeviceRecord::deviceId, u"CAM-" + std::u16string(1, static_cast<char16_t>(u'1' + n++)));
            c->setConfigRecord(ConfigType::Device, device);
        }
        setup = (folder / "time-then-language.xml").string();
        writeFile(setup, kTimeBeforeLanguage);
    }

    std::int64_t zoneOf(const LoopbackCamera& c) const { return c->timeRecord().number(TimeRecord::timeZone); }

    LoopbackCamera second;
    std::string setup;
};

TEST_F(TimeBeforeLanguage, ApplyKeepsTheCamerasZone)
{
    const OrvctlRun applied = run({"apply", setup});
    ASSERT_EQ(applied.code, 0) << applied.out << applied.err;
    EXPECT_EQ(applied.out, "apply: sent time\nverify: every sent field reads back as the setup has it\n");
    EXPECT_EQ(zoneOf(camera), kUtcPlus8);
}

TEST_F(TimeBeforeLanguage, ProvisionAllKeepsEveryCamerasZone)
{
    const OrvctlRun r = runOrvctlWith({"--timeout-ms", kTestTimeoutMs, "--address", camera.address, "--address",
                                       second.address, "--poll-ms", "20", "provision", setup, "--all", "--inventory",
                                       (folder / "inv.csv").string(), "--count", "2"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(zoneOf(camera), kUtcPlus8);
    EXPECT_EQ(zoneOf(second), kUtcPlus8);
}

class ApplySetupOnLink : public OrvctlApply
{
protected:
    void SetUp() override
    {
        OrvctlApply::SetUp();
        link.replyTimeout = std::chrono::milliseconds(400);
        ASSERT_EQ(provision::connectAndLogin(link, camera.address, u"admin", u"wrenq"),
                  provision::LoginOutcome::LoggedIn);
        setFrameTrace([this](FrameDirection direction, const std::uint8_t*, std::size_t) {
            sent += direction == FrameDirection::Out ? 1 : 0;
        });
    }

    CameraLink link;
    std::size_t sent = 1; // the login's request
};

TEST_F(ApplySetupOnLink, AFieldTheCameraDropsAfterTheSetIsReported)
{
    const auto plan = planOf(writeSetup(unitSetup()));
    const provision::ApplyReport report = provision::applySetup(
        link, plan, [&](provision::ApplyPhase phase, provision::Group group, const provision::GroupResult&) {
            if (phase == provision::ApplyPhase::Sending && group == provision::Group::Wifi) {
                ASSERT_TRUE(camera->waitForFrames(sent, std::chrono::seconds(5)));
                auto wifi = recordOf<WifiRecord>(camera->configRecord(ConfigType::Wifi));
                wifi.setText(WifiRecord::ssid, u"Reverted");
                camera->setConfigRecord(ConfigType::Wifi, bytesOf(wifi));
            }
        });
    EXPECT_EQ(report.outcome, provision::CameraOutcome::Done);
    ASSERT_EQ(report.differences.size(), 1u);
    EXPECT_EQ(report.differences[0].group, provision::Group::Wifi);
    EXPECT_EQ(report.differences[0].field, "ssid");
    EXPECT_EQ(report.differences[0].cameraText, u"Reverted");
    EXPECT_EQ(report.differences[0].setupText, u"Unit Wifi");
}

TEST_F(ApplySetupOnLink, ACameraThatFallsSilentStopsTheApply)
{
    const auto plan = planOf(writeSetup(unitSetup()));
    const provision::ApplyReport report = provision::applySetup(
        link, plan, [&](provision::ApplyPhase, provision::Group group, const provision::GroupResult&) {
            if (group == provision::Group::UIdentify) {
                camera->stayQuiet(true);
            }
        });
    EXPECT_EQ(report.outcome, provision::CameraOutcome::NoReply);
    EXPECT_EQ(report.failedGroup, provision::Group::Platform);
    EXPECT_EQ(report.failedStep, "read the function record (type 6)");
    EXPECT_EQ(report.sent, std::vector<provision::Group>{provision::Group::UIdentify});
    EXPECT_FALSE(report.verified());
}

} // namespace
} // namespace orv::test
