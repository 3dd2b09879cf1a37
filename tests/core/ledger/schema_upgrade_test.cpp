// A ledger of schema 1 (events and chain head only, no origin, no checkpoints) is upgraded when
// opened, on both backends, and its events still verify; on PostgreSQL only the owner of its
// tables may upgrade it, and a station is told to have init-db run.
#include "tests/core/ledger/evidence_fixture.h"

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

class SchemaUpgradeTest : public StationLedgerTest
{
protected:
    // The tables as schema 1 made them, holding `count` chained events.
    std::vector<Event> makeSchema1Ledger(int count)
    {
        const bool postgres = GetParam() == Backend::Postgres;
        const std::string number = postgres ? "BIGINT" : "INTEGER";
        std::string sql =
            "CREATE TABLE meta (\n    key TEXT PRIMARY KEY,\n    value TEXT NOT NULL\n);\n"
            "CREATE TABLE events (\n    number " +
            number + " PRIMARY KEY,\n    time_utc TEXT" + (postgres ? " COLLATE \"C\"" : "") +
            " NOT NULL,\n    utc_offset_minutes INTEGER NOT NULL,\n    station TEXT NOT NULL,\n"
            "    operator_name TEXT NOT NULL,\n    tool TEXT NOT NULL,\n    tool_version TEXT NOT NULL,\n"
            "    kind TEXT NOT NULL,\n    device_id TEXT NOT NULL,\n    place TEXT NOT NULL,\n"
            "    officer_before TEXT NOT NULL,\n    officer_after TEXT NOT NULL,\n    unit_before TEXT NOT NULL,\n"
            "    unit_after TEXT NOT NULL,\n    setup_name TEXT NOT NULL,\n    setup_sha256 TEXT NOT NULL,\n"
            "    groups_written TEXT NOT NULL,\n    result TEXT NOT NULL,\n    differences TEXT NOT NULL,\n"
            "    clock_offset_seconds " +
            number +
            ",\n    prev_hash TEXT NOT NULL,\n    hash TEXT NOT NULL\n);\n"
            "CREATE INDEX events_by_device ON events (device_id, number);\n"
            "CREATE INDEX events_by_time ON events (time_utc);\n"
            "CREATE TABLE chain_head (\n    id INTEGER PRIMARY KEY CHECK (id = 1),\n    number " +
            number +
            " NOT NULL,\n    hash TEXT NOT NULL\n);\n"
            "INSERT INTO meta (key, value) VALUES ('schema_version', '1');\n";
        std::vector<Event> made;
        std::string previous(kGenesisHash);
        for (int i = 1; i <= count; ++i) {
            Event e = sampleEvent("D" + std::to_string(i), "P" + std::to_string(i), "ok");
            e.number = i;
            e.clockOffsetSeconds = i == 2 ? std::optional<std::int64_t>(-7) : std::nullopt;
            e.previousHash = previous;
            e.hash = eventHash(previous, e);
            previous = e.hash;
            sql += insertSql(e);
            made.push_back(e);
        }
        sql += "INSERT INTO chain_head (id, number, hash) VALUES (1, " + std::to_string(count) + ", " +
               sqlText(previous) + ");\n";
        if (!postgres) {
            std::filesystem::create_directories(std::filesystem::path(location_).parent_path());
        }
        tamper(sql);
        return made;
    }

    std::string schemaVersion()
    {
        const std::vector<std::string> rows = query("SELECT value FROM meta WHERE key = 'schema_version'");
        return rows.size() == 1 ? rows[0] : "?";
    }
};

TEST_P(SchemaUpgradeTest, LedgerOfSchema1IsUpgradedWhenOpened)
{
    const std::vector<Event> made = makeSchema1Ledger(3);
    ASSERT_EQ(schemaVersion(), "1");

    if (GetParam() == Backend::Postgres) {
        // A station's role may read the old tables but not add to them.
        const std::string role = "orv_upgrade_station";
        std::string error;
        orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
        ASSERT_TRUE(server.execute("postgres",
                                   "DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '" + role +
                                       "') THEN CREATE ROLE " + role + " LOGIN; END IF; END$$",
                                   error))
            << error;
        ASSERT_TRUE(server.execute(database_, "GRANT SELECT ON meta, events, chain_head TO " + role, error)) << error;
        std::string asStation = location_;
        asStation.replace(asStation.find("user=" + server.role()), 5 + server.role().size(), "user=" + role);
        EXPECT_FALSE(openLedger(asStation, error));
        EXPECT_TRUE(contains(error, "this account (" + role + ") may not upgrade the ledger's tables to schema " +
                                        std::to_string(kSchemaVersion)))
            << error;
        EXPECT_TRUE(contains(error, "`orvctl ledger init-db LOCATION --station-role " + role + "`")) << error;
        EXPECT_EQ(schemaVersion(), "1");
        EXPECT_EQ(query("SELECT to_regclass('checkpoints') IS NULL"), std::vector<std::string>{"t"});
    }

    std::string origin;
    {
        const auto ledger = open();
        ASSERT_TRUE(ledger);
        origin = ledger->origin();
        EXPECT_TRUE(origin.starts_with("orvcamera.ledger/")) << origin;
        EXPECT_TRUE(detail::isValidOrigin(origin)) << origin;
        std::vector<StoredCheckpoint> checkpoints;
        EXPECT_TRUE(ledger->readCheckpoints(0, checkpoints)) << ledger->error();
        EXPECT_TRUE(checkpoints.empty());
    }
    EXPECT_EQ(schemaVersion(), std::to_string(kSchemaVersion));
    const std::vector<Event> read = events();
    ASSERT_EQ(read.size(), made.size());
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_EQ(canonicalForm(read[i]), canonicalForm(made[i]));
        EXPECT_EQ(read[i].hash, made[i].hash);
    }
    const VerifyReport chain = verify();
    EXPECT_TRUE(chain.intact) << chain.problem;
    EXPECT_EQ(chain.eventsChecked, 3);
    EXPECT_EQ(snapshot().origin, origin) << "the origin is made once, not at every opening";

    // The upgraded ledger takes events and checkpoints like a new one.
    const auto station = openStation("a");
    ASSERT_TRUE(station);
    ASSERT_TRUE(guard(*station).ok());
    appendEvents(station.get(), 2);
    const EvidenceReport report = evidence(ringOf({"a"}), station.get());
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.signedUpTo, 5);
}

INSTANTIATE_TEST_SUITE_P(Backends, SchemaUpgradeTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         backendName);

} // namespace
