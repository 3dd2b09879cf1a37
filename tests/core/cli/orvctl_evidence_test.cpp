// orvctl as a station whose ledger is evidence: a ledger rewritten, rolled back or swapped behind
// the station's back stops every command before a camera is even reached (exit 5, the proof kept);
// a station without a usable key, witness file or trusted keys sends nothing either; every
// recorded command is sealed by a checkpoint the station's key verifies; proofs and exports are
// checked with no database; the CSV export keeps camera text from running as a formula.
#include "ledger/checkpoint.h"
#include "ledger/evidence.h"
#include "ledger/ledger_export.h"
#include "ledger/signed_note.h"
#include "ledger/station.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/support/ledger_tamper.h"

#include <gmock/gmock.h>

#include <cstdlib>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace orv::test {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kSetup = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
    <wifi ssid="Evidence Wifi" password="evidence-secret"/>
    <device deviceid="" policeid="E-1" policename="Evidence" companyid="U3" companyname="Unit Three"/>
</root>
)";

std::string text(const std::filesystem::path& path)
{
    const std::u8string u8 = path.u8string();
    return {u8.begin(), u8.end()};
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// Every frame a camera received and every connection it took: a station that refuses must not
// even log in.
struct Traffic
{
    std::size_t frames = 0;
    int connections = 0;
    bool operator==(const Traffic&) const = default;
};
Traffic trafficAt(const LoopbackCamera& camera)
{
    return {camera->receivedFrames().size(), camera->connectionCount()};
}
void PrintTo(const Traffic& t, std::ostream* out)
{
    *out << t.frames << " frames in " << t.connections << " connections";
}

// The keys of a one-line JSON object's own members, in order (not those of objects inside it).
std::vector<std::string> topLevelKeys(const std::string& json)
{
    std::vector<std::string> keys;
    int depth = 0;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            std::size_t end = i + 1;
            while (end < json.size() && json[end] != '"') {
                end += json[end] == '\\' ? 2 : 1;
            }
            if (depth == 1 && end + 1 < json.size() && json[end + 1] == ':') {
                keys.push_back(json.substr(i + 1, end - i - 1));
            }
            i = end;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return keys;
}

// The verifier key in the first line `ledger key` printed.
std::optional<ledger::VerifierKey> keyOf(const std::string& printed)
{
    std::string error;
    std::optional<ledger::VerifierKey> key = ledger::parseVerifierKey(firstLine(printed), error);
    EXPECT_TRUE(key) << error << "\n" << printed;
    return key;
}

// The account orvctl runs as: its own data folder, so its own station. Windows tests share one
// profile, so there the station folder is named instead.
void becomeAccount(const std::filesystem::path& dataHome)
{
#ifdef _WIN32
    const std::wstring folder = (dataHome / "OrvCamera").wstring();
    _wputenv_s(L"ORV_STATION_FOLDER", folder.c_str());
#else
    setDataHome(text(dataHome));
#endif
}

// The path the refusal names after "the proof is in ".
std::filesystem::path evidenceNamedIn(const std::string& message)
{
    const std::string marker = "; the proof is in ";
    const std::size_t at = message.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + marker.size();
    const std::size_t end = message.find("; nothing was", from);
    return std::filesystem::path(std::u8string(message.begin() + static_cast<std::ptrdiff_t>(from),
                                               message.begin() + static_cast<std::ptrdiff_t>(end)));
}

// A command that works on cameras, as a station runs it.
struct Sending
{
    std::vector<std::string> args;
    bool fleet = false; // both cameras, by --address
    bool check = false; // says "nothing was checked"
};

// Two cameras, the test's own ledger file and setup; orvctl as this test's own account.
class OrvctlEvidence : public OrvctlTest
{
protected:
    void SetUp() override
    {
        OrvctlTest::SetUp();
        becomeAccount(folder / "data");
        second = startCameraOnLoopback();
        ASSERT_TRUE(second);
        writeFile(folder / "setup.xml", kSetup);
        location = path("ledger.db");
    }
    void TearDown() override
    {
#ifdef _WIN32
        _wputenv_s(L"ORV_STATION_FOLDER", L"");
#endif
        OrvctlTest::TearDown();
    }

    std::string path(const char* name) const
    {
        return text(folder / name);
    }
    std::filesystem::path stationFolder() const
    {
        return ledger::defaultStationFolder();
    }

    // orvctl --ip <the first camera> --ledger <the test's ledger> ARGS
    OrvctlRun at(std::vector<std::string> args, const std::string& input = {})
    {
        args.insert(args.begin(), {"--ip", camera.address, "--timeout-ms", kTestTimeoutMs, "--ledger", location});
        return runOrvctlWith(args, input);
    }

    // orvctl --ledger <the test's ledger> ledger ARGS
    OrvctlRun ledgerAction(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--ledger", location, "ledger"});
        return runOrvctlWith(args);
    }

    // Wifi sets that each record one event.
    void record(std::initializer_list<const char*> ssids)
    {
        for (const char* ssid : ssids) {
            const OrvctlRun r = at({"set", "wifi", std::string("ssid=") + ssid});
            ASSERT_EQ(r.code, 0) << r.out << r.err;
        }
    }

    std::vector<Sending> sendingCommands() const
    {
        return {
            {{"set", "wifi", "ssid=Not-Sent"}},
            {{"apply", path("setup.xml")}},
            {{"provision", path("setup.xml"), "--inventory", path("one.csv"), "--count", "1"}},
            {{"provision", path("setup.xml"), "--all", "--inventory", path("all.csv"), "--count", "2"}, true},
            {{"check", path("setup.xml"), "--all", "--count", "2"}, true, true},
        };
    }

    OrvctlRun send(const Sending& command, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{"--timeout-ms", kTestTimeoutMs, "--poll-ms", "20", "--ledger", location};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), command.args.begin(), command.args.end());
        if (command.fleet) {
            args.insert(args.end(), {"--address", camera.address, "--address", second.address});
        } else {
            args.insert(args.end(), {"--ip", camera.address});
        }
        return runOrvctlWith(args);
    }

    // Every sending command refused with exit status `code` and `said` in its message, and no
    // camera reached by any of them.
    void expectEveryCommandRefused(int code, const std::string& said, std::vector<std::string> extra = {})
    {
        // The last frame of what the test sent before may still be on its way when orvctl has
        // ended (a Set is not answered): counted once the camera let that connection go.
        ASSERT_TRUE(camera->waitUntilConnectionsHeld(0, std::chrono::seconds(10)));
        ASSERT_TRUE(second->waitUntilConnectionsHeld(0, std::chrono::seconds(10)));
        const Traffic first = trafficAt(camera);
        const Traffic other = trafficAt(second);
        for (const Sending& command : sendingCommands()) {
            SCOPED_TRACE(command.args[0] + (command.fleet ? " --all" : ""));
            const OrvctlRun r = send(command, extra);
            EXPECT_EQ(r.code, code) << r.out << r.err;
            EXPECT_THAT(r.err, StartsWith("orvctl: ledger "));
            EXPECT_THAT(r.err, HasSubstr(said));
            EXPECT_THAT(r.err, HasSubstr(command.check ? "; nothing was checked\n" : "; nothing was sent\n"));
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        }
        EXPECT_EQ(trafficAt(camera), first) << "nothing reached the camera";
        EXPECT_EQ(trafficAt(second), other) << "nothing reached the second camera";
    }

    LoopbackCamera second;
    std::string location;
};

// ---- a ledger that is no longer what the station saw ----

struct Tampering
{
    const char* name;
    std::string (*apply)(const std::string& location);
};

const Tampering kTamperings[] = {
    {"EventRewrittenAndRehashed",
     [](const std::string& location) { return rewriteLastEvent(location, "P-FORGED", "ok"); }},
    {"LastEventDroppedWithItsCheckpoints", [](const std::string& location) { return dropLastEvents(location, 1); }},
};

void PrintTo(const Tampering& t, std::ostream* out)
{
    *out << t.name;
}

class OrvctlForkedLedger
    : public OrvctlEvidence
    , public ::testing::WithParamInterface<Tampering>
{
};

TEST_P(OrvctlForkedLedger, StopsEveryCommandBeforeACameraIsReachedAndKeepsTheProof)
{
    ASSERT_NO_FATAL_FAILURE(record({"One", "Two"}));
    ASSERT_EQ(at({"set", "device", "officerid=P-3"}).code, 0);
    const OrvctlRun seen = ledgerAction({"checkpoint"});
    ASSERT_EQ(seen.code, 0) << seen.err;
    ASSERT_THAT(seen.out, HasSubstr("\n3\n")) << "the station signed the 3 events it recorded";

    ASSERT_EQ(GetParam().apply(location), "");

    const Traffic first = trafficAt(camera);
    const Traffic other = trafficAt(second);
    for (const Sending& command : sendingCommands()) {
        SCOPED_TRACE(command.args[0] + (command.fleet ? " --all" : ""));
        const OrvctlRun r = send(command);
        EXPECT_EQ(r.code, 5) << r.out << r.err;
        EXPECT_THAT(r.err, StartsWith("orvctl: ledger " + location + ": "));
        EXPECT_THAT(r.err, HasSubstr("the ledger's history changed since this station last saw it at event 3; "
                                     "the proof is in "));
        EXPECT_THAT(r.err, HasSubstr(command.check ? "; nothing was checked\n" : "; nothing was sent\n"));
        const std::filesystem::path evidence = evidenceNamedIn(r.err);
        EXPECT_EQ(evidence.parent_path(), stationFolder()) << "beside the witness file";
        const std::string proof = readFile(evidence);
        EXPECT_THAT(proof, HasSubstr("the ledger's history changed since this station last saw it at event 3"));
        EXPECT_THAT(proof, HasSubstr(seen.out)) << "the station's own signed checkpoint";
    }
    EXPECT_EQ(trafficAt(camera), first) << "the station's check reaches no camera";
    EXPECT_EQ(trafficAt(second), other);
    EXPECT_EQ(camera->config<WifiRecord>().text(WifiRecord::ssid), u"Two");

    // A script hears it too, with where the proof is.
    const OrvctlRun json = at({"--json", "set", "wifi", "ssid=Not-Sent"});
    EXPECT_EQ(json.code, 5);
    EXPECT_THAT(json.out, StartsWith("{\"error\":{\"step\":\"ledger\",\"message\":\""));
    EXPECT_THAT(json.out, HasSubstr("\",\"evidence\":\""));
    EXPECT_THAT(json.out, HasSubstr("orv_fork_"));
    EXPECT_THAT(json.out, HasSubstr(",\"exitCode\":5}}\n"));

    // ledger verify finds the same, although the chain alone looks whole.
    const OrvctlRun verify = ledgerAction({"verify"});
    EXPECT_EQ(verify.code, 5) << verify.out;
    EXPECT_THAT(verify.out, StartsWith("broken at event 3: "));
    EXPECT_THAT(verify.out, HasSubstr("this station signed"));
}

INSTANTIATE_TEST_SUITE_P(Tamperings, OrvctlForkedLedger, ::testing::ValuesIn(kTamperings),
                         [](const ::testing::TestParamInfo<Tampering>& info) { return info.param.name; });

TEST_F(OrvctlEvidence, AnotherLedgerPutInThePlaceOfTheOneRecordedToStopsEveryCommand)
{
    ASSERT_NO_FATAL_FAILURE(record({"One"}));
    // A whole, valid ledger of another station, with its own history.
    ScratchFolder elsewhere;
    {
        std::string error;
        const std::unique_ptr<ledger::Ledger> other = ledger::openLedger(text(elsewhere / "ledger.db"), error);
        ASSERT_TRUE(other) << error;
        ledger::Event e;
        e.timeUtc = ledger::utcNow();
        e.kind = "set";
        e.tool = "orvctl";
        e.result = "ok";
        ASSERT_TRUE(other->append(e)) << other->error();
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(location + suffix);
    }
    std::filesystem::copy_file(elsewhere / "ledger.db", location);

    ASSERT_NO_FATAL_FAILURE(
        expectEveryCommandRefused(5, "is not the one this station recorded to: it was orvcamera.ledger/"));
    const OrvctlRun r = at({"set", "wifi", "ssid=Not-Sent"});
    EXPECT_THAT(r.err, HasSubstr(", another ledger put in its place; the proof is in "));
    EXPECT_THAT(readFile(evidenceNamedIn(r.err)), HasSubstr("the ledger was replaced"));
}

// ---- a station that cannot sign ----

struct Breakage
{
    const char* name;
    // Breaks the station whose folder is `station` (files of its own go to `scratch`); gives the
    // options it is then run with, and what its refusal must say.
    std::vector<std::string> (*apply)(const std::filesystem::path& station, const std::filesystem::path& scratch,
                                      std::string& said);
};

const Breakage kBreakages[] = {
    {"KeyThatIsNoKey",
     [](const std::filesystem::path& station, const std::filesystem::path&, std::string& said) {
         writeFile(station / "orv_station.key", "not a key\n");
         said = "the key " + text(station / "orv_station.key") + " cannot be used: ";
         return std::vector<std::string>{};
     }},
    {"KeyThatCannotBeRead",
     [](const std::filesystem::path& station, const std::filesystem::path&, std::string& said) {
         std::filesystem::remove(station / "orv_station.key");
         std::filesystem::create_directory(station / "orv_station.key");
         said = "the key " + text(station / "orv_station.key") + " cannot be read";
         return std::vector<std::string>{};
     }},
    {"WitnessFileThatCannotBeRead",
     [](const std::filesystem::path& station, const std::filesystem::path&, std::string& said) {
         std::filesystem::remove(station / "orv_witness.txt");
         std::filesystem::create_directory(station / "orv_witness.txt");
         said = "the witness file " + text(station / "orv_witness.txt") + ": cannot be read";
         return std::vector<std::string>{};
     }},
#ifndef _WIN32
    // Read as empty (nothing there), but not a line can be added: it must not pass for a station
    // that has seen nothing.
    {"WitnessFileThatCannotBeWritten",
     [](const std::filesystem::path& station, const std::filesystem::path& scratch, std::string& said) {
         std::filesystem::remove(station / "orv_witness.txt");
         std::filesystem::create_symlink(scratch / "gone" / "orv_witness.txt", station / "orv_witness.txt");
         said = "the witness file " + text(station / "orv_witness.txt") + ": cannot be written";
         return std::vector<std::string>{};
     }},
#endif
    {"TrustedKeysFileThatDoesNotParse",
     [](const std::filesystem::path& station, const std::filesystem::path& scratch, std::string& said) {
         const std::string own = readFile(station / "orv_station.key"); // the private key: no verifier key
         writeFile(scratch / "trusted.txt", "# the dock stations\n" + own);
         said = "the trusted keys file " + text(scratch / "trusted.txt") + " does not parse: line 2";
         return std::vector<std::string>{"--trusted", text(scratch / "trusted.txt")};
     }},
    {"TrustedKeysFileMissing",
     [](const std::filesystem::path&, const std::filesystem::path& scratch, std::string& said) {
         said = "the trusted keys file " + text(scratch / "missing.txt") + " does not exist";
         return std::vector<std::string>{"--trusted", text(scratch / "missing.txt")};
     }},
};

void PrintTo(const Breakage& b, std::ostream* out)
{
    *out << b.name;
}

class OrvctlUnusableStation
    : public OrvctlEvidence
    , public ::testing::WithParamInterface<Breakage>
{
};

TEST_P(OrvctlUnusableStation, SendsNothingAndNamesTheFile)
{
    ASSERT_NO_FATAL_FAILURE(record({"One"}));
    std::string said;
    const std::vector<std::string> options = GetParam().apply(stationFolder(), folder / "", said);
    expectEveryCommandRefused(1, said, options);
}

INSTANTIATE_TEST_SUITE_P(Breakages, OrvctlUnusableStation, ::testing::ValuesIn(kBreakages),
                         [](const ::testing::TestParamInfo<Breakage>& info) { return info.param.name; });

#ifdef __linux__
// A file this process can read but not write, even as root (immutable, where the file system
// allows it); writable again when this goes.
class UnwritableFile
{
public:
    explicit UnwritableFile(const std::filesystem::path& file)
        : file_(file)
    {
        if (::geteuid() != 0) {
            std::filesystem::permissions(file, std::filesystem::perms::owner_read);
            made_ = true;
            return;
        }
        immutable_ = made_ = setImmutable(true);
    }
    ~UnwritableFile()
    {
        if (immutable_) {
            setImmutable(false);
        }
    }
    explicit operator bool() const { return made_; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = false;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return done;
    }

    std::filesystem::path file_;
    bool made_ = false;
    bool immutable_ = false;
};

// The witness file still says what the station saw, but the checkpoint of this command could not
// be kept in it: nothing may be sent.
TEST_F(OrvctlEvidence, AWitnessFileThatCanBeReadButNotWrittenSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(record({"One"}));
    const std::filesystem::path witness = stationFolder() / "orv_witness.txt";
    const UnwritableFile unwritable(witness);
    if (!unwritable) {
        GTEST_SKIP() << "this file system cannot make " << witness << " unwritable for root";
    }
    expectEveryCommandRefused(1, "the witness file " + text(witness) + ": cannot be written: ");
}
#endif

// ---- checkpoints, proofs and exports ----

TEST_F(OrvctlEvidence, EveryRecordedCommandIsSealedByACheckpointTheStationsKeyVerifies)
{
    const OrvctlRun key = ledgerAction({"key"});
    ASSERT_EQ(key.code, 0) << key.err;
    const std::optional<ledger::VerifierKey> own = keyOf(key.out);
    ASSERT_TRUE(own);
    EXPECT_THAT(key.out, HasSubstr("\n# kept in " + text(stationFolder() / "orv_station.key") + "\n"));
    const OrvctlRun keyJson = ledgerAction({"--json", "key"});
    EXPECT_THAT(topLevelKeys(keyJson.out), ElementsAre("key", "name", "keyId", "fingerprint", "kind", "file"));
    EXPECT_THAT(keyJson.out, HasSubstr("\"key\":\"" + firstLine(key.out) + "\""));
    EXPECT_THAT(keyJson.out, HasSubstr("\"fingerprint\":\"" + ledger::keyFingerprint(*own) + "\""));

    // Every command that records, a failed one too.
    const std::vector<std::vector<std::string>> commands = {{"set", "wifi", "ssid=One"},
                                                            {"timesync"},
                                                            {"--user", "nobody", "set", "wifi", "ssid=Refused"},
                                                            {"set", "device", "officerid=P-4"}};
    std::string origin;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        SCOPED_TRACE(commands[i].back());
        at(commands[i]);
        const OrvctlRun shown = ledgerAction({"checkpoint"});
        ASSERT_EQ(shown.code, 0) << shown.err;
        std::string error;
        const std::optional<ledger::Note> note = ledger::parseNote(shown.out, error);
        ASSERT_TRUE(note) << error << "\n" << shown.out;
        const std::optional<ledger::Checkpoint> checkpoint = ledger::parseCheckpoint(note->text, error);
        ASSERT_TRUE(checkpoint) << error;
        EXPECT_EQ(checkpoint->size, i + 1) << "of every event recorded so far";
        origin = checkpoint->origin;
        ASSERT_EQ(note->signatures.size(), 1u);
        EXPECT_EQ(ledger::checkSignature(*own, note->text, note->signatures[0]), ledger::SignatureCheck::Verified);
    }
    EXPECT_THAT(origin, StartsWith("orvcamera.ledger/"));

    const OrvctlRun ofTwo = ledgerAction({"checkpoint", "--size", "2"});
    EXPECT_EQ(ofTwo.code, 0);
    EXPECT_THAT(ofTwo.out, StartsWith(origin + "\n2\n"));
    const OrvctlRun json = ledgerAction({"--json", "checkpoint"});
    EXPECT_THAT(topLevelKeys(json.out), ElementsAre("origin", "note"));
    EXPECT_THAT(json.out, StartsWith("{\"origin\":\"" + origin + "\",\"note\":\"" + origin + "\\n4\\n"));
    const OrvctlRun none = ledgerAction({"checkpoint", "--size", "9"});
    EXPECT_EQ(none.code, 1);
    EXPECT_THAT(none.err, HasSubstr("the ledger holds no checkpoint of 9 events signed by a trusted key"));

    const std::string signer = ledger::keyLabel(own->name, own->id);
    const OrvctlRun verify = ledgerAction({"verify"});
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    EXPECT_THAT(verify.out, StartsWith("intact: 4 events, head 4 "));
    EXPECT_THAT(verify.out, HasSubstr("\norigin " + origin + "\n"));
    EXPECT_THAT(verify.out, HasSubstr("  4 checkpoints signed by " + signer +
                                      ", the newest of 4 events; the ledger matches each\n"));
    EXPECT_THAT(verify.out, HasSubstr("  this station's witness file: 4 checkpoints it signed, each compared with "
                                      "the ledger\n"));
    const OrvctlRun verifyJson = ledgerAction({"--json", "verify"});
    EXPECT_EQ(verifyJson.code, 0);
    EXPECT_THAT(topLevelKeys(verifyJson.out),
                ElementsAre("intact", "eventsChecked", "firstBroken", "problem", "head", "origin", "checkpoints",
                            "signedUpTo", "witnessedUpTo", "witnesses", "witnessFileRecords", "findings"));
    EXPECT_THAT(verifyJson.out, StartsWith("{\"intact\":true,\"eventsChecked\":4,\"firstBroken\":null,"
                                           "\"problem\":null,\"head\":{\"number\":4,"));
    EXPECT_THAT(verifyJson.out, HasSubstr(",\"checkpoints\":4,\"signedUpTo\":4,\"witnessedUpTo\":0,\"witnesses\":[],"
                                          "\"witnessFileRecords\":4,"));
}

TEST_F(OrvctlEvidence, TrustedKeysAreRememberedForLaterCommands)
{
    ASSERT_NO_FATAL_FAILURE(record({"Mine"}));
    const std::string mine = firstLine(ledgerAction({"key"}).out);
    // Another station records into the same ledger and signs a checkpoint of its own.
    ScratchFolder otherHome;
    becomeAccount(otherHome / "data");
    const std::string theirs = firstLine(ledgerAction({"key"}).out);
    const OrvctlRun other = at({"set", "wifi", "ssid=Theirs"});
    becomeAccount(folder / "data");
    ASSERT_EQ(other.code, 0) << other.err;
    ASSERT_NE(mine, theirs);
    const std::optional<ledger::VerifierKey> theirKey = keyOf(theirs);
    ASSERT_TRUE(theirKey);
    const std::string theirLabel = ledger::keyLabel(theirKey->name, theirKey->id);

    const OrvctlRun unknown = ledgerAction({"verify"});
    EXPECT_EQ(unknown.code, 5) << "a checkpoint by a key nobody said to trust is no evidence";
    EXPECT_THAT(unknown.out, HasSubstr("unknown signer: " + theirLabel));

    writeFile(folder / "dock.keys", mine + "\n" + theirs + "\n");
    ASSERT_EQ(at({"--trusted", path("dock.keys"), "set", "wifi", "ssid=Trusting"}).code, 0);
    EXPECT_THAT(readFile(stationFolder() / "orv_station.ini"),
                AllOf(HasSubstr("[Ledger]"), HasSubstr("TrustedKeys=" + path("dock.keys"))));

    // Later commands, without --trusted, trust the file's keys still.
    const OrvctlRun verify = ledgerAction({"verify"});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out, StartsWith("intact: 3 events, "));
    EXPECT_THAT(verify.out, HasSubstr(theirLabel));
    const OrvctlRun checkpoint = ledgerAction({"checkpoint", "--size", "2"});
    EXPECT_EQ(checkpoint.code, 0) << "the other station's checkpoint counts: " << checkpoint.err;
    ASSERT_EQ(at({"set", "wifi", "ssid=Still"}).code, 0);
    EXPECT_EQ(ledgerAction({"verify"}).code, 0);

    // A mistyped file stops its command, and is not remembered to stop every later one.
    const std::string remembered = readFile(stationFolder() / "orv_station.ini");
    EXPECT_EQ(at({"--trusted", path("dock.keyz"), "set", "wifi", "ssid=Typo"}).code, 1);
    EXPECT_EQ(readFile(stationFolder() / "orv_station.ini"), remembered);
    EXPECT_EQ(ledgerAction({"verify"}).code, 0);
}

TEST_F(OrvctlEvidence, AProofOfAnEventIsCheckedWithTheSignersKeyAlone)
{
    ASSERT_NO_FATAL_FAILURE(record({"One", "Two", "Three"}));
    const std::optional<ledger::VerifierKey> own = keyOf(ledgerAction({"key"}).out);
    ASSERT_TRUE(own);
    const std::vector<ledger::Event> events = eventsIn(location);
    ASSERT_EQ(events.size(), 3u);

    const OrvctlRun written = ledgerAction({"prove", "2", "--out", path("event2.proof")});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(written.out, "wrote the proof of event 2 to " + path("event2.proof") + "\n");
    const std::string proofText = readFile(folder / "event2.proof");
    EXPECT_THAT(proofText, StartsWith("c2sp.org/tlog-proof@v1\nextra "));
    // The extra line, read by hand: the event's canonical form, which anyone can hash.
    const std::size_t extraEnd = proofText.find('\n', 29);
    const std::optional<std::string> extra = ledger::base64Decode(proofText.substr(29, extraEnd - 29));
    ASSERT_TRUE(extra);
    EXPECT_EQ(*extra, ledger::canonicalForm(events[1]));
    std::string error;
    const std::optional<ledger::TlogProof> proof = ledger::parseProof(proofText, error);
    ASSERT_TRUE(proof) << error;
    EXPECT_EQ(proof->index, 1u);
    ledger::KeyRing trusted;
    trusted.add(*own);
    const ledger::ProofCheck check = ledger::checkProof(*proof, trusted, {});
    EXPECT_TRUE(check.valid) << check.problem;
    EXPECT_EQ(check.checkpoint.size, 3u) << "against the newest checkpoint";
    EXPECT_EQ(check.signedBy, std::vector<std::string>{ledger::keyLabel(own->name, own->id)});
    EXPECT_EQ(ledgerAction({"prove", "2"}).out, proofText) << "without --out: on standard output";
    const OrvctlRun json = ledgerAction({"--json", "prove", "1", "--out", path("event1.proof")});
    EXPECT_EQ(json.code, 0);
    EXPECT_THAT(topLevelKeys(json.out), ElementsAre("number", "proof", "file"));

    // An event recorded without a checkpoint after it (another program's append) is not yet proven.
    {
        const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(location, error);
        ASSERT_TRUE(opened) << error;
        ledger::Event e = events.back();
        e.result = "unsealed";
        ASSERT_TRUE(opened->append(e)) << opened->error();
    }
    const OrvctlRun unsealed = ledgerAction({"prove", "4", "--out", path("event4.proof")});
    EXPECT_EQ(unsealed.code, 1);
    EXPECT_THAT(unsealed.err, HasSubstr("event 4 is not covered by a signed checkpoint yet (the newest covers 3 "
                                        "events)"));
    EXPECT_FALSE(std::filesystem::exists(folder / "event4.proof"));
    EXPECT_THAT(ledgerAction({"prove", "9"}).err, HasSubstr("there is no event 9 in the ledger"));
}

TEST_F(OrvctlEvidence, AnExportIsVerifiedWithNoDatabaseAndAChangedByteIsFound)
{
    ASSERT_EQ(at({"set", "device", "officerid=P-1"}).code, 0);
    ASSERT_EQ(at({"set", "device", "officerid=P-2"}).code, 0);
    ASSERT_EQ(at({"set", "device", "officerid=P-3"}).code, 0);
    writeFile(folder / "trusted.keys", ledgerAction({"key"}).out);
    const OrvctlRun exported = ledgerAction({"export", path("ledger.jsonl")});
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(exported.out, "exported 3 events and 3 checkpoints to " + path("ledger.jsonl") + "\n");
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(location + suffix);
    }

    // Read on another computer, by someone who holds only the station's key.
    ScratchFolder reader;
    becomeAccount(reader / "data");
    const auto verifyFile = [&](const std::string& file, bool trusting) {
        std::vector<std::string> args{"ledger", "verify", "--file", file};
        if (trusting) {
            args.insert(args.end(), {"--trusted", path("trusted.keys")});
        }
        return runOrvctlWith(args);
    };
    const OrvctlRun verify = verifyFile(path("ledger.jsonl"), true);
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    EXPECT_THAT(verify.out, StartsWith("intact: 3 events, head 3 "));
    EXPECT_THAT(verify.out, HasSubstr("3 checkpoints signed by station/"));
    EXPECT_FALSE(std::filesystem::exists(location)) << "no database was made";

    // One byte of event 2 changed.
    std::string bytes = readFile(folder / "ledger.jsonl");
    const std::size_t at = bytes.find("\"officer_after\":\"P-2\"");
    ASSERT_NE(at, std::string::npos) << bytes;
    bytes[at + 19] = '7';
    writeFile(folder / "altered.jsonl", bytes);
    const OrvctlRun altered = verifyFile(path("altered.jsonl"), true);
    EXPECT_EQ(altered.code, 5) << altered.out;
    EXPECT_THAT(altered.out, StartsWith("broken at event 2: "));
    EXPECT_THAT(altered.err, HasSubstr(path("altered.jsonl") + ": broken at event 2\n"));
    becomeAccount(folder / "data");
}

TEST_F(OrvctlEvidence, AnExportReadWithoutTheSignersKeysIsNoEvidence)
{
    ASSERT_NO_FATAL_FAILURE(record({"One"}));
    ASSERT_EQ(ledgerAction({"export", path("ledger.jsonl")}).code, 0);
    ScratchFolder reader;
    becomeAccount(reader / "data");
    const OrvctlRun verify = runOrvctlWith({"ledger", "verify", "--file", path("ledger.jsonl")});
    becomeAccount(folder / "data");
    EXPECT_EQ(verify.code, 5) << verify.out;
    EXPECT_THAT(verify.out, HasSubstr("is signed only by keys not trusted here (unknown signer: station/"));
}

TEST_F(OrvctlEvidence, CameraTextIsGuardedInTheCsvExportAndExactInTheJsonExport)
{
    const std::u16string formula = u"=HYPERLINK(\"http://x\",\"y\")";
    DeviceRecord device = camera->config<DeviceRecord>();
    device.setText(DeviceRecord::policeId, formula);
    camera->setConfig(device);
    ASSERT_EQ(at({"set", "device", "companyName=Unit 9"}).code, 0);
    ASSERT_EQ(at({"set", "device", "officerid=+SUM(A1)"}).code, 0);

    ASSERT_EQ(ledgerAction({"export", path("people.csv")}).code, 0);
    const std::string csv = readFile(folder / "people.csv");
    EXPECT_THAT(csv, HasSubstr(",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",\"'=HYPERLINK("));
    EXPECT_THAT(csv, HasSubstr(",'+SUM(A1),"));
    EXPECT_THAT(csv, AllOf(Not(HasSubstr(",\"=")), Not(HasSubstr(",=")), Not(HasSubstr(",+"))))
        << "no cell starts as a formula";

    ASSERT_EQ(ledgerAction({"export", path("exact.jsonl")}).code, 0);
    std::string error;
    const std::optional<ledger::LedgerSnapshot> snapshot = ledger::readJsonLinesExport(folder / "exact.jsonl", error);
    ASSERT_TRUE(snapshot) << error;
    ASSERT_EQ(snapshot->events.size(), 2u);
    EXPECT_EQ(snapshot->events[0].officerBefore, "=HYPERLINK(\"http://x\",\"y\")");
    EXPECT_EQ(snapshot->events[0].officerAfter, "=HYPERLINK(\"http://x\",\"y\")");
    EXPECT_EQ(snapshot->events[1].officerAfter, "+SUM(A1)");
    EXPECT_EQ(runOrvctlWith({"ledger", "verify", "--file", path("exact.jsonl")}).code, 0)
        << "its hashes hold for the exact text";
}

// ---- independent witnesses ----

TEST_F(OrvctlEvidence, AWitnessCosignsAGrowingLedgerAndRefusesOneRolledBack)
{
    ASSERT_NO_FATAL_FAILURE(record({"One", "Two"}));
    writeFile(folder / "stations.keys", ledgerAction({"key"}).out);
    ScratchFolder witnessHome;
    const std::string state = text(witnessHome / "state.txt");
    const auto witness = [&](std::vector<std::string> options) {
        becomeAccount(witnessHome / "data");
        options.insert(options.begin(), {"--ledger", location, "--trusted", path("stations.keys")});
        options.insert(options.end(), {"ledger", "witness", "--state", state});
        const OrvctlRun r = runOrvctlWith(options);
        becomeAccount(folder / "data");
        return r;
    };

    const OrvctlRun first = witness({"--json"});
    EXPECT_EQ(first.code, 0) << first.out << first.err;
    EXPECT_THAT(topLevelKeys(first.out), ElementsAre("outcome", "size", "previousSize", "message"));
    EXPECT_THAT(first.out, StartsWith("{\"outcome\":\"cosigned\",\"size\":2,\"previousSize\":0,"));
    EXPECT_THAT(witness({}).out, HasSubstr("is cosigned by this witness already"));
    ASSERT_NO_FATAL_FAILURE(record({"Three"}));
    const OrvctlRun grown = witness({});
    EXPECT_EQ(grown.code, 0) << grown.err;
    EXPECT_THAT(grown.out, StartsWith("cosigned the checkpoint of 3 events of orvcamera.ledger/"));
    EXPECT_THAT(grown.out, HasSubstr(" as witness/"));

    ASSERT_EQ(dropLastEvents(location, 1), "");
    const OrvctlRun refused = witness({});
    EXPECT_EQ(refused.code, 5) << refused.out;
    EXPECT_THAT(refused.err, StartsWith("orvctl: ledger witness: the newest checkpoint holds 2 events, fewer than "
                                        "the 3 this witness cosigned before"));
    EXPECT_THAT(refused.err, HasSubstr("the ledger was rolled back\n"));
    EXPECT_THAT(witness({"--json"}).out, StartsWith("{\"outcome\":\"refused\","));
}

TEST(OrvctlLedgerInitDb, IsForASharedPostgresLedgerOnly)
{
    ScratchFolder folder;
    const OrvctlRun r =
        runOrvctlWith({"ledger", "init-db", text(folder / "ledger.db"), "--station-role", "orv_station"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, StartsWith("orvctl: ledger init-db is for a shared PostgreSQL ledger"));
    EXPECT_FALSE(std::filesystem::exists(folder / "ledger.db"));
}

} // namespace
} // namespace orv::test
