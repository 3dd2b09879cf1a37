// What makes the ledger evidence, on both backends: whoever administers the database can rewrite
// its tables (hashes computed again, the tail rolled back, checkpoint rows removed or altered,
// another ledger put in its place), and verifyEvidence finds it through the stations' signed
// checkpoints and witness files, at the first event that differs, naming whose checkpoint says so.
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "tests/core/ledger/evidence_fixture.h"

#include <algorithm>

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

using EvidenceTest = StationLedgerTest;

constexpr std::uint64_t kNow = 1767225600; // when witnesses cosign

bool anyContains(const std::vector<std::string>& texts, const std::string& part)
{
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return contains(t, part); });
}

std::string allOf(const std::vector<std::string>& texts)
{
    std::string joined;
    for (const std::string& t : texts) {
        joined += t + "\n";
    }
    return joined;
}

SignerKey witnessKey(const std::string& name)
{
    std::string error;
    std::optional<SignerKey> key = SignerKey::generate(name, KeyType::Cosignature, error);
    EXPECT_TRUE(key) << error;
    return *key;
}

TEST_P(EvidenceTest, RewriteWithRecomputedHashesIsFoundWhereTheCheckpointsDisagree)
{
    struct Row
    {
        const char* what;
        std::vector<std::int64_t> signedAt; // the ledger's sizes when the station signed
        std::int64_t rewritten;
        bool withWitnessFile;
        std::int64_t firstBroken;
        std::string says;
    };
    const std::vector<Row> rows = {
        {"a checkpoint after each append", {1, 2, 3, 4, 5}, 2, false, 2, "event 2 was changed"},
        {"the same, with the station's witness file", {1, 2, 3, 4, 5}, 2, true, 2, "event 2 was changed"},
        {"checkpoints of 1 and 5 events", {1, 5}, 3, false, 2, "something in events 2 to 5 was changed"},
        {"one checkpoint at the end", {5}, 5, true, 1, "something in events 1 to 5 was changed"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        useFreshLedger();
        const std::string name = "r" + std::to_string(++n);
        const auto station = openStation(name);
        ASSERT_TRUE(station);
        for (std::int64_t size = 1; size <= 5; ++size) {
            appendEvents(nullptr, 1);
            if (std::find(row.signedAt.begin(), row.signedAt.end(), size) != row.signedAt.end()) {
                const Station::Signed s = sign(*station);
                ASSERT_TRUE(s.ok) << s.message;
            }
        }
        const KeyRing ring = ringOf({name});
        const EvidenceReport before = evidence(ring, row.withWitnessFile ? station.get() : nullptr);
        EXPECT_TRUE(before.intact) << before.problem;
        EXPECT_EQ(before.checkpoints, static_cast<std::int64_t>(row.signedAt.size()));
        EXPECT_EQ(before.signedUpTo, 5);

        rewriteOfficer(row.rewritten);
        EXPECT_TRUE(verify().intact) << "the chain alone cannot tell a rewrite whose hashes were computed again";
        const EvidenceReport report = evidence(ring, row.withWitnessFile ? station.get() : nullptr);
        EXPECT_TRUE(report.chain.intact);
        EXPECT_FALSE(report.intact);
        EXPECT_EQ(report.firstBroken, row.firstBroken) << report.problem;
        EXPECT_TRUE(contains(report.problem, row.says)) << report.problem;
        EXPECT_TRUE(contains(report.problem, "signed by " + labelOf(*station))) << report.problem;
    }
}

TEST_P(EvidenceTest, RolledBackTailIsFoundAtTheFirstMissingEvent)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    appendEvents(station.get(), 5);
    const KeyRing ring = ringOf({"a"});
    rollBack(3, false);
    EXPECT_TRUE(verify().intact);

    EvidenceReport report = evidence(ring);
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 4) << report.problem;
    EXPECT_TRUE(contains(report.problem, "the ledger holds 3 events but the checkpoint of 4 events signed by " +
                                             labelOf(*station) + " says it held 4"))
        << report.problem;
    EXPECT_TRUE(contains(report.problem, "were removed")) << report.problem;

    // The checkpoints above removed as well: the ledger agrees with itself, not with the witness file.
    tamper("DELETE FROM checkpoints WHERE tree_size > 3");
    report = evidence(ring);
    EXPECT_TRUE(report.intact) << report.problem;
    report = evidence(ring, station.get());
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 4) << report.problem;
    EXPECT_TRUE(contains(report.problem, "the checkpoint of 4 events this station signed (" +
                                             utf8Path(station->witnessPath()) + ", line 5)"))
        << report.problem;
    EXPECT_TRUE(anyContains(report.findings, "the ledger holds 3 events but the checkpoint of 4 events this station "
                                             "signed"))
        << allOf(report.findings);
}

TEST_P(EvidenceTest, DeletedCheckpointRowIsFoundThroughTheWitnessFile)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    appendEvents(station.get(), 5);
    tamper("DELETE FROM checkpoints WHERE tree_size = 3");
    const KeyRing ring = ringOf({"a"});
    EXPECT_TRUE(evidence(ring).intact) << "the other checkpoints still agree with the events";

    const EvidenceReport report = evidence(ring, station.get());
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 3) << report.problem;
    EXPECT_TRUE(contains(report.problem, "the checkpoint of 3 events this station signed (" +
                                             utf8Path(station->witnessPath()) +
                                             ", line 4) is missing from the "
                                             "ledger's checkpoints"))
        << report.problem;
    EXPECT_EQ(report.witnessRecordsChecked, 5);
}

TEST_P(EvidenceTest, AnotherLedgerPutInItsPlaceIsFound)
{
    struct Swap
    {
        const char* what;
        bool sqliteOnly;
        std::function<void(const std::string& other)> apply;
    };
    const std::vector<Swap> swaps = {
        {"its origin changed", false,
         [&](const std::string&) {
             tamper("UPDATE meta SET value = 'orvcamera.ledger/2026-01-01/00112233445566778899aabbccddeeff' "
                    "WHERE key = 'origin'");
         }},
        {"its tables filled with another ledger's contents", false,
         [&](const std::string& other) {
             const LedgerSnapshot theirs = snapshot(other);
             std::string sql =
                 "DELETE FROM events;\nDELETE FROM checkpoints;\nUPDATE meta SET value = " + sqlText(theirs.origin) +
                 " WHERE key = 'origin';\n";
             for (const Event& e : theirs.events) {
                 sql += insertSql(e);
             }
             sql += headSql(theirs.head->number, theirs.head->hash);
             for (const StoredCheckpoint& c : theirs.checkpoints) {
                 sql += "INSERT INTO checkpoints (tree_size, note, recorded_utc) VALUES (" + std::to_string(c.size) +
                        ", " + sqlText(c.note) + ", " + sqlText(c.recordedUtc) + ");\n";
             }
             tamper(sql);
         }},
        {"its file replaced by another ledger's", true,
         [&](const std::string& other) {
             std::error_code ec;
             // Removed first: mingw's copy_file does not overwrite, whatever the options say.
             std::filesystem::remove(location_, ec);
             std::filesystem::copy_file(other, location_, ec);
             ASSERT_FALSE(ec) << ec.message();
             for (const char* part : {"-wal", "-shm"}) {
                 std::filesystem::remove(location_ + part, ec);
             }
         }},
    };
    int n = 0;
    for (const Swap& swap : swaps) {
        if (swap.sqliteOnly && GetParam() != Backend::Sqlite) {
            continue;
        }
        SCOPED_TRACE(swap.what);
        useFreshLedger();
        const std::string ours = "ours" + std::to_string(++n);
        const std::string theirs = "theirs" + std::to_string(n);
        const auto station = openStation(ours, {theirs});
        const auto other = openStation(theirs, {ours});
        ASSERT_TRUE(station && other);
        ASSERT_TRUE(guard(*station).ok());
        appendEvents(station.get(), 3);
        const std::string otherLedger = otherLocation();
        appendEvents(other.get(), 2, true, otherLedger);
        const std::string originBefore = snapshot().origin;

        swap.apply(otherLedger);
        const std::string originNow = snapshot().origin;
        ASSERT_NE(originNow, originBefore);
        EXPECT_TRUE(verify().intact) << "the ledger in its place is a valid one";

        const Station::Guard g = guard(*station);
        EXPECT_EQ(g.outcome, Station::Guard::Outcome::Forked) << g.message;
        EXPECT_TRUE(contains(g.message, "another ledger put in its place")) << g.message;
        ASSERT_FALSE(g.evidence.empty()) << g.message;
        EXPECT_EQ(g.evidence.parent_path(), station->folder());
        const std::string proof = fileBytes(g.evidence);
        EXPECT_TRUE(contains(proof, originBefore) && contains(proof, originNow)) << proof;

        // With its origin changed, the ledger's own checkpoints are another ledger's: also at event 1.
        const EvidenceReport report = evidence(ringOf({ours, theirs}), station.get());
        EXPECT_FALSE(report.intact);
        EXPECT_EQ(report.firstBroken, 1) << report.problem;
        EXPECT_TRUE(contains(report.problem, "another ledger")) << report.problem;
        EXPECT_TRUE(anyContains(report.findings, "broken at event 1: the ledger at " + placeOfLedger() +
                                                     " is not the one this station recorded to: it was " +
                                                     originBefore))
            << allOf(report.findings);
        EXPECT_TRUE(anyContains(report.findings, "and is now " + originNow + ", another ledger put in its place"))
            << allOf(report.findings);
    }
}

TEST_P(EvidenceTest, AlteredCheckpointRowsAreFound)
{
    struct Row
    {
        const char* what;
        // The SQL that alters the row `id` holding `note`, the checkpoint of 3 events.
        std::function<std::string(std::int64_t id, const std::string& note)> sql;
        std::int64_t firstBroken;
        std::vector<std::string> says;
    };
    const auto setNote = [](std::int64_t id, const std::string& note, std::int64_t size) {
        return "UPDATE checkpoints SET note = " + sqlText(note) + ", tree_size = " + std::to_string(size) +
               " WHERE id = " + std::to_string(id);
    };
    const auto changed = [](std::string text, const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const std::vector<Row> rows = {
        {"a character of its signature flipped",
         [&](std::int64_t id, const std::string& note) {
             std::string altered = note;
             char& c = altered[note.rfind(' ') + 1 + 20]; // well inside the signature, after the key id
             c = c == 'A' ? 'B' : 'A';
             return setNote(id, altered, 3);
         },
         3,
         {"does not verify", "on the checkpoint of 3 events"}},
        {"its size in the note and the row made 4",
         [&](std::int64_t id, const std::string& note) { return setNote(id, changed(note, "\n3\n", "\n4\n"), 4); },
         4,
         {"does not verify", "on the checkpoint of 4 events"}},
        {"its row filed under another size",
         [&](std::int64_t id, const std::string& note) { return setNote(id, note, 2); },
         2,
         {"is not a checkpoint of this ledger: it is filed as a checkpoint of 2 events but its note is of 3"}},
        {"its note no signed note",
         [&](std::int64_t id, const std::string&) { return setNote(id, "garbage", 3); },
         3,
         {"is not a checkpoint of this ledger: it is no signed note"}},
        {"its note of another ledger",
         [&](std::int64_t id, const std::string& note) {
             return setNote(id, changed(note, "orvcamera.ledger/", "orvcamera.ledger/x"), 3);
         },
         3,
         {"is not a checkpoint of this ledger: it is a checkpoint of another ledger (orvcamera.ledger/x"}},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        useFreshLedger();
        const std::string name = "c" + std::to_string(++n);
        const auto station = openStation(name);
        ASSERT_TRUE(station);
        appendEvents(station.get(), 5);
        const std::vector<StoredCheckpoint> stored = snapshot().checkpoints;
        const auto three = std::find_if(stored.begin(), stored.end(), [](const auto& c) { return c.size == 3; });
        ASSERT_NE(three, stored.end());
        tamper(row.sql(three->id, three->note));

        const EvidenceReport report = evidence(ringOf({name}));
        EXPECT_TRUE(report.chain.intact);
        EXPECT_FALSE(report.intact);
        EXPECT_EQ(report.firstBroken, row.firstBroken) << report.problem;
        for (const std::string& part : row.says) {
            EXPECT_TRUE(contains(report.problem, part)) << report.problem;
        }
        if (contains(row.says[0], "does not verify")) {
            EXPECT_TRUE(contains(report.problem, "the signature of " + labelOf(*station))) << report.problem;
        } else {
            EXPECT_TRUE(contains(report.problem, "checkpoint row " + std::to_string(three->id))) << report.problem;
        }
    }
}

TEST_P(EvidenceTest, CheckpointSignedOnlyByAnUntrustedStationIsAnUnknownSigner)
{
    const auto station = openStation("a");
    const auto stranger = openStation("stranger");
    ASSERT_TRUE(station && stranger);
    appendEvents(station.get(), 3);
    // The stranger's signature beside a trusted one on the same checkpoint is no fault.
    ASSERT_TRUE(sign(*stranger).ok);
    EvidenceReport report = evidence(ringOf({"a"}));
    EXPECT_TRUE(report.intact) << report.problem;

    appendEvents(nullptr, 2);
    const Station::Signed alone = sign(*stranger);
    ASSERT_TRUE(alone.ok && alone.made) << alone.message;
    ASSERT_EQ(alone.size, 5);
    report = evidence(ringOf({"a"}));
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 5) << report.problem;
    EXPECT_TRUE(contains(report.problem, "the checkpoint of 5 events is signed only by keys not trusted here "
                                         "(unknown signer: " +
                                             labelOf(*stranger) + ")"))
        << report.problem;

    report = evidence(ringOf({"a", "stranger"}));
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.signedUpTo, 5);
}

// Three stations append in turn, each checking the ledger first and signing after each append,
// and an independent witness cosigns: everything agrees, as seen from each station.
TEST_P(EvidenceTest, ThreeStationsAndAWitnessAgree)
{
    const std::vector<std::string> names = {"a", "b", "c"};
    std::vector<std::shared_ptr<Station>> stations;
    for (const std::string& name : names) {
        stations.push_back(openStation(name, {"a", "b", "c"}));
        ASSERT_TRUE(stations.back());
    }
    for (int round = 0; round < 2; ++round) {
        for (const auto& station : stations) {
            const Station::Guard g = guard(*station);
            ASSERT_TRUE(g.ok()) << g.message;
            appendEvents(station.get(), 2);
        }
    }
    const KeyRing ring = ringOf({"a", "b", "c"});
    const SignerKey witness = witnessKey("witness/audit-office");
    std::string error;
    std::optional<WitnessFile> state = WitnessFile::open(folder_.path() / "witness-state.txt", error);
    ASSERT_TRUE(state) << error;
    const WitnessRun run = witnessLedger(*open(), ring, witness, *state, kNow);
    ASSERT_EQ(run.outcome, WitnessRun::Outcome::Cosigned) << run.message;
    EXPECT_EQ(run.checkpoint.size, 12u);
    KeyRing witnesses;
    witnesses.add(witness.verifier());

    for (const auto& station : stations) {
        SCOPED_TRACE(labelOf(*station));
        const EvidenceReport report = evidence(ring, station.get(), witnesses, 1);
        EXPECT_TRUE(report.intact) << report.problem;
        EXPECT_EQ(report.checkpoints, 12);
        EXPECT_EQ(report.signedUpTo, 12);
        EXPECT_EQ(report.witnessedUpTo, 12);
        EXPECT_EQ(report.witnessRecordsChecked, 4);
        EXPECT_EQ(report.witnesses, std::vector<std::string>{keyLabel(witness.name(), witness.id())});
    }
    const EvidenceReport twoNeeded = evidence(ring, stations[0].get(), witnesses, 2);
    EXPECT_FALSE(twoNeeded.intact);
    EXPECT_TRUE(contains(twoNeeded.problem, "only 1 of the 2 trusted witnesses required have cosigned"))
        << twoNeeded.problem;
    EXPECT_EQ(twoNeeded.witnessedUpTo, 0);
    EXPECT_EQ(twoNeeded.firstBroken, 0) << "no event is wrong";
}

TEST_P(EvidenceTest, JsonLinesExportVerifiesAsTheLedgerDoes)
{
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    appendEvents(station.get(), 4);
    const SignerKey witness = witnessKey("witness/audit-office");
    std::string error;
    std::optional<WitnessFile> state = WitnessFile::open(folder_.path() / "witness-state.txt", error);
    ASSERT_TRUE(state) << error;
    ASSERT_EQ(witnessLedger(*open(), ringOf({"a"}), witness, *state, kNow).outcome, WitnessRun::Outcome::Cosigned);

    VerifyPolicy policy;
    policy.stations = ringOf({"a"});
    policy.witnesses.add(witness.verifier());
    policy.minWitnesses = 1;
    const LedgerSnapshot held = snapshot();
    const std::string text = jsonLinesExport(held);
    std::optional<LedgerSnapshot> read = parseJsonLinesExport(text, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(jsonLinesExport(*read), text);
    const EvidenceReport fromLedger = verifyEvidence(held, policy);
    const EvidenceReport fromExport = verifyEvidence(*read, policy);
    EXPECT_TRUE(fromExport.intact) << fromExport.problem;
    EXPECT_EQ(fromExport.checkpoints, 4);
    EXPECT_EQ(fromExport.witnessedUpTo, 4);
    EXPECT_EQ(fromExport.findings, fromLedger.findings);

    // One byte of event 3 changed in the file.
    const std::string officer = "\"officer_after\":\"P3\"";
    std::string altered = text;
    ASSERT_EQ(altered.find(officer), altered.rfind(officer));
    altered.replace(altered.find(officer), officer.size(), "\"officer_after\":\"P8\"");
    read = parseJsonLinesExport(altered, error);
    ASSERT_TRUE(read) << error;
    EvidenceReport report = verifyEvidence(*read, policy);
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 3) << report.problem;
    EXPECT_TRUE(contains(report.problem, "event 3 was altered")) << report.problem;

    // The same with every hash from there computed again: the checkpoints in the export still tell.
    read = parseJsonLinesExport(text, error);
    ASSERT_TRUE(read) << error;
    read->events[2].officerAfter = "P8";
    for (std::size_t i = 2; i < read->events.size(); ++i) {
        read->events[i].previousHash = read->events[i - 1].hash;
        read->events[i].hash = eventHash(read->events[i].previousHash, read->events[i]);
    }
    read->head->hash = read->events.back().hash;
    read = parseJsonLinesExport(jsonLinesExport(*read), error);
    ASSERT_TRUE(read) << error;
    report = verifyEvidence(*read, policy);
    EXPECT_TRUE(report.chain.intact) << report.chain.problem;
    EXPECT_EQ(report.firstBroken, 3) << report.problem;
    EXPECT_TRUE(contains(report.problem, "event 3 was changed")) << report.problem;
}

INSTANTIATE_TEST_SUITE_P(Backends, EvidenceTest, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

// SQLite lets a column hold a value of another type; on PostgreSQL whoever runs the database
// can change a column's type first.
using UnreadableRowTest = StationLedgerTest;

TEST_P(UnreadableRowTest, ValueOfTheWrongTypeBreaksOnlyItsEvent)
{
    struct Row
    {
        const char* column;
        const char* value;
        std::string says;
    };
    const std::vector<Row> rows = {
        {"utc_offset_minutes", "'abc'", "its utc_offset_minutes holds \"abc\", not a number"},
        {"clock_offset_seconds", "'1.5'", "its clock_offset_seconds holds \"1.5\", not a number"},
        {"utc_offset_minutes", "99999999999", "its utc_offset_minutes holds \"99999999999\", not a number"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.column) + " = " + row.value);
        useFreshLedger();
        const std::string name = "u" + std::to_string(++n);
        const auto station = openStation(name);
        ASSERT_TRUE(station);
        appendEvents(station.get(), 5);
        const std::string retype =
            GetParam() == Backend::Postgres ? std::string("ALTER TABLE events ALTER COLUMN ") + row.column + " TYPE text; "
                                            : std::string();
        tamper(retype + "UPDATE events SET " + row.column + " = " + row.value + " WHERE number = 3");

        const std::vector<Event> read = events();
        ASSERT_EQ(read.size(), 5u);
        EXPECT_EQ(read[2].number, 3);
        EXPECT_TRUE(contains(read[2].unreadable, row.says)) << read[2].unreadable;
        for (const std::size_t whole : {0u, 1u, 3u, 4u}) {
            EXPECT_EQ(read[whole].unreadable, "");
            EXPECT_EQ(read[whole].officerAfter, "P" + std::to_string(whole + 1));
            EXPECT_EQ(read[whole].hash, eventHash(read[whole].previousHash, read[whole]));
        }
        const VerifyReport chain = verify();
        EXPECT_EQ(chain.firstBroken, 3) << chain.problem;
        EXPECT_TRUE(contains(chain.problem, "event 3 cannot be read")) << chain.problem;
        const EvidenceReport report = evidence(ringOf({name}), station.get());
        EXPECT_EQ(report.firstBroken, 3) << report.problem;

        // A station that has not seen the ledger yet signs nothing over it.
        const auto newcomer = openStation(name + "-new");
        ASSERT_TRUE(newcomer);
        const Station::Signed s = sign(*newcomer);
        EXPECT_FALSE(s.ok);
        EXPECT_TRUE(contains(s.message, "event 3 cannot be read")) << s.message;

        // An export leaves it out, and the gap is found where it was.
        std::string error;
        const std::optional<LedgerSnapshot> exported = parseJsonLinesExport(jsonLinesExport(snapshot()), error);
        ASSERT_TRUE(exported) << error;
        EXPECT_EQ(exported->events.size(), 4u);
        EXPECT_EQ(verifyChain(*exported).firstBroken, 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, UnreadableRowTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         backendName);

// An export read back that is not one: refused, naming the line.
TEST(JsonLinesExport, MalformedExportsAreRefusedWithTheirLine)
{
    LedgerSnapshot one;
    one.origin = "orvcamera.ledger/2026-03-05/00112233445566778899aabbccddeeff";
    Event e = sampleEvent("D1", "P1", "ok");
    e.number = 1;
    e.previousHash = kGenesisHash;
    e.hash = eventHash(e.previousHash, e);
    one.events.push_back(e);
    one.head = ChainHead{1, e.hash};
    const std::string text = jsonLinesExport(one);
    const std::string header = text.substr(0, text.find('\n'));
    const std::string event = text.substr(header.size() + 1, text.find('\n', header.size() + 1) - header.size() - 1);
    const auto changed = [](std::string line, const std::string& from, const std::string& to) {
        const std::size_t at = line.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? line : line.replace(at, from.size(), to);
    };
    std::string error;
    ASSERT_TRUE(parseJsonLinesExport(text, error)) << error;
    ASSERT_TRUE(parseJsonLinesExport(header + "\r\n" + event + "\r\n", error)) << error;

    struct Row
    {
        std::string text;
        std::string says;
    };
    const std::vector<Row> rows = {
        {"", "it is empty"},
        {"\n\n", "it is empty"},
        {"not json\n", "line 1: not a JSON object"},
        {"[1, 2]\n", "line 1: not a JSON object"},
        {changed(header, "orvcamera-ledger", "other-ledger"), "line 1: an export starts with"},
        {changed(header, "\"version\":1", "\"version\":2"), "line 1: an export of version 2"},
        {changed(header, "\"number\":1", "\"number\":\"1\""), "line 1: the head is an object"},
        {header + "\n" + changed(event, "\"number\":1", "\"number\":\"1\""),
         "line 2: the event's \"number\" is not a whole number"},
        {header + "\n" + changed(event, "\"clock_offset_seconds\":null", "\"clock_offset_seconds\":1.5"),
         "line 2: the event's \"clock_offset_seconds\" is not a whole number"},
        {header + "\n" + changed(event, "\"utc_offset_minutes\":480", "\"utc_offset_minutes\":99999999999"),
         "line 2: the event's \"utc_offset_minutes\" is out of range"},
        {header + "\n" + changed(event, "\"hash\":", "\"hush\":"), "line 2: the event has no \"hash\""},
        {header + "\n" + changed(event, "\"kind\":\"provision\",", ""), "line 2: an event has 22 or 25 fields, this one 21"},
        {header + "\n" + event + "\n\n" + event.substr(0, 20) + "\n", "line 4: not a JSON object"},
        {header + "\n" + event + "\n{\"event\":{},\"checkpoint\":{}}\n", "line 3: a record is one"},
        {header + "\n{\"other\":1}\n", "line 2: a record is one"},
        {header + "\n{\"checkpoint\":{\"id\":1,\"tree_size\":\"1\",\"recorded_utc\":\"\",\"note\":\"\"}}\n",
         "line 2: a checkpoint has a whole-number id and tree_size"},
        {header + "\n{\"checkpoint\":{\"id\":1,\"tree_size\":1,\"note\":\"\"}}\n", "line 2: \"checkpoint\" is not"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        error.clear();
        EXPECT_FALSE(parseJsonLinesExport(row.text, error));
        EXPECT_TRUE(contains(error, row.says)) << error;
    }
}

} // namespace
