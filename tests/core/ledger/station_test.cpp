// A station: what it refuses to start with, the check it makes before anything is written to a
// camera (the ledger still holds what it saw), and the checkpoints it signs, on both backends.
#include "tests/core/ledger/evidence_fixture.h"

#include <functional>

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

void writeFile(const std::filesystem::path& file, const std::string& bytes)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(StationOpen, RefusesWhatItCannotUseAndLeavesItAlone)
{
    const TempFolder temp;
    const std::filesystem::path folder = temp.path() / "desk";
    const std::filesystem::path keyFile = folder / std::string(kStationKeyFileName);
    const std::filesystem::path witnessFile = folder / std::string(kWitnessFileName);
    const std::filesystem::path trusted = temp.path() / "trusted.txt";
    std::string error;
    const std::optional<SignerKey> someKey = SignerKey::generate("station/other/desk", KeyType::Ed25519, error);
    const std::optional<SignerKey> cosigner = SignerKey::generate("witness/other/desk", KeyType::Cosignature, error);
    ASSERT_TRUE(someKey && cosigner) << error;

    struct Row
    {
        const char* what;
        std::function<StationSetup()> prepare;
        std::string says;
        std::filesystem::path untouched; // a file the refusal must leave as it was
    };
    const std::vector<Row> rows = {
        {"a trusted keys file that does not parse",
         [&] {
             writeFile(trusted, "# the agency's stations\n" + verifierKeyText(someKey->verifier()) + "\nnot-a-key\n");
             return StationSetup{folder, trusted};
         },
         "the trusted keys file " + utf8Path(trusted) + " does not parse: line 3: ", trusted},
        {"a missing trusted keys file",
         [&] {
             return StationSetup{folder, temp.path() / "nowhere.txt"};
         },
         "the trusted keys file " + utf8Path(temp.path() / "nowhere.txt") + " does not exist",
         {}},
        {"a trusted keys file that is a folder",
         [&] {
             std::filesystem::create_directories(temp.path() / "keys-folder");
             return StationSetup{folder, temp.path() / "keys-folder"};
         },
         "the trusted keys file " + utf8Path(temp.path() / "keys-folder") + " cannot be read",
         {}},
        {"a key file of garbage",
         [&] {
             writeFile(keyFile, "garbage\n");
             return StationSetup{folder, {}};
         },
         "the key " + utf8Path(keyFile) + " cannot be used: ", keyFile},
        {"a cosignature key where the station's belongs",
         [&] {
             writeFile(keyFile, cosigner->text() + "\n");
             return StationSetup{folder, {}};
         },
         "the key " + utf8Path(keyFile) + " is not a key of the kind this needs", keyFile},
        {"a key file that is a folder",
         [&] {
             std::filesystem::create_directories(keyFile);
             return StationSetup{folder, {}};
         },
         "the key " + utf8Path(keyFile) + " cannot be read",
         {}},
        {"a damaged witness file",
         [&] {
             writeFile(keyFile, someKey->text() + "\n");
             writeFile(witnessFile, "orvcamera-witness 1\nnonsense here\n");
             return StationSetup{folder, {}};
         },
         "the witness file " + utf8Path(witnessFile) + ": line 2: it is no record of a witness file", witnessFile},
        {"a station folder under a plain file",
         [&] {
             writeFile(temp.path() / "plain", "x");
             return StationSetup{temp.path() / "plain" / "desk", {}};
         },
         "the station's folder " + utf8Path(temp.path() / "plain" / "desk") + ": cannot be created",
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        const StationSetup setup = row.prepare();
        const std::string before = row.untouched.empty() ? "" : fileBytes(row.untouched);
        error.clear();
        EXPECT_FALSE(Station::open(setup, error));
        EXPECT_TRUE(contains(error, row.says)) << error;
        if (!row.untouched.empty()) {
            EXPECT_EQ(fileBytes(row.untouched), before);
        }
    }
}

TEST(StationOpen, KeepsItsKeyAndTrustsItself)
{
    const TempFolder temp;
    std::string error;
    const auto first = Station::open({temp.path() / "desk", {}}, error);
    ASSERT_TRUE(first) << error;
    const auto again = Station::open({temp.path() / "desk", {}}, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->key().verifier(), first->key().verifier());
    EXPECT_TRUE(again->trusted().find(first->key().name(), first->key().id()));
}

// A witness file gains a line with every checkpoint: after years it is larger than any settings
// file, and the station must still start.
TEST(StationOpen, WitnessFileLargerThanASettingsFileStillOpens)
{
    const TempFolder temp;
    const std::filesystem::path folder = temp.path() / "desk";
    const std::string origin = "orvcamera.ledger/2026-01-01/00112233445566778899aabbccddeeff";
    std::string text = "orvcamera-witness 1\n";
    std::string lastPlace;
    for (int i = 0; text.size() <= 20u * 1024 * 1024; ++i) {
        lastPlace = "/srv/ledgers/" + std::string(60, 'x') + std::to_string(i) + ".db";
        text += "seen " + lastPlace + " " + origin + "\n";
    }
    writeFile(folder / std::string(kWitnessFileName), text);
    std::string error;
    const auto station = Station::open({folder, {}}, error);
    ASSERT_TRUE(station) << error;
    EXPECT_EQ(station->witness().originAt(lastPlace), origin);
}

using StationTest = StationLedgerTest;

TEST_P(StationTest, CheckBeforeWritingAcceptsAFreshAndAnExtendedLedger)
{
    const auto station = openStation("a");
    const auto other = openStation("b");
    ASSERT_TRUE(station && other);
    Station::Guard g = guard(*station);
    EXPECT_EQ(g.outcome, Station::Guard::Outcome::Ok) << g.message;
    const std::string place = placeOfLedger();
    EXPECT_EQ(station->witness().originAt(place), snapshot().origin);

    appendEvents(station.get(), 3);
    appendEvents(other.get(), 2);
    g = guard(*station);
    EXPECT_EQ(g.outcome, Station::Guard::Outcome::Ok) << g.message;
    EXPECT_TRUE(g.evidence.empty());
}

TEST_P(StationTest, CheckBeforeWritingFindsTheEventItLastSawChangedOrGone)
{
    struct Row
    {
        const char* what;
        std::function<void()> tamperWith;
        bool removed;
    };
    const std::vector<Row> rows = {
        {"an earlier event rewritten, hashes computed again", [&] { rewriteOfficer(2); }, false},
        {"the event it saw last rewritten", [&] { rewriteOfficer(3); }, false},
        {"the events from it on removed", [&] { rollBack(2, true); }, true},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        useFreshLedger();
        const auto station = openStation("f" + std::to_string(++n));
        ASSERT_TRUE(station);
        ASSERT_TRUE(guard(*station).ok());
        appendEvents(station.get(), 3);
        const std::string sawHash = events()[2].hash;
        const TreeRecord seen = *station->witness().largest(snapshot().origin);
        row.tamperWith();
        EXPECT_TRUE(verify().intact);

        const Station::Guard g = guard(*station);
        EXPECT_EQ(g.outcome, Station::Guard::Outcome::Forked) << g.message;
        EXPECT_EQ(g.seenAt, 3);
        EXPECT_TRUE(contains(g.message, "the ledger's history changed since this station last saw it at event 3; "
                                        "the proof is in " +
                                            utf8Path(g.evidence)))
            << g.message;
        ASSERT_FALSE(g.evidence.empty());
        EXPECT_EQ(g.evidence.parent_path(), station->witnessPath().parent_path());
        const std::string proof = fileBytes(g.evidence);
        EXPECT_TRUE(contains(proof, seen.note)) << proof;
        EXPECT_TRUE(contains(proof, "The chain hash of event 3 then: " + sawHash)) << proof;
        if (row.removed) {
            EXPECT_TRUE(contains(proof, "There is no event 3 in the ledger now: it holds 2 events.")) << proof;
        } else {
            const Event now = events()[2];
            EXPECT_TRUE(contains(proof, "Event 3 in the ledger now has the chain hash " + now.hash)) << proof;
            EXPECT_TRUE(contains(proof, canonicalForm(now))) << proof;
        }
        EXPECT_EQ(guard(*station).outcome, Station::Guard::Outcome::Forked) << "a fork found stays found";
    }
}

TEST_P(StationTest, NothingIsWrittenOrSignedWhenTheWitnessFileCannotBeWritten)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    std::filesystem::create_directories(station->witnessPath());
    const Station::Guard g = guard(*station);
    EXPECT_EQ(g.outcome, Station::Guard::Outcome::Failed);
    EXPECT_TRUE(contains(g.message, "the witness file " + utf8Path(station->witnessPath()))) << g.message;

    appendEvents(nullptr, 2);
    const Station::Signed s = sign(*station);
    EXPECT_FALSE(s.ok);
    EXPECT_TRUE(contains(s.message, "no checkpoint signed")) << s.message;
    EXPECT_EQ(checkpointRows(), 0u) << "a checkpoint is published only once the station has kept it";
}

TEST_P(StationTest, SignCheckpointExtendsTheTreeTheStationKept)
{
    const auto station = openStation("a");
    const auto newcomer = openStation("b");
    ASSERT_TRUE(station && newcomer);
    appendEvents(nullptr, 3);
    ASSERT_TRUE(sign(*station).ok);
    appendEvents(nullptr, 2);
    const Station::Signed extended = sign(*station);
    ASSERT_TRUE(extended.ok && extended.made) << extended.message;
    EXPECT_EQ(extended.size, 5);
    // The tree grown from the kept state is the one a station reading every event signs.
    const Station::Signed whole = sign(*newcomer);
    ASSERT_TRUE(whole.ok) << whole.message;
    std::string error;
    EXPECT_EQ(parseNote(extended.note, error)->text, parseNote(whole.note, error)->text);

    // History rewritten below the kept tree: the events after it no longer follow it.
    rewriteOfficer(2);
    appendEvents(nullptr, 2);
    const std::size_t rows = checkpointRows();
    const Station::Signed refused = sign(*station);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(contains(refused.message, "event 6 does not follow the chain (its previous hash differs); no "
                                          "checkpoint signed"))
        << refused.message;
    EXPECT_EQ(checkpointRows(), rows);
    EXPECT_EQ(station->witness().largest(snapshot().origin)->size, 5);
}

TEST_P(StationTest, SignCheckpointRefusesToContradictATrustedCheckpoint)
{
    const auto first = openStation("a");
    const auto trusting = openStation("b", {"a"});
    const auto unaware = openStation("c");
    ASSERT_TRUE(first && trusting && unaware);
    appendEvents(first.get(), 3);
    rewriteOfficer(2);
    const std::size_t rows = checkpointRows();

    const Station::Signed refused = sign(*trusting);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(contains(refused.message, "the ledger's first 2 events disagree with the checkpoint of 2 events "
                                          "signed by " +
                                              labelOf(*first) + "; no checkpoint signed"))
        << refused.message;
    EXPECT_EQ(checkpointRows(), rows);
    EXPECT_EQ(trusting->witness().largest(snapshot().origin), nullptr);

    // A station that trusts nobody else signs what it reads; the checkpoints then disagree.
    ASSERT_TRUE(sign(*unaware).ok);
    const EvidenceReport report = evidence(ringOf({"a", "c"}));
    EXPECT_EQ(report.firstBroken, 2) << report.problem;
}

TEST_P(StationTest, SignCheckpointPublishesAgainWhatTheLedgerLost)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    appendEvents(nullptr, 3);
    const Station::Signed made = sign(*station);
    ASSERT_TRUE(made.ok && made.made) << made.message;

    // Nothing new: nothing signed, nothing added.
    Station::Signed again = sign(*station);
    EXPECT_TRUE(again.ok && !again.made) << again.message;
    EXPECT_EQ(again.note, made.note);
    EXPECT_EQ(checkpointRows(), 1u);

    tamper("DELETE FROM checkpoints");
    const KeyRing ring = ringOf({"a"});
    EXPECT_EQ(evidence(ring, station.get()).firstBroken, 3);
    again = sign(*station);
    EXPECT_TRUE(again.ok && !again.made) << again.message;
    EXPECT_EQ(again.size, 3);
    const std::vector<StoredCheckpoint> stored = snapshot().checkpoints;
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].note, made.note);
    EXPECT_EQ(stored[0].size, 3);
    const EvidenceReport report = evidence(ring, station.get());
    EXPECT_TRUE(report.intact) << report.problem;
}

INSTANTIATE_TEST_SUITE_P(Backends, StationTest, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

} // namespace
