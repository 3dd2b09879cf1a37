// The parts of orvctl that need no camera: command line, conversions, JSON, inventory rows.
#include "ledger/ledger.h"
#include "orvctl/cli_options.h"
#include "orvctl/json_writer.h"
#include "provision/camera_groups.h"
#include "provision/inventory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>

namespace orv::cli {
using namespace orv::provision;
namespace {

// Sets the process's time zone (a POSIX TZ value) for one test, then puts the old one back.
class TimeZoneForTest
{
public:
    explicit TimeZoneForTest(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        set(zone);
    }
    ~TimeZoneForTest() { set(old_ ? old_->c_str() : nullptr); }
    TimeZoneForTest(const TimeZoneForTest&) = delete;
    TimeZoneForTest& operator=(const TimeZoneForTest&) = delete;

private:
    static void set(const char* zone)
    {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        if (zone) {
            setenv("TZ", zone, 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
#endif
    }

    std::optional<std::string> old_;
};

// orvctl's ledger output and the search tool's history window show an event's time this way.
TEST(CliParts, AnEventsTimeShowsInLocalTimeAndAnythingElseAsItIs)
{
    {
        const TimeZoneForTest zone("CST-8"); // UTC+08:00
        EXPECT_EQ(ledger::localTimeText("2026-03-05T06:07:09.123Z"), "2026-03-05 14:07:09");
        EXPECT_EQ(ledger::localTimeText("2026-12-31T20:00:00.000Z"), "2027-01-01 04:00:00") << "into the next year";
    }
    {
        const TimeZoneForTest zone("EST5"); // UTC-05:00
        EXPECT_EQ(ledger::localTimeText("2026-03-05T03:07:09.999Z"), "2026-03-04 22:07:09");
    }
    for (const char* notATime : {"", "soon", "2026-03-05", "2026-02-30T06:07:09.000Z", "2026-03-05T24:00:00.000Z",
                                 "2026-03-05 06:07:09", "20260305T060709Z"}) {
        EXPECT_EQ(ledger::localTimeText(notATime), notATime);
    }
}

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

TEST(CliParts, OptionsStandBeforeOrAfterTheCommandWord)
{
    const std::vector<std::vector<std::string>> orders = {
        {"--ip", "127.0.0.9", "--json", "provision", "s.xml", "--inventory", "i.csv", "--count", "2", "--all",
         "--address", "127.0.0.2", "--address", "127.0.0.3"},
        {"provision", "--json", "s.xml", "--address", "127.0.0.2", "--count", "2", "--ip", "127.0.0.9", "--all",
         "--inventory", "i.csv", "--address", "127.0.0.3"},
        {"--address", "127.0.0.2", "--all", "--inventory", "i.csv", "provision", "--ip", "127.0.0.9", "--count=2",
         "--address=127.0.0.3", "s.xml", "--json"},
    };
    for (const auto& args : orders) {
        const ParsedCommandLine p = parseCommandLine(args);
        ASSERT_TRUE(p.options) << p.error;
        EXPECT_EQ(p.options->command, CommandKind::Provision);
        EXPECT_EQ(p.options->operands, std::vector<std::string>{"s.xml"});
        EXPECT_EQ(p.options->address, "127.0.0.9");
        EXPECT_EQ(p.options->addresses, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
        EXPECT_EQ(p.options->inventory, "i.csv");
        EXPECT_EQ(p.options->count, 2);
        EXPECT_TRUE(p.options->json && p.options->all);
    }

    const auto operands = [](std::vector<std::string> args) {
        const ParsedCommandLine p = parseCommandLine(args);
        EXPECT_TRUE(p.options) << p.error;
        return p.options ? p.options->operands : std::vector<std::string>{};
    };
    // Words that look like options or name commands are arguments where they stand.
    EXPECT_EQ(operands({"passwd", "-"}), std::vector<std::string>{"-"});
    EXPECT_EQ(operands({"passwd", "check"}), std::vector<std::string>{"check"});
    EXPECT_EQ(operands({"export-id", "help", "--json"}), std::vector<std::string>{"help"});
    EXPECT_EQ(operands({"set", "time", "zone=-1", "-5"}), (std::vector<std::string>{"time", "zone=-1", "-5"}));
    EXPECT_EQ(operands({"set", "wifi", "--", "--json", "ssid=a", "--"}),
              (std::vector<std::string>{"wifi", "--json", "ssid=a", "--"}));
    EXPECT_FALSE(parseCommandLine(std::vector<std::string>{"set", "wifi", "--", "--json"}).options->json);
    // A value is the next word, whatever it looks like; given twice, the last counts.
    const ParsedCommandLine user = parseCommandLine(std::vector<std::string>{"--user", "x", "get", "--user", "--json", "wifi"});
    ASSERT_TRUE(user.options) << user.error;
    EXPECT_EQ(user.options->user, "--json");
    EXPECT_FALSE(user.options->json);
}

TEST(CliParts, UsageErrorsSayWhatIsWrong)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "no command given"},
        {{"--ip", "127.0.0.9"}, "no command given"},
        {{"--", "get", "wifi"}, "the command goes before \"--\""},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"wifi", "get"}, "unknown command \"wifi\""},
        {{"--bogus", "x", "get", "wifi"}, "unknown option --bogus"},
        {{"get", "wifi", "-x"}, "unknown option -x"},
        {{"get", "wifi", "--ip"}, "--ip needs an address"},
        {{"--ip=", "get", "wifi"}, "--ip needs an address"},
        {{"get", "wifi", "--not-on-roster"}, "--not-on-roster takes skip or setup"},
        {{"get", "wifi", "--json=1"}, "--json takes no value"},
        {{"get", "--password", "x", "wifi"}, "passwords are not taken on the command line"},
        {{"--password=x", "get", "wifi"}, "passwords are not taken on the command line"},
        {{"--password-stdin", "get", "wifi", "--password-stdin"}, "give the password one way only"},
        {{"--interface", "", "scan"}, "--interface needs an interface name"},
        {{"--roster", "", "check", "s.xml", "--all"}, "--roster needs a file"},
        {{"--timeout-ms", "-5", "get", "wifi"}, "--timeout-ms takes a whole number above 0, not \"-5\""},
        {{"help", "bogus"}, "help: unknown command \"bogus\""},
        {{"get", "wifi", "--at", "2026-03-05"}, "--at belongs to ledger who"},
    };
    for (const auto& [args, message] : rows) {
        const ParsedCommandLine p = parseCommandLine(args);
        EXPECT_FALSE(p.options) << message;
        EXPECT_EQ(p.error.substr(0, message.size()), message);
    }
}

TEST(CliParts, LedgerCommandsParse)
{
    const auto parse = [](std::vector<std::string> args) { return parseCommandLine(args); };

    const auto who = parse({"--ledger", "l.db", "ledger", "who", "ORV1", "--at", "2026-03-05 14:07", "--json"});
    ASSERT_TRUE(who.options) << who.error;
    EXPECT_EQ(who.options->command, CommandKind::LedgerWho);
    EXPECT_EQ(who.options->commandName, "ledger who");
    EXPECT_EQ(who.options->ledger, "l.db");
    EXPECT_EQ(who.options->device, "ORV1");
    EXPECT_EQ(who.options->at, "2026-03-05 14:07");
    EXPECT_TRUE(who.options->json);

    const auto history = parse({"ledger", "history", "--officer", "P-7", "--since", "2026-03-01", "--until",
                                "2026-03-05", "--ledger=postgresql://h/orv"});
    ASSERT_TRUE(history.options) << history.error;
    EXPECT_EQ(history.options->command, CommandKind::LedgerHistory);
    EXPECT_EQ(history.options->officer, "P-7");
    EXPECT_EQ(history.options->device, "");
    EXPECT_EQ(history.options->since, "2026-03-01");
    EXPECT_EQ(history.options->until, "2026-03-05");
    EXPECT_EQ(history.options->ledger, "postgresql://h/orv");

    const auto exported = parse({"ledger", "export", "--", "-all.csv"});
    ASSERT_TRUE(exported.options) << exported.error;
    EXPECT_EQ(exported.options->command, CommandKind::LedgerExport);
    EXPECT_EQ(exported.options->operands, std::vector<std::string>{"-all.csv"});
    const std::pair<std::string, CommandKind> plain[] = {
        {"verify", CommandKind::LedgerVerify}, {"head", CommandKind::LedgerHead}, {"cameras", CommandKind::LedgerCameras}};
    for (const auto& [action, kind] : plain) {
        const auto p = parse({"ledger", action});
        ASSERT_TRUE(p.options) << p.error;
        EXPECT_EQ(p.options->command, kind);
        EXPECT_EQ(p.options->ledger, "") << "the default place";
    }
    // An action's argument may be any word, an action's name too.
    EXPECT_EQ(parse({"ledger", "who", "verify", "--at", "t"}).options->device, "verify");

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"ledger"}, "ledger needs an action"},
        {{"ledger", "bogus"}, "ledger: unknown action \"bogus\""},
        {{"ledger", "who", "ORV1"}, "ledger who needs --at TIME"},
        {{"ledger", "who", "--at", "t"}, "ledger who: missing arguments"},
        {{"ledger", "who", "", "--at", "t"}, "ledger who needs a device id"},
        {{"ledger", "who", "ORV1", "--at", ""}, "--at needs a time"},
        {{"ledger", "who", "ORV1", "--at"}, "--at needs a time"},
        {{"ledger", "history"}, "ledger history needs --device ID or --officer ID"},
        {{"ledger", "history", "--device", "ORV1", "--officer", "P-7"}, "give --device or --officer, not both"},
        {{"ledger", "history", "--device", "ORV1", "--device", "ORV2"}, "give --device once"},
        {{"ledger", "history", "--officer", "P-7", "--at", "t"}, "--at belongs to ledger who"},
        {{"--since", "t", "ledger", "history", "--officer", "P-7"}, "--since belongs to ledger history"},
        {{"ledger", "export"}, "ledger export: missing arguments"},
        {{"ledger", "head", "extra"}, "ledger head: too many arguments"},
        {{"ledger", "head", "--ledger", ""}, "--ledger needs a location"},
        {{"ledger", "cameras", "--inventory", "i.csv"}, "--inventory and --count belong to provision and check"},
    };
    for (const auto& [args, message] : refused) {
        const ParsedCommandLine p = parseCommandLine(args);
        EXPECT_FALSE(p.options) << message;
        EXPECT_NE(p.error.find(message), std::string::npos) << p.error;
    }
}

TEST(CliParts, HelpIsAskedForAnyCommandAndLaidOutForTheManualPage)
{
    const auto helpFor = [](std::vector<std::string> args) {
        const ParsedCommandLine p = parseCommandLine(args);
        EXPECT_TRUE(p.options && p.options->command == CommandKind::Help) << p.error;
        return p.options ? p.options->operands : std::vector<std::string>{"?"};
    };
    EXPECT_EQ(helpFor({"help"}), std::vector<std::string>{});
    EXPECT_EQ(helpFor({"-h"}), std::vector<std::string>{});
    EXPECT_EQ(helpFor({"get", "--ip", "bad", "--help"}), std::vector<std::string>{"get"}) << "before other checks";
    EXPECT_EQ(helpFor({"help", "ledger", "who"}), (std::vector<std::string>{"ledger", "who"}));
    EXPECT_EQ(helpFor({"ledger", "who", "-h"}), (std::vector<std::string>{"ledger", "who"}));

    const std::string main = commandLineHelp();
    EXPECT_EQ(main.rfind("Usage: orvctl [OPTIONS] COMMAND [ARGUMENTS]\n", 0), 0u) << "help2man's synopsis";
    for (const char* line : {"\n  get GROUP ", "\n  set GROUP FIELD=VALUE... ", "\n  check SETUP.xml ",
                             "\n  ledger who DEVICE --at TIME\n", "\n  help [COMMAND] ", "\n  --ip ADDR ",
                             "\n  --ledger LOCATION ", "\n  --version ", "\nFields for set", "\nPasswords:\n",
                             "\nExit status:\n  0    done\n", "\n  130  provision or check interrupted\n"}) {
        EXPECT_NE(main.find(line), std::string::npos) << line;
    }
    const std::string who = commandLineHelp(std::vector<std::string>{"ledger", "who"});
    EXPECT_EQ(who.rfind("Usage: orvctl ledger who DEVICE --at TIME [OPTIONS]\n", 0), 0u) << who;
    EXPECT_NE(who.find("\n  --at TIME "), std::string::npos);
    EXPECT_NE(who.find("\n  --ledger LOCATION "), std::string::npos);
    EXPECT_NE(commandLineHelp(std::vector<std::string>{"set"}).find("\nFields for set"), std::string::npos);

    // Every text fits a terminal and help2man's page; each command has a help of its own that
    // names the options it takes.
    std::vector<std::vector<std::string>> topics = {{}, {"ledger"}};
    for (const char* command : {"get", "set", "passwd", "timesync", "udisk", "uidentify", "factory", "format",
                                "apply", "export-id", "provision", "scan", "check", "help"}) {
        topics.push_back({command});
    }
    for (const char* action :
         {"verify", "head", "who", "history", "cameras", "export", "key", "checkpoint", "prove", "witness", "init-db"}) {
        topics.push_back({"ledger", action});
    }
    for (const auto& topic : topics) {
        const std::string text = commandLineHelp(topic);
        SCOPED_TRACE(text.substr(0, text.find('\n')));
        if (!topic.empty() && topic[0] != "help") {
            EXPECT_NE(text, main);
            EXPECT_NE(text.find("\nOptions:\n  --"), std::string::npos);
        }
        for (std::size_t begin = 0, end = 0; begin < text.size(); begin = end + 1) {
            end = text.find('\n', begin);
            EXPECT_LE(end - begin, 100u) << text.substr(begin, end - begin);
        }
    }
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
