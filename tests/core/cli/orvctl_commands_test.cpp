// orvctl's single commands against the simulated camera: what goes on the wire, what is printed,
// and the exit codes.
#include "link/local_clock.h"
#include "orvctl/cli_options.h"
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

#include <cstring>
#include <functional>

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::uint16_t kGetTime = 780, kSetTime = 781, kGetUsers = 782, kChangePassword = 783, kFactory = 784,
                        kGetConfig = 896, kSetConfig = 897, kGetProxy = 912, kSetProxy = 913, kFormat = 1544;

class OrvctlCommands : public OrvctlTest
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
        OrvctlTest::TearDown();
    }

    void expectNothingSent()
    {
        EXPECT_EQ(camera->connectionCount(), 0);
        EXPECT_TRUE(camera->receivedFrames().empty());
    }
};

TEST_F(OrvctlCommands, GetAllPrintsEveryGroupInTextAndJson)
{
    const OrvctlRun text = run({"get", "all"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out, "platform.platformChoice=0\n"
                        "platform.serverAddress=127.0.0.1\n"
                        "platform.serverPort=6608\n"
                        "4g.apn=cmnet\n"
                        "4g.apnUser=orv\n"
                        "4g.apnPassword=********\n"
                        "wifi.ssid=ORV-CAM-0001\n"
                        "wifi.wifiPassword=********\n"
                        "device.policeId=PC4471\n"
                        "device.policeName=Dana Whitlow\n"
                        "device.deviceId=ORV202600001\n"
                        "device.companyId=U0815\n"
                        "device.companyName=Harbour District Patrol\n"
                        "device.screenPsk=2468\n"
                        "time.clock=2026-03-05 14:07:09\n"
                        "time.timeZone=20\n"
                        "time.summerTime=0\n"
                        "proxy.proxyEnable=0\n"
                        "proxy.proxyAddress=127.0.0.1\n"
                        "proxy.proxyPort=5060\n"
                        "uidentify.uIdentify=0\n");
    EXPECT_EQ(commands(), (std::vector<std::uint16_t>{kGetUsers, kGetConfig, kGetConfig, kGetConfig, kGetConfig,
                                                      kGetConfig, kGetTime, kGetProxy, kGetConfig}));

    auto wifi = camera->configRecord(ConfigType::Wifi);
    putText(wifi, WifiRecord::ssid, u"Line \"1\"\n\\");
    camera->setConfigRecord(ConfigType::Wifi, wifi);
    const OrvctlRun json = run({"--json", "--show-passwords", "get", "wifi"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out, "{\"wifi\":{\"ssid\":\"Line \\\"1\\\"\\n\\\\\",\"wifiPassword\":\"orv-wifi-2026\"}}\n");
}

TEST_F(OrvctlCommands, PasswordsStayOutOfTheOutput)
{
    const OrvctlRun plain = run({"get", "4g"});
    EXPECT_THAT(plain.out, Not(HasSubstr("orv4g")));
    const OrvctlRun json = run({"--json", "get", "all"});
    EXPECT_THAT(json.out, Not(HasSubstr("orv-wifi-2026")));
    EXPECT_THAT(json.out, HasSubstr("\"wifiPassword\":\"********\""));

    const OrvctlRun refused = run({"--password-stdin", "get", "wifi"}, "Secret-77\n");
    EXPECT_EQ(refused.code, 3);
    EXPECT_THAT(refused.out + refused.err, Not(HasSubstr("Secret-77")));

    const OrvctlRun passwd = run({"--password-stdin", "passwd", "-"}, "wrenq\nNew-Secret-9\n");
    EXPECT_EQ(passwd.code, 0) << passwd.err;
    EXPECT_THAT(passwd.out + passwd.err, Not(HasSubstr("New-Secret-9")));
}

struct SetRow
{
    std::vector<std::string> args;
    ConfigType type;
    std::function<void(std::vector<std::uint8_t>&)> edit;
};

TEST_F(OrvctlCommands, SetChangesOnlyTheNamedFields)
{
    const SetRow rows[] = {
        {{"wifi", "ssid=Station 9"}, ConfigType::Wifi, [](auto& r) { putText(r, WifiRecord::ssid, u"Station 9"); }},
        {{"4g", "PASSWORD=pw"}, ConfigType::Net4g, [](auto& r) { putText(r, Net4gRecord::apnPassword, u"pw"); }},
        {{"device", "officerid=P9", "companyName=Port Unit"},
         ConfigType::Device,
         [](auto& r) {
             putText(r, DeviceRecord::policeId, u"P9");
             putText(r, DeviceRecord::companyName, u"Port Unit");
         }},
        {{"platform", "port=4464"}, ConfigType::TtxServer, [](auto& r) { r[4] = 0x70, r[5] = 0x11; }},
        {{"platform", "serverAddress=" + std::string(70, 'a')},
         ConfigType::TtxServer,
         [](auto& r) { putText(r, TtxServerRecord::serverAddress, std::u16string(70, u'a')); }},
        {{"uidentify", "uIdentify=on"}, ConfigType::Function, [](auto& r) { r[7] = 1; }},
    };
    for (const SetRow& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        camera->clearReceivedFrames();
        std::vector<std::uint8_t> expected = camera->configRecord(row.type);
        row.edit(expected);
        std::vector<std::string> args{"--ip", camera.address, "--timeout-ms", kTestTimeoutMs, "set"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const OrvctlRun result = runOrvctlWith(args);
        ASSERT_EQ(result.code, 0) << result.err;
        const std::size_t frames = row.type == ConfigType::TtxServer ? 4 : 3; // platform reads type 6 first
        awaitFrames(frames);
        const auto received = camera->receivedFrames();
        ASSERT_EQ(received.size(), frames);
        EXPECT_EQ(received.back().command, kSetConfig);
        EXPECT_EQ(payloadOf(received.back()), expected);
        EXPECT_EQ(camera->configRecord(row.type), expected);
    }
}

TEST_F(OrvctlCommands, PlatformSetFollowsThePlatformTheCameraReports)
{
    auto function = camera->configRecord(ConfigType::Function);
    function[FunctionRecord::platformChoice.offset] = 1;
    camera->setConfigRecord(ConfigType::Function, function);
    const auto ttxBefore = camera->configRecord(ConfigType::TtxServer);

    const OrvctlRun wrongPair = run({"set", "platform", "port=1"});
    EXPECT_EQ(wrongPair.code, 1);
    EXPECT_THAT(wrongPair.err, HasSubstr("platform choice 1"));
    EXPECT_THAT(commands(), Not(::testing::Contains(kSetConfig)));

    const OrvctlRun rts = run({"set", "platform", "rtsId=R2", "authcode=C2"});
    ASSERT_EQ(rts.code, 0) << rts.err;
    awaitFrames(2 + 4);
    auto expected = RtsServerRecord{};
    const auto rtsNow = camera->configRecord(ConfigType::RtsServer);
    std::copy(rtsNow.begin(), rtsNow.end(), expected.bytes.begin());
    EXPECT_EQ(expected.text(RtsServerRecord::rtsId), u"R2");
    EXPECT_EQ(expected.text(RtsServerRecord::rtsCode), u"C2");
    EXPECT_EQ(camera->configRecord(ConfigType::TtxServer), ttxBefore);
    EXPECT_EQ(run({"get", "platform"}).out, "platform.platformChoice=1\nplatform.rtsId=R2\nplatform.rtsCode=C2\n");

    function[FunctionRecord::platformChoice.offset] = 7;
    camera->setConfigRecord(ConfigType::Function, function);
    EXPECT_EQ(run({"get", "platform"}).code, 1);
}

TEST_F(OrvctlCommands, TimeSetSendsTheComputersClockWithZoneAndSummerTime)
{
    setLocalClock([] { return LocalDateTime{2018, 3, 5, 14, 7, 9}; });
    TimeRecord before = camera->timeRecord();
    const OrvctlRun result = run({"set", "time", "zone=8", "dst=on"});
    ASSERT_EQ(result.code, 0) << result.err;
    awaitFrames(3);
    const auto frames = camera->receivedFrames();
    ASSERT_EQ(frames.back().command, kSetTime);
    const auto sent = payloadOf(frames.back());
    EXPECT_EQ(std::vector<std::uint8_t>(sent.begin(), sent.begin() + 6),
              (std::vector<std::uint8_t>{9, 7, 14, 5, 3, 118}));
    EXPECT_EQ(sent[71], 8);
    EXPECT_EQ(sent[72], 1);
    EXPECT_TRUE(std::equal(sent.begin() + 6, sent.begin() + 71, before.bytes.begin() + 6));
    EXPECT_TRUE(std::equal(sent.begin() + 73, sent.end(), before.bytes.begin() + 73));

    camera->clearReceivedFrames();
    ASSERT_EQ(run({"set", "time", "timeZone=30"}).code, 0);
    awaitFrames(3);
    EXPECT_EQ(payloadOf(camera->receivedFrames().back())[71], 255) << "no zone row is sent as 255";
    EXPECT_EQ(payloadOf(camera->receivedFrames().back())[72], 1) << "summer time not named, kept";
}

TEST_F(OrvctlCommands, ProxySetBuildsTheRecordFromZero)
{
    ProxyRecord proxy;
    proxy.setNumber(ProxyRecord::proxyEnable, 5);
    proxy.setText(ProxyRecord::proxyAddress, u"10.9.8.7-long-address");
    proxy.setText(ProxyRecord::proxyAddress, u"10.9.8.7"); // leaves an old tail after the zero
    proxy.setNumber(ProxyRecord::proxyPort, 5060);
    camera->setProxyRecord(proxy);

    ASSERT_EQ(run({"set", "proxy", "port=5070"}).code, 0);
    awaitFrames(3);
    ProxyRecord expected;
    expected.setNumber(ProxyRecord::proxyEnable, 1);
    expected.setText(ProxyRecord::proxyAddress, u"10.9.8.7");
    expected.setNumber(ProxyRecord::proxyPort, 5070);
    EXPECT_EQ(camera->receivedFrames().back().command, kSetProxy);
    EXPECT_EQ(payloadOf(camera->receivedFrames().back()),
              std::vector<std::uint8_t>(expected.bytes.begin(), expected.bytes.end()));
}

TEST_F(OrvctlCommands, UsageErrorsSendNothing)
{
    const std::vector<std::vector<std::string>> lines = {
        {"set", "wifi", "bogus=1"},
        {"set", "wifi", "ssid=ok", "bogus=1"},
        {"set", "wifi", "ssid"},
        {"set", "time", "second=5"},
        {"set", "platform", "platformChoice=1"},
        {"set", "time", "dst=maybe"},
        {"set", "nowhere", "a=b"},
        {"set", "wifi"},
        {"get", "nothing"},
        {"get"},
        {"uidentify", "maybe"},
        {"factory"},
        {"format"},
        {"--password", "x", "get", "wifi"},
        {"--password-stdin", "--password-file", "f", "get", "wifi"},
        {"--count", "2", "get", "wifi"},
        {"--timeout-ms", "0", "get", "wifi"},
        {"--timeout-ms", "5x", "get", "wifi"},
        {"--poll-ms", "", "get", "wifi"},
        {"set", "time", "zone=abc"},
        {"set", "time", "dst=on", "zone=+8x"},
        {"set", "time", "zone=UTC+8"},
        {"set", "platform", "port=80x"},
        {"set", "platform", "serverAddress=10.0.0.1", "port=70000"},
        {"set", "proxy", "port=abc"},
        {"set", "proxy", "port=-5"},
        {"provision", "setup.xml"},
        {"frobnicate"},
        {},
    };
    for (const auto& line : lines) {
        std::vector<std::string> args{"--ip", camera.address};
        args.insert(args.end(), line.begin(), line.end());
        std::string joined;
        for (const auto& a : line) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        const OrvctlRun result = runOrvctlWith(args);
        EXPECT_EQ(result.code, 2);
        EXPECT_THAT(result.err, HasSubstr("orvctl: "));
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_EQ(runOrvctlWith({"--ip", "300.1.1.1", "get", "wifi"}).code, 2);
    EXPECT_EQ(run({"--password-stdin", "get", "wifi"}, "").code, 2) << "no password line";
    expectNothingSent();
}

TEST_F(OrvctlCommands, FailuresNameTheAddressAndTheStep)
{
    const OrvctlRun refused = run({"--user", "nobody", "get", "wifi"});
    EXPECT_EQ(refused.code, 3);
    EXPECT_THAT(refused.err, HasSubstr(camera.address + ": login: "));
    EXPECT_EQ(commands(), (std::vector<std::uint16_t>{kGetUsers}));

    camera->stayQuiet(true);
    const OrvctlRun silent = run({"get", "wifi"});
    EXPECT_EQ(silent.code, 4);
    EXPECT_THAT(silent.err, HasSubstr(camera.address + ": login: the camera sent no account table"));
    camera->stayQuiet(false);

    const std::string address = camera.address;
    camera->stop();
    const OrvctlRun gone = run({"--json", "timesync"});
    EXPECT_EQ(gone.code, 4);
    EXPECT_THAT(gone.err, HasSubstr(address + ": connect: "));
    EXPECT_EQ(gone.out, "{\"error\":{\"address\":\"" + address +
                            "\",\"step\":\"connect\",\"message\":\"no camera answers on port 19436\","
                            "\"exitCode\":4}}\n");
}

TEST_F(OrvctlCommands, ActionsSendTheirRequests)
{
    struct Row
    {
        std::vector<std::string> args;
        std::uint16_t command;
        std::vector<std::uint8_t> payload;
    };
    PasswordChange change;
    change.setNumber(PasswordChange::operation, 2);
    change.setText(PasswordChange::name, u"admin");
    change.setText(PasswordChange::password, u"n3w");
    const Row rows[] = {
        {{"passwd", "n3w"}, kChangePassword, {change.bytes.begin(), change.bytes.end()}},
        {{"factory", "--yes"}, kFactory, {2, 0, 0, 0}},
        {{"format", "--yes"}, kFormat, {}},
        {{"udisk"}, kSetConfig, {7}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0]);
        camera->clearReceivedFrames();
        std::vector<std::string> args{"--ip", camera.address, "--timeout-ms", kTestTimeoutMs};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const OrvctlRun result = runOrvctlWith(args, "");
        ASSERT_EQ(result.code, 0) << result.err;
        awaitFrames(2);
        const auto frames = camera->receivedFrames();
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].command, kGetUsers);
        EXPECT_EQ(frames[1].command, row.command);
        EXPECT_EQ(payloadOf(frames[1]), row.payload);
        if (row.command == kChangePassword) {
            // Put the account back for the rows after this one.
            camera->resetToDefaults();
        }
    }
}

TEST_F(OrvctlCommands, TimeSyncAndUIdentifyReadBeforeTheyWrite)
{
    ASSERT_EQ(run({"timesync"}).code, 0);
    awaitFrames(3);
    EXPECT_EQ(commands(), (std::vector<std::uint16_t>{kGetUsers, kGetTime, kSetTime}));

    camera->clearReceivedFrames();
    const OrvctlRun on = run({"--json", "uidentify", "on"});
    ASSERT_EQ(on.code, 0);
    EXPECT_EQ(on.out, "{\"command\":\"uidentify\",\"address\":\"" + camera.address + "\",\"result\":\"sent\"}\n");
    awaitFrames(3);
    EXPECT_EQ(commands(), (std::vector<std::uint16_t>{kGetUsers, kGetConfig, kSetConfig}));
    EXPECT_EQ(camera->configRecord(ConfigType::Function)[FunctionRecord::uIdentify.offset], 1);
}

TEST_F(OrvctlCommands, ExportIdAppendsOneUtf16Line)
{
    const auto file = folder / "deviceid.txt";
    const std::string path = file.string();
    ASSERT_EQ(run({"export-id", path}).code, 0);
    auto device = camera->configRecord(ConfigType::Device);
    putText(device, DeviceRecord::deviceId, u"ABC123");
    camera->setConfigRecord(ConfigType::Device, device);
    ASSERT_EQ(run({"export-id", path}).code, 0);

    std::string expected;
    for (const char c : std::string("ORV202600001\r\nABC123\r\n")) {
        expected += c;
        expected += '\0';
    }
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(run({"export-id", (folder / "no-such-folder" / "id.txt").string()}).code, 1);
}

TEST(OrvctlCommandLine, HelpAndTheLedgerTouchNoCamera)
{
    const OrvctlRun help = runOrvctlWith({"--ip", "127.0.0.1", "set", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out, cli::commandLineHelp(std::vector<std::string>{"set"}));
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(runOrvctlWith({"help"}).out, cli::commandLineHelp());

    const OrvctlRun ledger = runOrvctlWith({"ledger", "head", "--ledger", "no-such-ledger.db"});
    EXPECT_EQ(ledger.code, 1);
    EXPECT_EQ(ledger.err,
              "orvctl: ledger no-such-ledger.db: there is no ledger file there (nothing has been recorded in it)\n");
    EXPECT_EQ(ledger.out, "");

    const OrvctlRun usage = runOrvctlWith({"ledger", "who", "ORV1"});
    EXPECT_EQ(usage.code, 2);
    EXPECT_EQ(usage.err, "orvctl: ledger who needs --at TIME\nTry 'orvctl --help'.\n");
}

} // namespace
} // namespace orv::test
