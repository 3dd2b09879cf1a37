// The simulated camera's SDK port: the GB28181 record behind a login, and bad messages ending the
// connection without harm.

#include "tests/core/camsim/camera_fixture.h"
#include "tools/camsim/sdk_protocol.h"

namespace orv::camsim::test {
namespace {

// Every test serves on an address of its own: 127.0.10.60 and on.
int hostOfThisTest()
{
    static const char* const names[] = {"DefaultRecordCarriesTheRegistrationSettings",
                                        "RecordNeedsALogin",
                                        "SetKeepsTheWholeRecord",
                                        "EndsTheConnectionAndKeepsServing/WrongMagic",
                                        "EndsTheConnectionAndKeepsServing/UnknownOperation",
                                        "EndsTheConnectionAndKeepsServing/HugeLength",
                                        "EndsTheConnectionAndKeepsServing/LoginTooLong",
                                        "EndsTheConnectionAndKeepsServing/LoginWithoutPassword",
                                        "EndsTheConnectionAndKeepsServing/GetWithBody"};
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (int i = 0; i < static_cast<int>(std::size(names)); ++i) {
        if (name == names[i]) {
            return 60 + i;
        }
    }
    return 70;
}

class SdkServiceTest : public CameraFixture
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startCamera(hostOfThisTest()));
        ASSERT_NE(camera->sdkPort(), 0);
        ASSERT_TRUE(sdkClient.connect(address, camera->sdkPort()));
    }

    std::pair<int, Bytes> ask(const Bytes& request) { return askSdk(sdkClient, request); }

    RawClient sdkClient;
};

TEST_F(SdkServiceTest, DefaultRecordCarriesTheRegistrationSettings)
{
    EXPECT_EQ(ask(sdkMessage(sdk::Login, sdkLoginBody("admin", "wrenq"))).first, sdk::Ok);
    const auto [status, record] = ask(sdkMessage(sdk::GetRecord));
    ASSERT_EQ(status, sdk::Ok);
    ASSERT_EQ(record.size(), sdk::kRecordSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()) + 680), "34020000002000000001");
    EXPECT_EQ(record[658] | (record[659] << 8), 5060);
    EXPECT_EQ(record[676] | (record[677] << 8), 3600);
    EXPECT_EQ(record[678] | (record[679] << 8), 60);
    EXPECT_EQ(record, camera->gb28181Record());
}

TEST_F(SdkServiceTest, RecordNeedsALogin)
{
    EXPECT_EQ(ask(sdkMessage(sdk::GetRecord)).first, sdk::NotLoggedIn);
    EXPECT_EQ(ask(sdkMessage(sdk::SetRecord, Bytes(sdk::kRecordSize, 1))).first, sdk::NotLoggedIn);
    EXPECT_EQ(ask(sdkMessage(sdk::Login, sdkLoginBody("admin", "wrong"))).first, sdk::Refused);
    EXPECT_EQ(ask(sdkMessage(sdk::GetRecord)).first, sdk::NotLoggedIn);
    EXPECT_NE(camera->gb28181Record(), Bytes(sdk::kRecordSize, 1));
}

TEST_F(SdkServiceTest, SetKeepsTheWholeRecord)
{
    EXPECT_EQ(ask(sdkMessage(sdk::Login, sdkLoginBody("admin", "wrenq"))).first, sdk::Ok);
    Bytes record(sdk::kRecordSize);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(i * 7);
    }
    EXPECT_EQ(ask(sdkMessage(sdk::SetRecord, record)).first, sdk::Ok);
    EXPECT_EQ(camera->gb28181Record(), record);
    EXPECT_EQ(ask(sdkMessage(sdk::SetRecord, Bytes(10, 0))).first, sdk::Refused);
    EXPECT_EQ(camera->gb28181Record(), record);
}

struct BadMessage
{
    const char* name;
    Bytes bytes;
};

class SdkServiceBadInput
    : public SdkServiceTest
    , public ::testing::WithParamInterface<BadMessage>
{
};

TEST_P(SdkServiceBadInput, EndsTheConnectionAndKeepsServing)
{
    const Bytes before = camera->gb28181Record();
    EXPECT_TRUE(sdkClient.send(GetParam().bytes));
    sdkClient.readUntilClosed();
    EXPECT_TRUE(sdkClient.closedByCamera());
    EXPECT_EQ(camera->gb28181Record(), before);

    RawClient again;
    ASSERT_TRUE(again.connect(address, camera->sdkPort()));
    const Bytes login = sdkMessage(sdk::Login, sdkLoginBody("admin", "wrenq"));
    EXPECT_TRUE(again.send(login));
    EXPECT_EQ(again.read(sdk::kHeaderSize).size(), sdk::kHeaderSize);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SdkServiceBadInput,
    ::testing::Values(BadMessage{"WrongMagic", Bytes{'X', 'S', 'D', 'K', 1, 0, 0, 0, 0}},
                      BadMessage{"UnknownOperation", sdkMessage(9)},
                      BadMessage{"HugeLength", Bytes{'Q', 'S', 'D', 'K', 3, 0xFF, 0xFF, 0xFF, 0xFF}},
                      BadMessage{"LoginTooLong", sdkMessage(sdk::Login, Bytes(sdk::kMaxLoginBody + 1, 'a'))},
                      BadMessage{"LoginWithoutPassword", sdkMessage(sdk::Login, Bytes{'a', 0})},
                      BadMessage{"GetWithBody", sdkMessage(sdk::GetRecord, Bytes{1})}),
    [](const ::testing::TestParamInfo<BadMessage>& info) { return std::string(info.param.name); });

} // namespace
} // namespace orv::camsim::test
