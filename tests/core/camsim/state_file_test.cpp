// The state file: exact round trip, hand edits, broken files, and the camera keeping its state
// across restarts.

#include "tests/core/camsim/camera_fixture.h"
#include "tools/camsim/state_file.h"

#include "link/local_clock.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace orv::camsim::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Every byte of every record random, texts included: high bytes, control characters, quotes,
// fields without a terminating zero.
CameraState randomState(std::uint32_t seed)
{
    std::mt19937 gen(seed);
    CameraState state;
    auto fill = [&](std::span<std::uint8_t> bytes) {
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(gen());
        }
    };
    fill(state.users.bytes);
    state.users.setNumber(UserTable::count, 10);
    for (const ConfigType type : kConfigTypes) {
        fill(state.configBytes(type));
    }
    fill(state.proxy.bytes);
    fill(state.time.bytes);
    fill(state.gb28181.bytes);
    state.clockOffsetSeconds = -123456789;
    state.wifi.setText(WifiRecord::ssid, u"quote \" back \\ tab \t = # [x]");
    return state;
}

class StateFileTest : public CameraFixture
{
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("orv-camsim-" + std::string(info->name()) + "-" + std::to_string(std::random_device{}()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "camera.ini";
    }
    void TearDown() override
    {
        camera.reset();
        fs::remove_all(dir);
        setLocalClock({});
    }

    // Cameras made here rather than by startCamera() still need an address of the test's own.
    CameraOptions withFile(int host) const
    {
        CameraOptions options;
        options.listenAddress = hostAddress(host);
        options.stateFile = file.string();
        options.log = [](const std::string&) {};
        return options;
    }

    fs::path dir;
    fs::path file;
};

TEST_F(StateFileTest, RenderedStateParsesBackToTheSameBytes)
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        const CameraState state = randomState(seed);
        CameraState parsed;
        std::string error;
        ASSERT_TRUE(parseStateFile(renderStateFile(state), parsed, &error)) << error;
        EXPECT_TRUE(parsed == state);
    }
}

TEST_F(StateFileTest, FileShowsTheFieldsReadably)
{
    const std::string text = renderStateFile(CameraState{});
    for (const char* line : {"[accounts]", "name.0 = \"admin\"", "password.0 = \"wrenq\"", "[device]",
                             "deviceId = \"ORV202600001\"", "apn = \"cmnet\"", "serverPort = 6608",
                             "platformChoice = 0", "offsetSeconds = 0", "timeZone = 20", "bytes = 0161646D696E"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST_F(StateFileTest, EditedFieldWinsOverTheHexAndKeepsTheRest)
{
    std::string text = renderStateFile(CameraState{});
    const std::string from = "ssid = \"ORV-CAM-0001\"";
    text.replace(text.find(from), from.size(), "ssid = Yard \xE7\xBD\x91"); // unquoted, with a GBK character
    CameraState parsed;
    std::string error;
    ASSERT_TRUE(parseStateFile(text, parsed, &error)) << error;

    CameraState expected;
    expected.wifi.setText(WifiRecord::ssid, u"Yard \u7F51");
    EXPECT_EQ(parsed.wifi, expected.wifi);
    EXPECT_EQ(parsed.device, expected.device);
}

TEST_F(StateFileTest, HandWrittenFileNeedsOnlyWhatChanges)
{
    CameraState parsed;
    std::string error;
    ASSERT_TRUE(parseStateFile("[function]\nplatformChoice = 1\n\n[clock]\nsummerTime = 1\n\n"
                               "[gb28181]\nenable = 1\nserverAddress = 127.0.0.9\n",
                               parsed, &error))
        << error;
    CameraState expected;
    expected.function.setNumber(FunctionRecord::platformChoice, 1);
    expected.time.setNumber(TimeRecord::summerTime, 1);
    expected.gb28181.setNumber(Gb28181Record::enable, 1);
    expected.gb28181.setText(Gb28181Record::serverAddress, u"127.0.0.9");
    EXPECT_TRUE(parsed == expected);
}

struct BrokenFile
{
    const char* text;
    const char* message;
};

TEST_F(StateFileTest, BrokenFileIsRejectedWithItsLine)
{
    const BrokenFile rows[] = {
        {"[wifi]\nbytes = 0102\n", "line 2: \"bytes\" holds 2 bytes; the record has 191"},
        {"[wifi]\nbytes = 0G\n", "line 2: \"bytes\" must be hex digits"},
        {"[wifi]\nbytes = 012\n", "line 2: \"bytes\" must be hex digits"},
        {"\n[cameras]\n", "line 2: unknown section [cameras]"},
        {"[wifi]\nchannel = 6\n", "line 2: unknown setting \"channel\" in [wifi]"},
        {"ssid = x\n", "line 1: a setting before any section"},
        {"[wifi]\nssid\n", "line 2: expected \"name = value\""},
        {"[wifi]\nssid = \"open\n", "line 2: the closing quote is missing"},
        {"[wifi]\nssid = \"a\" b\n", "line 2: text after the closing quote"},
        {"[wifi]\nssid = \"\\q\"\n", "line 2: unknown escape \\q"},
        {"[wifi]\nssid = a\nssid = b\n", "line 3: \"ssid\" appears twice in its section"},
        {"[wifi]\n[wifi]\n", "line 2: section [wifi] appears twice"},
        {"[function]\nuIdentify = 256\n", "line 2: \"uIdentify\" must be a number that fits the field"},
        {"[ttxServer]\nserverPort = 80a\n", "line 2: \"serverPort\" must be a number that fits the field"},
        {"[clock]\noffsetSeconds = 99999999999999\n", "line 2: offsetSeconds must be a whole number"},
        {"[camsim]\nformat = 2\n", "line 2: unsupported format \"2\""},
        {"[wifi\n", "line 1: a section header must end with ]"},
        {"[gb28181]\nbytes = 00\n", "line 2: \"bytes\" holds 1 bytes; the record has 844"},
        {"[gb28181]\nheartbeatInterval = 65536\n", "line 2: \"heartbeatInterval\" must be a number that fits"},
        {"[gb28181]\nsipPort = 5060\n", "line 2: unknown setting \"sipPort\" in [gb28181]"},
    };
    for (const BrokenFile& row : rows) {
        SCOPED_TRACE(row.text);
        CameraState state = randomState(1);
        const CameraState before = state;
        std::string error;
        EXPECT_FALSE(parseStateFile(row.text, state, &error));
        EXPECT_EQ(error.rfind(row.message, 0), 0u) << error;
        EXPECT_TRUE(state == before) << "nothing taken from a broken file";
    }
}

TEST_F(StateFileTest, FailedSaveLeavesTheOldFile)
{
    ASSERT_TRUE(saveStateFile(file.string(), CameraState{}, nullptr));
    const std::string before = readFile(file);
    fs::create_directory(file.string() + ".tmp"); // the temporary file cannot be written
    std::string error;
    EXPECT_FALSE(saveStateFile(file.string(), randomState(3), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(file), before);
}

TEST_F(StateFileTest, CameraKeepsItsStateAcrossRestarts)
{
    setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 9}; });
    ASSERT_NO_FATAL_FAILURE(startCamera(40, withFile(40)));
    Bytes wifi(WifiRecord::kSize, 0xC4); // no GBK pair: C4 C4 is one, but a lone tail is not
    wifi[0] = 2;
    wifi[WifiRecord::kSize - 1] = 0xFF;
    ASSERT_TRUE(client.send(frame(Command::SetConfig, wifi)));
    PasswordChange change;
    change.setNumber(PasswordChange::operation, 2);
    change.setText(PasswordChange::name, u"admin");
    change.setText(PasswordChange::password, u"caf\u00E9");
    ASSERT_TRUE(client.send(frame(Command::ChangePassword, bytesOf(change))));
    TimeRecord time = camera->timeRecord();
    time.bytes[5] = 130; // 2030
    time.setNumber(TimeRecord::summerTime, 1);
    ASSERT_TRUE(client.send(frame(Command::SetTime, bytesOf(time))));
    ASSERT_EQ(exchange(frame(Command::GetUsers), UserTable::kSize).size(), kFrameHeaderSize + UserTable::kSize);
    const UserTable users = camera->accounts();
    client.close();
    camera->stop();

    SimulatedCamera again(withFile(40));
    std::string error;
    ASSERT_TRUE(again.start(&error)) << error;
    EXPECT_EQ(again.configRecord(ConfigType::Wifi), wifi);
    EXPECT_EQ(again.accounts(), users);
    EXPECT_EQ(again.timeRecord(), time);
}

// A file written before the camera kept its GB28181 record: the rest loads, that record starts
// from its defaults, and the next save adds it.
TEST_F(StateFileTest, FileWithoutTheGb28181RecordStillLoads)
{
    CameraState edited;
    edited.wifi.setText(WifiRecord::ssid, u"Old Yard");
    edited.gb28181.setText(Gb28181Record::serverId, u"34020000002000000777");
    std::string text = renderStateFile(edited);
    const auto section = text.find("\n[gb28181]");
    ASSERT_NE(section, std::string::npos);
    text.erase(section, text.find("\n[", section + 1) - section); // npos when it is the last section
    ASSERT_EQ(text.find("gb28181"), std::string::npos);
    writeFile(file, text);

    ASSERT_NO_FATAL_FAILURE(startCamera(43, withFile(43)));
    EXPECT_EQ(camera->configRecord(ConfigType::Wifi), bytesOf(edited.wifi));
    EXPECT_EQ(camera->gb28181Record(), bytesOf(CameraState{}.gb28181));
    camera->setGb28181Record(bytesOf(edited.gb28181));
    EXPECT_NE(readFile(file).find("serverId = \"34020000002000000777\""), std::string::npos);
}

// A Set through the SDK port is saved, and the camera started again on the same file serves it.
TEST_F(StateFileTest, Gb28181RecordSetThroughTheSdkSurvivesARestart)
{
    CameraOptions options = withFile(44);
    options.sdkPort = 0;
    ASSERT_NO_FATAL_FAILURE(startCamera(44, options));
    Bytes record(sdk::kRecordSize);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(0xF0 ^ (i * 13)); // high bytes, texts without their zero
    }
    {
        RawClient sdkClient;
        ASSERT_TRUE(sdkClient.connect(address, camera->sdkPort()));
        ASSERT_EQ(askSdk(sdkClient, sdkMessage(sdk::Login, sdkLoginBody("admin", "wrenq"))).first, sdk::Ok);
        ASSERT_EQ(askSdk(sdkClient, sdkMessage(sdk::SetRecord, record)).first, sdk::Ok);
    }
    client.close();
    camera->stop();

    SimulatedCamera again(options);
    std::string error;
    ASSERT_TRUE(again.start(&error)) << error;
    RawClient sdkClient;
    ASSERT_TRUE(sdkClient.connect(address, again.sdkPort()));
    ASSERT_EQ(askSdk(sdkClient, sdkMessage(sdk::Login, sdkLoginBody("admin", "wrenq"))).first, sdk::Ok);
    EXPECT_EQ(askSdk(sdkClient, sdkMessage(sdk::GetRecord)), std::make_pair(int{sdk::Ok}, record));
}

TEST_F(StateFileTest, MissingFileIsWrittenWithTheDefaults)
{
    ASSERT_NO_FATAL_FAILURE(startCamera(41, withFile(41)));
    CameraState fromFile;
    std::string error;
    ASSERT_EQ(loadStateFile(file.string(), fromFile, &error), LoadResult::Loaded) << error;
    CameraState expected;
    expected.device.setText(DeviceRecord::deviceId, u"ORV202602601"); // its own, from 127.0.10.41
    EXPECT_TRUE(fromFile == expected);
}

struct KeptIdRow
{
    const char* name;
    const char16_t* inFile; // nullptr: no file yet
    const char* given;      // CameraOptions::deviceId
    const char16_t* expected;
};

TEST_F(StateFileTest, FileKeepsItsDeviceIdUnlessOneIsGiven)
{
    const KeptIdRow rows[] = {
        {"file, nothing given", u"KEPT-7", "", u"KEPT-7"},
        {"file, id given", u"KEPT-7", "GIVEN-8", u"GIVEN-8"},
        {"no file, nothing given", nullptr, "", u"ORV202602605"},
        {"no file, id given", nullptr, "GIVEN-9", u"GIVEN-9"},
    };
    for (const KeptIdRow& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(file);
        if (row.inFile) {
            CameraState stored;
            stored.device.setText(DeviceRecord::deviceId, row.inFile);
            ASSERT_TRUE(saveStateFile(file.string(), stored, nullptr));
        }
        CameraOptions options = withFile(45);
        options.deviceId = row.given;
        {
            SimulatedCamera camera(options);
            std::string error;
            ASSERT_TRUE(camera.start(&error)) << error;
            EXPECT_EQ(camera.config<DeviceRecord>().text(DeviceRecord::deviceId), row.expected);
        }
        CameraState saved;
        ASSERT_EQ(loadStateFile(file.string(), saved, nullptr), LoadResult::Loaded);
        EXPECT_EQ(saved.device.text(DeviceRecord::deviceId), row.expected) << "what the next start finds";
    }
}

TEST_F(StateFileTest, BrokenFileStopsTheStartAndStaysAsItWas)
{
    writeFile(file, "[wifi]\nbytes = zz\n");
    SimulatedCamera broken(withFile(42));
    std::string error;
    EXPECT_FALSE(broken.start(&error));
    EXPECT_EQ(broken.lastStartFailure(), StartFailure::StateFile);
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_EQ(readFile(file), "[wifi]\nbytes = zz\n");
}

} // namespace
} // namespace orv::camsim::test
