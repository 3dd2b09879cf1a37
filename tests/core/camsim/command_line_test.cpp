// orv-camsim's options.

#include "tools/camsim/command_line.h"

#include <gtest/gtest.h>

namespace orv::camsim {
namespace {

TEST(CommandLineTest, DefaultsAndEveryOption)
{
    const CommandLine none = parseCommandLine({});
    EXPECT_EQ(none.action, CommandLine::Action::Run);
    EXPECT_EQ(none.options.listenAddress, "127.0.0.1");
    EXPECT_EQ(none.options.port, 19436);
    EXPECT_TRUE(none.options.stateFile.empty());
    EXPECT_FALSE(none.options.verbose);
    EXPECT_EQ(none.options.sdkPort, 19437);
    EXPECT_TRUE(none.options.deviceId.empty());
    EXPECT_FALSE(none.options.oneConnection);

    const CommandLine all =
        parseCommandLine({"--listen", "127.0.10.9", "--port=2000", "--sdk-port", "2001", "--state", "cam state.ini",
                          "--verbose", "--reply-delay-ms", "20", "--device-id", "CAM 07", "--one-connection"});
    ASSERT_EQ(all.action, CommandLine::Action::Run) << all.error;
    EXPECT_EQ(all.options.listenAddress, "127.0.10.9");
    EXPECT_EQ(all.options.port, 2000);
    EXPECT_EQ(all.options.sdkPort, 2001);
    EXPECT_EQ(all.options.stateFile, "cam state.ini");
    EXPECT_TRUE(all.options.verbose);
    EXPECT_EQ(all.options.deviceId, "CAM 07");
    EXPECT_TRUE(all.options.oneConnection);
    EXPECT_EQ(all.replyDelay, std::chrono::milliseconds(20));
    EXPECT_EQ(none.replyDelay, std::chrono::milliseconds(0));

    EXPECT_EQ(parseCommandLine({"--verbose", "--help"}).action, CommandLine::Action::Help);
    // --version answers even after an option that would fail the run.
    EXPECT_EQ(parseCommandLine({"--port=19437", "--version"}).action, CommandLine::Action::Version);
    EXPECT_EQ(versionText(), "1.0.0.2\n");
}

// The field holds 32 bytes of the link's 8-bit text: Latin-1 takes one byte, GBK two.
TEST(CommandLineTest, DeviceIdUpToTheFieldsWidth)
{
    std::string gbk16;
    for (int i = 0; i < 16; ++i) {
        gbk16 += "\xE7\xBD\x91";
    }
    for (const std::string& id : {std::string(32, 'Z'), gbk16, std::string("caf\xC3\xA9 ?"), std::string("1")}) {
        const CommandLine result = parseCommandLine({"--device-id=" + id});
        EXPECT_EQ(result.action, CommandLine::Action::Run) << result.error;
        EXPECT_EQ(result.options.deviceId, id);
    }
}

TEST(CommandLineTest, BadArgumentsSayWhatIsWrong)
{
    const std::string gbk17 = [] {
        std::string s;
        for (int i = 0; i < 17; ++i) {
            s += "\xE7\xBD\x91";
        }
        return s;
    }();
    const std::string tooLong = "--device-id \"" + std::string(33, 'Z') + "\": it takes 33 bytes on the camera";
    const std::string tooWide = "--device-id \"" + gbk17 + "\": it takes 34 bytes on the camera; the field holds 32";
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--port", "0"}, "--port: \"0\" is not a port number"},
        {{"--port", "65536"}, "--port: \"65536\" is not a port number"},
        {{"--port", "12x"}, "--port: \"12x\" is not a port number"},
        {{"--sdk-port", "0"}, "--sdk-port: \"0\" is not a port number"},
        {{"--sdk-port"}, "--sdk-port needs a value"},
        {{"--sdk-port=19436"}, "--port and --sdk-port are both 19436"},
        {{"--port", "2000", "--sdk-port", "2000"}, "--port and --sdk-port are both 2000"},
        {{"--listen", "localhost"}, "--listen: \"localhost\" is not an IPv4 address"},
        {{"--listen", "127.0.0.256"}, "--listen: \"127.0.0.256\" is not an IPv4 address"},
        {{"--state"}, "--state needs a value"},
        {{"--state="}, "--state needs a file name"},
        {{"--verbose=1"}, "--verbose takes no value"},
        {{"--reply-delay-ms", "-1"}, "--reply-delay-ms: \"-1\" is not a number of milliseconds"},
        {{"--reply-delay-ms=10001"}, "--reply-delay-ms: \"10001\" is not a number of milliseconds"},
        {{"--reply-delay-ms="}, "--reply-delay-ms: \"\" is not a number of milliseconds"},
        {{"--device-id"}, "--device-id needs a value"},
        {{"--device-id="}, "--device-id needs an id"},
        {{"--device-id", std::string(33, 'Z')}, tooLong.c_str()},
        {{"--device-id", gbk17}, tooWide.c_str()},
        {{"--device-id", "CAM \xF0\x9F\x93\xB7"},
         "--device-id \"CAM \xF0\x9F\x93\xB7\": \"\xF0\x9F\x93\xB7\" cannot be stored"},
        {{"--one-connection=yes"}, "--one-connection takes no value"},
        {{"--colour"}, "unknown option \"--colour\""},
        {{"extra"}, "unknown option \"extra\""},
    };
    for (const auto& [args, message] : rows) {
        const CommandLine result = parseCommandLine(args);
        EXPECT_EQ(result.action, CommandLine::Action::Error) << message;
        EXPECT_EQ(result.error.rfind(message, 0), 0u) << result.error;
    }
}

} // namespace
} // namespace orv::camsim
