// orv-camsim's options.

#include "tools/camsim/command_line.h"
#include "tools/camsim/state_file.h"

#include "link/utf.h"
#include "link/program_arguments.h"

#include <gtest/gtest.h>

#include <filesystem>

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

// On Windows the narrow argv holds the ANSI code page's bytes: a state file named in Chinese came
// out as GBK (code page 936) or question marks (1252), and its name was no UTF-8 for the state
// file's code. The wide command line names the file the operator meant.
TEST(CommandLineTest, WideCommandLineKeepsAChineseStateFileName)
{
#ifdef _WIN32
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / fs::path(u"orv-camsim-\u76F8\u673A-args");
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / fs::path(u"\u8BBE\u7F6E 1.state"); // 设置 1.state
    const std::wstring line = L"orv-camsim.exe --state \"" + file.wstring() + L"\" --device-id=\u4E00\u4E2D\u961F01 -v";

    const std::vector<std::string> args = argumentsOfCommandLine(line.c_str());
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0], "--state");
    EXPECT_EQ(args[1], utf::toUtf8(file.u16string()));
    EXPECT_EQ(args[2], "--device-id=" + utf::toUtf8(u"\u4E00\u4E2D\u961F01")); // 一中队01
    EXPECT_EQ(args[3], "-v");

    const CommandLine parsed = parseCommandLine(args);
    ASSERT_EQ(parsed.action, CommandLine::Action::Run) << parsed.error;
    EXPECT_EQ(parsed.options.deviceId, utf::toUtf8(u"\u4E00\u4E2D\u961F01"));
    // The camera keeps its state in the file of that very name, not in one of mangled bytes.
    CameraState state;
    std::string error;
    ASSERT_TRUE(saveStateFile(parsed.options.stateFile, state, &error)) << error;
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
#else
    GTEST_SKIP() << "the narrow arguments are the program's own bytes here";
#endif
}

} // namespace
} // namespace orv::camsim
