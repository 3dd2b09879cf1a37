// The passwords that set and passwd write: from standard input, from --secrets-file, or (with a
// warning) from the command line; and what a mistake in any of them sends (nothing).
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

#include <functional>

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::uint16_t kChangePassword = 783, kSetConfig = 897;

class OrvctlSecrets : public OrvctlTest
{
protected:
    std::string secretsFile(std::string_view bytes)
    {
        const auto file = folder / "secrets.txt";
        writeFile(file, bytes);
        return file.string();
    }

    std::vector<std::string> withCamera(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--ip", camera.address, "--timeout-ms", kTestTimeoutMs});
        return args;
    }
};

TEST_F(OrvctlSecrets, SetTakesPasswordsFromStandardInputOrTheSecretsFile)
{
    struct Row
    {
        std::vector<std::string> args; // "FILE" stands for the secrets file
        std::string input;
        std::string file;
        ConfigType type;
        std::function<void(std::vector<std::uint8_t>&)> edit;
    };
    const Row rows[] = {
        // Line 1 is the login password, the "-" values follow.
        {{"--password-stdin", "set", "4g", "apn=web", "password=-"},
         "wrenq\nAPN pw 1\n",
         "",
         ConfigType::Net4g,
         [](auto& r) {
             putText(r, Net4gRecord::apn, u"web");
             putText(r, Net4gRecord::apnPassword, u"APN pw 1");
         }},
        // Without --password-stdin the first line is the first "-"; only password fields read it.
        {{"set", "wifi", "ssid=-", "wifiPassword=-"},
         "W-1=x\r\nnot read\n",
         "",
         ConfigType::Wifi,
         [](auto& r) {
             putText(r, WifiRecord::ssid, u"-");
             putText(r, WifiRecord::wifiPassword, u"W-1=x");
         }},
        // The file's password for the group joins the named fields; the other group's is not sent.
        {{"--secrets-file", "FILE", "set", "wifi", "ssid=Unit 7"},
         "",
         "\xEF\xBB\xBF# fleet\r\n\r\nWIFIPASSWORD= w f=2 \r\napnPassword=unused",
         ConfigType::Wifi,
         [](auto& r) {
             putText(r, WifiRecord::ssid, u"Unit 7");
             putText(r, WifiRecord::wifiPassword, u" w f=2 ");
         }},
        {{"set", "4g", "--secrets-file", "FILE"},
         "",
         "apnPassword=A4\n",
         ConfigType::Net4g,
         [](auto& r) { putText(r, Net4gRecord::apnPassword, u"A4"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[1] + " " + row.args[2] + " " + row.args.back());
        camera->resetToDefaults();
        camera->clearReceivedFrames();
        std::vector<std::uint8_t> expected = camera->configRecord(row.type);
        row.edit(expected);
        std::vector<std::string> args = withCamera(row.args);
        for (std::string& a : args) {
            a = a == "FILE" ? secretsFile(row.file) : a;
        }
        const OrvctlRun result = runOrvctlWith(args, row.input);
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.err, "") << "no warning when no password is on the command line";
        awaitFrames(3);
        const auto frames = camera->receivedFrames();
        ASSERT_EQ(frames.size(), 3u);
        EXPECT_EQ(frames.back().command, kSetConfig);
        EXPECT_EQ(payloadOf(frames.back()), expected);
    }
}

TEST_F(OrvctlSecrets, PasswdTakesTheNewPasswordFromTheSecretsFile)
{
    const std::string file = secretsFile("new-password=N3w pw\r\n");
    const OrvctlRun result = runOrvctlWith(withCamera({"--secrets-file", file, "passwd"}));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    awaitFrames(2);
    PasswordChange change;
    change.setNumber(PasswordChange::operation, 2);
    change.setText(PasswordChange::name, u"admin");
    change.setText(PasswordChange::password, u"N3w pw");
    ASSERT_EQ(camera->receivedFrames().size(), 2u);
    EXPECT_EQ(camera->receivedFrames()[1].command, kChangePassword);
    EXPECT_EQ(payloadOf(camera->receivedFrames()[1]),
              std::vector<std::uint8_t>(change.bytes.begin(), change.bytes.end()));
}

TEST_F(OrvctlSecrets, APasswordOnTheCommandLineStillWorksButIsWarnedOf)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"set", "wifi", "password=Lit-1"}, "wifiPassword=-"},
        {{"set", "4g", "APNPASSWORD=Lit-2"}, "apnPassword=-"},
        {{"passwd", "Lit-3"}, "\"passwd -\""},
    };
    for (const auto& [args, instead] : rows) {
        SCOPED_TRACE(args.back());
        camera->resetToDefaults();
        const OrvctlRun result = runOrvctlWith(withCamera(args));
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_THAT(result.err, HasSubstr("orvctl: warning: "));
        EXPECT_THAT(result.err, HasSubstr("other users of this computer"));
        EXPECT_THAT(result.err, HasSubstr(instead));
        EXPECT_THAT(result.err, Not(HasSubstr(args.back().substr(args.back().find('=') + 1))));
    }
}

TEST_F(OrvctlSecrets, MistakesAreUsageErrorsAndSendNothing)
{
    struct Row
    {
        std::vector<std::string> args; // "FILE" stands for the secrets file
        std::string input;
        std::string file;
        std::string error;
    };
    const Row rows[] = {
        {{"set", "wifi", "password=-"}, "", "", "wifiPassword=-: no line left on standard input"},
        {{"--password-stdin", "set", "wifi", "password=-"}, "wrenq\n", "", "no line left"},
        {{"--password-stdin", "passwd", "-"}, "wrenq", "", "no new password on standard input"},
        {{"--secrets-file", "FILE", "passwd"}, "", "password=Sec-1\n", "line 1: unknown name \"password\""},
        {{"--secrets-file", "FILE", "passwd"}, "", "# x\nSec-2\n", "line 2 is not NAME=VALUE"},
        {{"--secrets-file", "FILE", "passwd"}, "", "new-password=a\nNEW-PASSWORD=Sec-3\n", "given twice"},
        {{"--secrets-file", "FILE", "passwd"}, "", "wifiPassword=Sec-4\n", "has no new-password line"},
        {{"--secrets-file", "FILE", "passwd", "-"}, "Sec-5\n", "new-password=b\n", "both on the command line"},
        {{"--secrets-file", "FILE", "set", "wifi", "password=-"},
         "Sec-6\n",
         "wifiPassword=c\n",
         "wifiPassword is given both on the command line and in "},
        {{"--secrets-file", "FILE", "set", "wifi"}, "", "apnPassword=Sec-7\n", "has no password for wifi"},
        {{"--secrets-file", "FILE", "set", "device"}, "", "", "has no password for device"},
        {{"--secrets-file", "no-such-file", "passwd"}, "", "", "--secrets-file: cannot read no-such-file"},
        // A later mistake still stops what the earlier secrets would have sent.
        {{"set", "wifi", "password=-", "bogus=1"}, "Sec-8\n", "", "unknown field \"bogus\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        std::vector<std::string> args = withCamera(row.args);
        for (std::string& a : args) {
            a = a == "FILE" ? secretsFile(row.file) : a;
        }
        const OrvctlRun result = runOrvctlWith(args, row.input);
        EXPECT_EQ(result.code, 2);
        EXPECT_THAT(result.err, HasSubstr(row.error));
        EXPECT_THAT(result.err, Not(HasSubstr("Sec-")));
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(camera->connectionCount(), 0);
    EXPECT_TRUE(camera->receivedFrames().empty());
}

TEST(OrvctlVersion, VersionIsPrintedWithoutTouchingACamera)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"--ip", "127.0.0.1", "get", "wifi", "--version"}}) {
        const OrvctlRun result = runOrvctlWith(args);
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out, "orvctl 1.0.0.2\n");
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
} // namespace orv::test
