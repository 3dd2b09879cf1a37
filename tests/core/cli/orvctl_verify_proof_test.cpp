// orvctl ledger verify-proof: a proof that ledger prove wrote, checked where there is no ledger,
// no database and no station, with the signers' verifier keys alone; every altered byte, key
// nobody trusts and other ledger is refused with exit status 5 and its reason on one line.
#include "ledger/evidence.h"
#include "ledger/signed_note.h"
#include "ledger/station.h"
#include "persist/atomic_file.h"
#include "tests/core/cli/orvctl_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orv::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string utf8(const std::filesystem::path& path)
{
    return pathUtf8(path);
}

// A station that recorded three events to its own ledger, each sealed by a checkpoint it signed;
// the proof of event 2, as ledger prove wrote it; and a reader on another computer who holds the
// proof and the station's verifier key only.
class VerifyProof : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setDataHome(utf8(folder / "station-data"));
        location = utf8(folder / "ledger.db");
        station = stationIn(ledger::defaultStationFolder());
        ASSERT_TRUE(station);
        ASSERT_NO_FATAL_FAILURE(recordTo(location, *station, {"P-1", "P-2", "P-3"}));
        writeFile(folder / "trusted.keys", ledger::verifierKeyText(station->key().verifier()) + "\n");
        const OrvctlRun proved =
            runOrvctlWith({"--ledger", location, "ledger", "prove", "2", "--out", utf8(folder / "event2.proof")});
        ASSERT_EQ(proved.code, 0) << proved.err;
        proof = readFile(folder / "event2.proof");
        setDataHome(utf8(folder / "reader-data"));
    }
    void TearDown() override { setDataHome(TestDataHome::folder()); }

    static std::shared_ptr<ledger::Station> stationIn(const std::filesystem::path& stationFolder)
    {
        std::string error;
        std::shared_ptr<ledger::Station> opened = ledger::Station::open({stationFolder, {}}, error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }

    static void recordTo(const std::string& at, ledger::Station& signer, std::vector<std::string> officers)
    {
        std::string error;
        const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(at, error);
        ASSERT_TRUE(opened) << error;
        for (const std::string& officer : officers) {
            ledger::Event e;
            e.timeUtc = "2026-03-05T06:07:09.123Z";
            e.utcOffsetMinutes = 480;
            e.station = "desk-1";
            e.operatorName = "clerk";
            e.tool = "orvctl";
            e.toolVersion = "1.0.0.2";
            e.kind = "set";
            e.deviceId = "ORV2026000" + officer.substr(2);
            e.where = "127.0.0.5";
            e.officerBefore = "P-0";
            e.officerAfter = officer;
            e.result = "ok";
            ASSERT_TRUE(opened->append(e)) << opened->error();
            const ledger::Station::Signed s = signer.signCheckpoint(*opened);
            ASSERT_TRUE(s.ok) << s.message;
        }
    }

    // ledger verify-proof FILE --trusted TRUSTED ARGS, the proof written first when given.
    OrvctlRun verify(const std::string& text, const std::string& trusted = "trusted.keys",
                     std::vector<std::string> args = {})
    {
        writeFile(folder / "checked.proof", text);
        std::vector<std::string> all{
            "--ip",      "127.0.0.9",           "ledger", "verify-proof", utf8(folder / "checked.proof"),
            "--trusted", utf8(folder / trusted)};
        all.insert(all.end(), args.begin(), args.end());
        return runOrvctlWith(all);
    }

    ScratchFolder folder;
    std::string location;
    std::shared_ptr<ledger::Station> station;
    std::string proof;
};

std::string label(const ledger::Station& s)
{
    return ledger::keyLabel(s.key().name(), s.key().id());
}

void expectRefused(const OrvctlRun& r, const std::string& reason)
{
    EXPECT_EQ(r.code, 5) << r.out << r.err;
    EXPECT_THAT(r.err, AllOf(StartsWith("orvctl: ledger verify-proof: "), HasSubstr(reason)));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_EQ(r.out, "") << "nothing of a refused proof is shown as the event";
}

TEST_F(VerifyProof, AValidProofShowsTheEventWithNoLedgerOrStationOpened)
{
    const OrvctlRun r = verify(proof);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out,
                StartsWith("valid: event 2 is in the checkpoint of 3 events signed by " + label(*station) + "\n"));
    EXPECT_THAT(r.out, HasSubstr("\ndevice         ORV20260002\n"));
    EXPECT_THAT(r.out, HasSubstr("\nofficer        P-0 -> P-2\n"));
    EXPECT_THAT(r.out, HasSubstr("the station was at UTC+08:00)\n"));
    EXPECT_THAT(r.out, HasSubstr("\nclock offset   -\n"));
    EXPECT_THAT(r.out, HasSubstr("\ntree size      3\n"));
    EXPECT_FALSE(std::filesystem::exists(folder / "reader-data")) << "no ledger, no station key made for the reader";

    const OrvctlRun json = verify(proof, "trusted.keys", {"--json"});
    EXPECT_EQ(json.code, 0);
    EXPECT_THAT(json.out, AllOf(StartsWith("{\"valid\":true,\"problem\":null,\"event\":{\"number\":2,"),
                                HasSubstr("\"officerAfter\":\"P-2\""), HasSubstr("\"size\":3")));

    // Without --trusted there is nothing to judge by: a usage error, even when keys were remembered.
    const OrvctlRun untrusting =
        runOrvctlWith({"--ip", "127.0.0.9", "ledger", "verify-proof", utf8(folder / "event2.proof")});
    EXPECT_EQ(untrusting.code, 2);
    EXPECT_THAT(untrusting.err, HasSubstr("ledger verify-proof needs --trusted FILE"));
    const OrvctlRun missing = runOrvctlWith({"--ip", "127.0.0.9", "ledger", "verify-proof", utf8(folder / "none.proof"),
                                             "--trusted", utf8(folder / "trusted.keys")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_THAT(missing.err, HasSubstr("the proof file " + utf8(folder / "none.proof") + " does not exist"));
    EXPECT_EQ(verify(proof, "no.keys").code, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "reader-data"));
}

TEST_F(VerifyProof, OneChangedByteAnywhereIsRefused)
{
    // One base64 letter for another, in the middle of a line so that the text still reads.
    const auto changedIn = [&](std::size_t lineStart) {
        std::string text = proof;
        const std::size_t at = lineStart + (proof.find('\n', lineStart) - lineStart) / 2;
        text[at] = text[at] == 'A' ? 'B' : 'A';
        return text;
    };
    const std::size_t extra = proof.find("extra ") + 6;
    const std::size_t hash = proof.find('\n', proof.find("index ")) + 1;
    const std::size_t root = proof.find("\n3\n") + 3;
    const std::size_t signature = proof.find(' ', proof.find("\xE2\x80\x94 ") + 4) + 1;
    const std::string notIncluded = "the proof does not verify: event 2 is not in the tree of checkpoint ";
    const std::string altered = "does not verify: the checkpoint was altered";
    expectRefused(verify(changedIn(extra)), notIncluded);
    expectRefused(verify(changedIn(extra)), "(the proof or the event was altered)");
    expectRefused(verify(changedIn(hash)), notIncluded);
    expectRefused(verify(changedIn(root)), "the signature of " + label(*station) + " " + altered);
    expectRefused(verify(changedIn(signature)), altered);
    std::string size = proof;
    size.replace(root - 3, 3, "\n4\n");
    expectRefused(verify(size), altered);
    expectRefused(verify(proof.substr(0, extra - 6) + proof.substr(hash - 8)),
                  "the proof does not carry the event it is about");
}

TEST_F(VerifyProof, AKeyNobodyTrustsAndAnotherLedgerAreRefused)
{
    // A second station with a ledger of its own.
    const std::shared_ptr<ledger::Station> other = stationIn(folder / "other-station");
    ASSERT_TRUE(other);
    const std::string otherLocation = utf8(folder / "other.db");
    ASSERT_NO_FATAL_FAILURE(recordTo(otherLocation, *other, {"X-1"}));
    const std::string otherKey = ledger::verifierKeyText(other->key().verifier()) + "\n";
    writeFile(folder / "other.keys", otherKey);
    writeFile(folder / "both.keys", readFile(folder / "trusted.keys") + otherKey);
    ledger::LedgerSnapshot snapshot;
    {
        std::string error;
        const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(otherLocation, error);
        ASSERT_TRUE(opened) << error;
        ASSERT_TRUE(opened->readSnapshot(snapshot));
    }
    ledger::KeyRing otherRing;
    otherRing.add(other->key().verifier());
    std::string error;
    const std::optional<ledger::TlogProof> otherProof = ledger::proveEvent(snapshot, otherRing, {}, 1, error);
    ASSERT_TRUE(otherProof) << error;
    const std::string otherText = ledger::proofText(*otherProof);
    ASSERT_EQ(verify(otherText, "other.keys").code, 0) << "a proof its own signer's key verifies";

    expectRefused(verify(proof, "other.keys"),
                  "the checkpoint is signed by " + label(*station) + ", which is not among the trusted keys");
    expectRefused(verify(otherText), "the checkpoint is signed by " + label(*other) +
                                         ", which is not among the trusted keys (its origin is " + snapshot.origin +
                                         ")");

    // Both keys trusted, the ledger named by its origin: the other ledger's proof is refused.
    const std::string origin =
        proof.substr(proof.find("\n\n") + 2, proof.find('\n', proof.find("\n\n") + 2) - proof.find("\n\n") - 2);
    EXPECT_EQ(verify(proof, "both.keys", {"--origin", origin}).code, 0);
    expectRefused(verify(otherText, "both.keys", {"--origin", origin}),
                  "a proof of another ledger: the checkpoint's origin is " + snapshot.origin + ", not " + origin);
}

} // namespace
} // namespace orv::test
