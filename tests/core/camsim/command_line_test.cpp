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

    const CommandLine all = parseCommandLine({"--listen", "127.0.10.9", "--port=2000", "--sdk-port", "2001", "--state",
                                              "cam state.ini", "--verbose", "--reply-delay-ms", "20"});
    ASSERT_EQ(all.action, CommandLine::Action::Run) << all.error;
    EXPECT_EQ(all.options.listenAddress, "127.0.10.9");
    EXPECT_EQ(all.options.port, 2000);
    EXPECT_EQ(all.options.sdkPort, 2001);
    EXPECT_EQ(all.options.stateFile, "cam state.ini");
    EXPECT_TRUE(all.options.verbose);
    EXPECT_EQ(all.replyDelay, std::chrono::milliseconds(20));
    EXPECT_EQ(none.replyDelay, std::chrono::milliseconds(0));

    EXPECT_EQ(parseCommandLine({"--verbose", "--help"}).action, CommandLine::Action::Help);
    // --version answers even after an option that would fail the run.
    EXPECT_EQ(parseCommandLine({"--port=19437", "--version"}).action, CommandLine::Action::Version);
    EXPECT_EQ(versionText(), "1.0.0.2\n");
}

TEST(CommandLineTest, BadArgumentsSayWhatIsWrong)
{
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
