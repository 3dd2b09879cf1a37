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

    const CommandLine all =
        parseCommandLine({"--listen", "127.0.10.9", "--port=2000", "--state", "cam state.ini", "--verbose"});
    ASSERT_EQ(all.action, CommandLine::Action::Run) << all.error;
    EXPECT_EQ(all.options.listenAddress, "127.0.10.9");
    EXPECT_EQ(all.options.port, 2000);
    EXPECT_EQ(all.options.stateFile, "cam state.ini");
    EXPECT_TRUE(all.options.verbose);

    EXPECT_EQ(parseCommandLine({"--verbose", "--help"}).action, CommandLine::Action::Help);
}

TEST(CommandLineTest, BadArgumentsSayWhatIsWrong)
{
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--port", "0"}, "--port: \"0\" is not a port number"},
        {{"--port", "65536"}, "--port: \"65536\" is not a port number"},
        {{"--port", "12x"}, "--port: \"12x\" is not a port number"},
        {{"--listen", "localhost"}, "--listen: \"localhost\" is not an IPv4 address"},
        {{"--listen", "127.0.0.256"}, "--listen: \"127.0.0.256\" is not an IPv4 address"},
        {{"--state"}, "--state needs a value"},
        {{"--state="}, "--state needs a file name"},
        {{"--verbose=1"}, "--verbose takes no value"},
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
