// The parts of orvctl that need no camera: command line, conversions, JSON, inventory rows.
#include "provision/camera_groups.h"
#include "provision/inventory.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/json_writer.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orv::cli {
using namespace orv::provision;
namespace {

TEST(CliParts, CommandLineValuesAreCheckedThenConverted)
{
    struct Row
    {
        Group group;
        const char* argument;
        std::int64_t number;
    };
    const Row rows[] = {
        {Group::Platform, "port=6608", 6608},
        {Group::Platform, "port=0", 0},
        {Group::Platform, "port=65535", 65535},
        {Group::Platform, "port=+80", 80},
        {Group::Proxy, "proxyPort=5060", 5060},
        {Group::Proxy, "enable=ON", 1},
        {Group::Proxy, "enable=no", 0},
        {Group::Time, "timeZone=24", 24},
        {Group::Time, "zone=25", 255},
        {Group::Time, "zone=-1", 255},
        {Group::Time, "zone=+8", 8},
        {Group::Time, "zone=UTC+08:00", 20},
        {Group::Time, "zone=utc-12:00", 0},
        {Group::Time, "zone=Utc+00:00", 12},
        {Group::Time, "zone=UTC+12:00", 24},
        {Group::Time, "summerTime=true", 1},
        {Group::UIdentify, "uidentify=0", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argument);
        std::string error;
        const auto a = parseAssignment(row.group, row.argument, error);
        ASSERT_TRUE(a) << error;
        EXPECT_EQ(a->number, row.number);
    }

    // What the console would quietly send as some other number.
    const std::pair<Group, std::vector<std::string>> refused[] = {
        {Group::Platform, {"port=abc", "port= 80x", "port=80 ", "port="}},
        {Group::Platform, {"port=70000", "port=-1", "port=99999999999", "port=0x50"}},
        {Group::Proxy, {"proxyPort=-5", "port=2147483648", "port=+-1", "enable=2"}},
        {Group::Time, {"zone=x", "zone=abc", "zone=+8x", "zone=", "zone=8.5"}},
        {Group::Time, {"zone=UTC+8", "zone=UTC+13:00", "zone=UTC+08:00 "}},
    };
    for (const auto& [group, arguments] : refused) {
        for (const std::string& argument : arguments) {
            SCOPED_TRACE(argument);
            std::string error;
            EXPECT_FALSE(parseAssignment(group, argument, error));
            EXPECT_NE(error.find("\"" + argument.substr(argument.find('=') + 1) + "\""), std::string::npos)
                << "the error quotes the value: " << error;
        }
    }

    // Setup files keep the console's reading.
    EXPECT_EQ(serverPortValue(u"70000"), 4464);
    EXPECT_EQ(serverPortValue(u"-1"), 65535);
    EXPECT_EQ(serverPortValue(u" 80x"), 80);
    EXPECT_EQ(serverPortValue(u"abc"), 0);
    EXPECT_EQ(serverPortValue(u"99999999999"), 65535);

    std::string error;
    const auto text = parseAssignment(Group::Wifi, "SSID==x=y", error);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->fieldSpec->field.name, "ssid");
    EXPECT_EQ(text->text, u"=x=y");
    EXPECT_FALSE(parseAssignment(Group::Wifi, "=x", error));
    EXPECT_FALSE(parseAssignment(Group::Proxy, "enable=2", error));
    EXPECT_EQ(error, "proxyEnable takes on or off, not \"2\"");
}

TEST(CliParts, TimeZoneNamesAreTheRowsOfEveryLanguage)
{
    // The combo's rows come from the language file; a name must pick the row the console shows it on.
    std::ifstream file(ORV_TEST_DATA_DIR "/../../res/orv_language.ini");
    ASSERT_TRUE(file);
    const std::string key = "ID_Text_TimeZone";
    int rowsSeen = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(key, 0) != 0) {
            continue;
        }
        const std::size_t equals = line.find('=');
        ASSERT_NE(equals, std::string::npos) << line;
        const int row = std::stoi(line.substr(key.size(), equals - key.size()));
        EXPECT_EQ(line.substr(equals + 1, 10), timeZoneRowName(row) + " ") << line;
        ++rowsSeen;
    }
    EXPECT_EQ(rowsSeen, 3 * 25);
}

TEST(CliParts, CommandLinesParse)
{
    const auto parse = [](std::vector<std::string> args) { return parseCommandLine(args); };

    const auto set = parse({"set", "wifi", "--ip", "127.0.0.9", "ssid=a", "--json"});
    ASSERT_TRUE(set.options) << set.error;
    EXPECT_EQ(set.options->address, "127.0.0.9");
    EXPECT_TRUE(set.options->json);
    EXPECT_EQ(set.options->operands, (std::vector<std::string>{"wifi", "ssid=a"}));
    EXPECT_EQ(set.options->user, "admin");
    EXPECT_EQ(set.options->passwordSource, PasswordSource::Default);

    const auto dashes = parse({"passwd", "--", "--odd-password"});
    ASSERT_TRUE(dashes.options);
    EXPECT_EQ(dashes.options->operands, std::vector<std::string>{"--odd-password"});

    const auto provision = parse({"provision", "s.xml", "--inventory", "i.csv", "--count", "3", "--poll-ms", "20"});
    ASSERT_TRUE(provision.options) << provision.error;
    EXPECT_EQ(provision.options->count, 3);
    EXPECT_EQ(provision.options->poll, std::chrono::milliseconds(20));

    EXPECT_TRUE(parse({"--help", "bogus"}).options);
    EXPECT_EQ(parse({"get", "wifi", "--ip", "1.2.3.4.5"}).error,
              "\"1.2.3.4.5\" is not an IPv4 address such as 192.168.2.158");
    EXPECT_EQ(parse({"get", "wifi", "--count", "x"}).error, "--count takes a whole number above 0, not \"x\"");
    EXPECT_EQ(parse({"format"}).error, "format cannot be undone; add --yes to run it");
    EXPECT_EQ(parse({"get", "wifi", "extra"}).error, "get: too many arguments");

    // A secrets file may hold what set and passwd would otherwise need as arguments.
    EXPECT_TRUE(parse({"--secrets-file", "s", "set", "wifi"}).options);
    EXPECT_TRUE(parse({"--secrets-file", "s", "passwd"}).options);
    EXPECT_EQ(parse({"set", "wifi"}).error, "set: missing arguments");
    EXPECT_EQ(parse({"passwd"}).error, "passwd: missing arguments");
    EXPECT_EQ(parse({"--secrets-file", "s", "get", "wifi"}).error, "--secrets-file belongs to set and passwd");
    EXPECT_EQ(parse({"--secrets-file", "s", "--secrets-file", "t", "passwd"}).error, "give --secrets-file once");
    EXPECT_EQ(parse({"passwd", "--secrets-file"}).error, "--secrets-file needs a file");
    EXPECT_EQ(parse({"get", "wifi", "--version"}).options->command, CommandKind::Version);
}

TEST(CliParts, JsonIsEscapedAndNested)
{
    JsonWriter j;
    j.beginObject().key("a\"b").value("q\"\\/\n\t\x01\x7F").key("list").beginArray();
    j.value(1).value(true).null().beginObject().endObject().value(std::u16string_view(u"张")).endArray();
    j.key("bad")
        .value("\xFF"
               "x")
        .key("zero")
        .value(std::string_view("a\0b", 3))
        .endObject();
    EXPECT_EQ(j.text(), "{\"a\\\"b\":\"q\\\"\\\\/\\n\\t\\u0001\\u007f\",\"list\":[1,true,null,{},\"张\"],"
                        "\"bad\":\"\xEF\xBF\xBDx\",\"zero\":\"a\\u0000b\"}");
}

TEST(CliParts, InventoryRowsAreQuotedAndDefused)
{
    EXPECT_EQ(inventoryLine({"2026-03-05 14:07:09", u"ORV1", u"P 1", "ok"}), "2026-03-05 14:07:09,ORV1,P 1,ok\r\n");
    EXPECT_EQ(inventoryLine({"t", u"a,b", u"say \"hi\"", "failed: x\ny"}),
              "t,\"a,b\",\"say \"\"hi\"\"\",\"failed: x\ny\"\r\n");
    EXPECT_EQ(inventoryLine({"t", u"=HYPERLINK(1)", u"+1", "@x"}), "t,'=HYPERLINK(1),'+1,'@x\r\n");
    EXPECT_EQ(inventoryLine({"t", u"张三", u"", "ok"}), "t,张三,,ok\r\n");
}

} // namespace
} // namespace orv::cli
