// An independent witness on both backends: it cosigns a ledger that grows, and refuses, adding
// no cosignature, a ledger whose history was rewritten or rolled back even when a trusted station
// signed the result.
#include "ledger/independent_witness.h"
#include "tests/core/ledger/evidence_fixture.h"

#include <functional>

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

constexpr std::uint64_t kNow = 1767225600;

class WitnessTest : public StationLedgerTest
{
protected:
    void SetUp() override
    {
        StationLedgerTest::SetUp();
        std::string error;
        std::optional<SignerKey> key = SignerKey::generate("witness/audit-office", KeyType::Cosignature, error);
        ASSERT_TRUE(key) << error;
        key_ = std::move(key);
    }

    // The witness's state file, as it stands on its computer.
    WitnessFile state()
    {
        std::string error;
        std::optional<WitnessFile> file = WitnessFile::open(folder_.path() / "witness-state.txt", error);
        EXPECT_TRUE(file) << error;
        return file.value_or(WitnessFile{});
    }

    WitnessRun witness(const KeyRing& stations)
    {
        WitnessFile file = state();
        return witnessLedger(*open(), stations, *key_, file, kNow);
    }

    std::optional<SignerKey> key_;
};

TEST_P(WitnessTest, CosignsALedgerThatGrows)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    const KeyRing ring = ringOf({"a"});
    WitnessRun run = witness(ring);
    EXPECT_EQ(run.outcome, WitnessRun::Outcome::Failed) << "nothing to cosign yet";

    appendEvents(station.get(), 4);
    run = witness(ring);
    ASSERT_EQ(run.outcome, WitnessRun::Outcome::Cosigned) << run.message;
    EXPECT_EQ(run.checkpoint.size, 4u);
    EXPECT_EQ(run.previousSize, 0);
    EXPECT_EQ(witness(ring).outcome, WitnessRun::Outcome::Unchanged);

    // Grown by 3: the witness's tree of 4 must be a prefix of the new one (a consistency proof).
    appendEvents(station.get(), 3);
    run = witness(ring);
    ASSERT_EQ(run.outcome, WitnessRun::Outcome::Cosigned) << run.message;
    EXPECT_EQ(run.checkpoint.size, 7u);
    EXPECT_EQ(run.previousSize, 4);
    EXPECT_EQ(state().largest(snapshot().origin)->size, 7);

    KeyRing witnesses;
    witnesses.add(key_->verifier());
    const EvidenceReport report = evidence(ring, station.get(), witnesses, 1);
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.witnessedUpTo, 7);
}

TEST_P(WitnessTest, RefusesARewrittenOrRolledBackLedgerThatAStationSigned)
{
    struct Row
    {
        const char* what;
        bool cosignedBefore; // the witness saw the intact ledger of 4 events
        std::function<void()> attack;
        std::vector<std::string> says;
    };
    // The stations that sign after the attack are trusted by the witness but trust only themselves,
    // so they sign what the database holds.
    const std::vector<Row> rows = {
        {"rewritten, same size, signed by another station",
         true,
         [&] {
             rewriteOfficer(2);
             ASSERT_TRUE(sign(*openStation("late")).ok);
         },
         {"another root than the one this witness cosigned", "rewritten (a fork)"}},
        {"rewritten and grown, signed by another station",
         true,
         [&] {
             rewriteOfficer(2);
             appendEvents(nullptr, 2);
             ASSERT_TRUE(sign(*openStation("late")).ok);
         },
         {"the checkpoint of 6 events does not extend the one of 4", "rewritten (a fork)"}},
        {"rolled back, its checkpoints too, signed by another station",
         true,
         [&] {
             rollBack(2, true);
             ASSERT_TRUE(sign(*openStation("late")).ok);
         },
         {"holds 2 events, fewer than the 4 this witness cosigned before", "rolled back"}},
        {"rewritten under its signed checkpoints, seen first now",
         false,
         [&] { rewriteOfficer(2); },
         {"the ledger's first 4 events do not hash to the root of their checkpoint"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        useFreshLedger();
        std::filesystem::remove_all(folder_.path() / "desk-a");
        std::filesystem::remove_all(folder_.path() / "desk-late");
        std::filesystem::remove(folder_.path() / "witness-state.txt");
        const auto station = openStation("a");
        ASSERT_TRUE(station);
        appendEvents(station.get(), 4);
        const KeyRing ring = ringOf({"a", "late"});
        if (row.cosignedBefore) {
            ASSERT_EQ(witness(ring).outcome, WitnessRun::Outcome::Cosigned);
        }
        row.attack();
        const std::size_t rows = checkpointRows();
        const std::string stateBefore = fileBytes(folder_.path() / "witness-state.txt");

        const WitnessRun run = witness(ring);
        EXPECT_EQ(run.outcome, WitnessRun::Outcome::Refused) << run.message;
        for (const std::string& part : row.says) {
            EXPECT_TRUE(contains(run.message, part)) << run.message;
        }
        EXPECT_EQ(checkpointRows(), rows) << "no cosignature added";
        EXPECT_EQ(fileBytes(folder_.path() / "witness-state.txt"), stateBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, WitnessTest, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

} // namespace
