// Least privilege on PostgreSQL: the database's owner creates the ledger and grants the stations'
// role what appending needs and nothing more. A station then appends events and checkpoints but
// changes, removes or rewinds nothing, whatever it sends (psql as the station, beside the ledger),
// and the owner's triggers hold even when the station was granted more by mistake.
#include "ledger/independent_witness.h"
#include "ledger/postgres_ledger.h"
#include "tests/core/ledger/evidence_fixture.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

using namespace orv::ledger;
using namespace orv::ledger::test;
using orv::test::PostgresServer;

namespace {

struct PsqlRun
{
    int status = -1; // psql's exit status: 0 done, 1 or 3 refused
    std::string output;
};

class PrivilegesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PostgresServer& server = PostgresServer::shared();
        if (!server.installed()) {
            GTEST_SKIP() << server.error();
        }
        ASSERT_TRUE(server.running()) << server.error();
        for (const char* role : {"orv_owner", "orv_station", "orv_witness"}) {
            superuser("postgres", std::string("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '") +
                                      role + "') THEN CREATE ROLE " + role + " LOGIN; END IF; END$$");
        }
        database_ = ownedDatabase();
        std::string error;
        std::unique_ptr<PostgresLedger> owner = PostgresLedger::open(locationAs("orv_owner"), error);
        ASSERT_TRUE(owner) << error;
        ASSERT_TRUE(owner->grantRoles("orv_station", "orv_witness", error)) << error;
    }

    void superuser(const std::string& database, const std::string& sql)
    {
        std::string error;
        EXPECT_TRUE(PostgresServer::shared().execute(database, sql, error)) << sql << "\n" << error;
    }

    // A new empty database owned by orv_owner.
    std::string ownedDatabase()
    {
        std::string error;
        const std::string database = PostgresServer::shared().createDatabase(error);
        EXPECT_FALSE(database.empty()) << error;
        superuser("postgres", "ALTER DATABASE " + database + " OWNER TO orv_owner");
        return database;
    }

    std::string locationAs(const std::string& role, std::string database = {}) const
    {
        const PostgresServer& server = PostgresServer::shared();
        return "host=" + server.socketFolder().string() + " port=" + std::to_string(server.port()) + " user=" + role +
               " dbname=" + (database.empty() ? database_ : database);
    }

    std::unique_ptr<Ledger> openAs(const std::string& role)
    {
        std::string error;
        std::unique_ptr<Ledger> ledger = openLedger(locationAs(role), error);
        EXPECT_TRUE(ledger) << error;
        return ledger;
    }

    // `sql` sent by psql as `role`, stopping at the first error.
    PsqlRun psql(const std::string& role, const std::string& sql) const
    {
        std::vector<std::string> words = {"psql",           "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d",
                                          locationAs(role), "-c", sql};
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        PsqlRun run;
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            run.output = "no pipe";
            return run;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        pid_t child = 0;
        const int spawned = posix_spawnp(&child, "psql", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeEnds[0]);
        int status = 0;
        if (spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            run.status = WEXITSTATUS(status);
        }
        return run;
    }

    // An INSERT of an event numbered `number` that claims to follow `previousHash`.
    static std::string insertOf(std::int64_t number, const std::string& previousHash)
    {
        Event e = sampleEvent("D9", "P-forged", "ok");
        e.number = number;
        e.previousHash = previousHash;
        e.hash = eventHash(previousHash, e);
        return insertSql(e);
    }

    // Everything a refused statement could have altered.
    std::string contents()
    {
        std::string all;
        std::string error;
        for (const char* sql : {"SELECT string_agg(number || hash || officer_after, ',' ORDER BY number) FROM events",
                                "SELECT string_agg(key || '=' || value, ',' ORDER BY key) FROM meta",
                                "SELECT number || hash FROM chain_head",
                                "SELECT string_agg(id || ':' || tree_size || note, ',' ORDER BY id) FROM checkpoints",
                                "SELECT string_agg(tgname, ',' ORDER BY tgname) FROM pg_trigger WHERE NOT tgisinternal",
                                "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"}) {
            for (const std::string& row : PostgresServer::shared().query(database_, sql, error)) {
                all += row + ";";
            }
            EXPECT_EQ(error, "");
        }
        return all;
    }

    struct Refusal
    {
        std::string sql;
        std::string says;
    };
    void expectRefused(const std::string& role, const std::vector<Refusal>& refusals)
    {
        const std::string before = contents();
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(r.sql);
            const PsqlRun run = psql(role, r.sql);
            EXPECT_NE(run.status, 0) << run.output;
            EXPECT_TRUE(contains(run.output, r.says)) << run.output;
        }
        EXPECT_EQ(contents(), before);
    }

    // A station (its own folder) trusting only itself.
    std::shared_ptr<Station> station(const std::string& name)
    {
        std::string error;
        std::shared_ptr<Station> s = Station::open({folder_.path() / name, {}}, error);
        EXPECT_TRUE(s) << error;
        return s;
    }

    TempFolder folder_;
    std::string database_;
};

TEST_F(PrivilegesTest, StationAppendsAndSignsButChangesNothing)
{
    const auto desk = station("desk");
    ASSERT_TRUE(desk);
    {
        const auto ledger = openAs("orv_station");
        ASSERT_TRUE(ledger);
        ASSERT_TRUE(desk->checkBeforeWriting(*ledger).ok());
        for (int i = 1; i <= 5; ++i) {
            Event e = sampleEvent("D1", "P" + std::to_string(i), "ok");
            ASSERT_TRUE(ledger->append(e)) << ledger->error();
            EXPECT_EQ(e.number, i);
            const Station::Signed s = desk->signCheckpoint(*ledger);
            ASSERT_TRUE(s.ok) << s.message;
        }
        EXPECT_TRUE(verifyChain(*ledger).intact);
    }
    // A witness's role cosigns, and adds nothing else.
    std::string error;
    std::optional<SignerKey> witnessKey = SignerKey::generate("witness/audit-office", KeyType::Cosignature, error);
    ASSERT_TRUE(witnessKey) << error;
    WitnessFile state = *WitnessFile::open(folder_.path() / "witness-state.txt", error);
    KeyRing ring;
    ring.add(desk->key().verifier());
    const WitnessRun run = witnessLedger(*openAs("orv_witness"), ring, *witnessKey, state, 1767225600);
    EXPECT_EQ(run.outcome, WitnessRun::Outcome::Cosigned) << run.message;

    LedgerSnapshot held;
    ASSERT_TRUE(openAs("orv_station")->readSnapshot(held));
    const std::string head = held.head->hash;
    expectRefused(
        "orv_station",
        {
            {"UPDATE events SET officer_after = 'P99' WHERE number = 2", "permission denied for table events"},
            {"DELETE FROM events WHERE number = 5", "permission denied for table events"},
            {"TRUNCATE events", "permission denied for table events"},
            {"UPDATE checkpoints SET note = 'x'", "permission denied for table checkpoints"},
            {"DELETE FROM checkpoints", "permission denied for table checkpoints"},
            {"UPDATE chain_head SET number = 3", "permission denied for table chain_head"},
            {"INSERT INTO chain_head (id, number, hash) VALUES (2, 0, 'x')", "permission denied for table chain_head"},
            {"UPDATE meta SET value = 'orvcamera.ledger/x' WHERE key = 'origin'", "permission denied for table meta"},
            {insertOf(9, head), "event 9 does not follow the chain head (event 5)"},
            {insertOf(6, std::string(64, '0')), "event 6 does not follow the chain head (event 5)"},
            {insertOf(5, held.events[3].hash), "event 5 does not follow the chain head (event 5)"},
            {"SET session_replication_role = replica", "permission denied to set parameter"},
            {"ALTER TABLE events DISABLE TRIGGER events_never_change", "must be owner of table events"},
            {"DROP TABLE checkpoints", "must be owner of table checkpoints"},
            {"CREATE OR REPLACE FUNCTION orv_refuse_change() RETURNS trigger LANGUAGE plpgsql AS "
             "$$BEGIN RETURN NEW; END$$",
             "permission denied for schema public"},
        });
    expectRefused("orv_witness", {{insertOf(6, head), "permission denied for table events"},
                                  {"SELECT * FROM orv_lock_head()", "permission denied for function orv_lock_head"}});

    const EvidenceReport report = verifyEvidence(held, VerifyPolicy{ring, {}, 0, nullptr, {}});
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.signedUpTo, 5);
}

TEST_F(PrivilegesTest, TriggersHoldWhenAStationWasGrantedTooMuch)
{
    {
        const auto ledger = openAs("orv_station");
        ASSERT_TRUE(ledger);
        for (int i = 1; i <= 3; ++i) {
            Event e = sampleEvent("D1", "P" + std::to_string(i), "ok");
            ASSERT_TRUE(ledger->append(e)) << ledger->error();
        }
        ASSERT_TRUE(ledger->addCheckpoint(3, "a note"));
    }
    const PsqlRun granted =
        psql("orv_owner", "GRANT UPDATE, DELETE, TRUNCATE ON events, checkpoints, chain_head TO orv_station");
    ASSERT_EQ(granted.status, 0) << granted.output;

    const std::string never = "are never changed or removed (only the owner of the table may)";
    // A table of the session's own named pg_class comes before the catalogue's unless the function
    // says where its names are.
    const std::string ownPgClass =
        "CREATE TEMP TABLE pg_class (oid oid, relowner oid); "
        "INSERT INTO pg_temp.pg_class SELECT c.oid, r.oid FROM pg_catalog.pg_class c, pg_catalog.pg_roles r "
        "WHERE c.relname IN ('events', 'checkpoints', 'chain_head') AND r.rolname = current_user; ";
    expectRefused("orv_station", {
                                     {"UPDATE events SET officer_after = 'P99' WHERE number = 2", "events " + never},
                                     {"DELETE FROM events WHERE number = 3", "events " + never},
                                     {"TRUNCATE events", "events " + never},
                                     {"UPDATE checkpoints SET note = 'x'", "checkpoints " + never},
                                     {"DELETE FROM checkpoints", "checkpoints " + never},
                                     {"TRUNCATE checkpoints", "checkpoints " + never},
                                     {"UPDATE chain_head SET number = 2", "chain_head " + never},
                                     {"DELETE FROM chain_head", "chain_head " + never},
                                     {ownPgClass + "DELETE FROM events WHERE number = 3", "events " + never},
                                     {ownPgClass + "UPDATE chain_head SET number = 2", "chain_head " + never},
                                 });

    // The owner may: the tables are its own, and what it changes the chain and the checkpoints find.
    const PsqlRun owner = psql("orv_owner", "UPDATE events SET officer_after = 'P99' WHERE number = 2");
    EXPECT_EQ(owner.status, 0) << owner.output;
    const VerifyReport chain = verifyChain(*openAs("orv_station"));
    EXPECT_EQ(chain.firstBroken, 2) << chain.problem;
}

TEST_F(PrivilegesTest, StationThatMayNotCreateTheTablesIsToldToRunInitDb)
{
    const std::string empty = ownedDatabase();
    std::string error;
    EXPECT_FALSE(openLedger(locationAs("orv_station", empty), error));
    EXPECT_TRUE(contains(error, "this account (orv_station) may not create the ledger's tables: the database's owner "
                                "runs `orvctl ledger init-db LOCATION --station-role orv_station` once"))
        << error;
    EXPECT_EQ(
        PostgresServer::shared().query(empty, "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'", error),
        std::vector<std::string>{"0"});
}

TEST_F(PrivilegesTest, OnlyTheOwnerGrantsAndOnlyToRolesThatExist)
{
    std::string error;
    std::unique_ptr<PostgresLedger> owner = PostgresLedger::open(locationAs("orv_owner"), error);
    ASSERT_TRUE(owner) << error;
    EXPECT_FALSE(owner->grantRoles("orv_nobody", "", error));
    EXPECT_TRUE(contains(error, "there is no role orv_nobody in this database server: create it first (CREATE ROLE "
                                "\"orv_nobody\" LOGIN)"))
        << error;

    std::unique_ptr<PostgresLedger> station = PostgresLedger::open(locationAs("orv_station"), error);
    ASSERT_TRUE(station) << error;
    const std::string before = contents();
    error.clear();
    EXPECT_FALSE(station->grantRoles("orv_witness", "", error));
    EXPECT_TRUE(contains(error, "this account (orv_station) may not grant on the ledger's tables")) << error;
    EXPECT_EQ(contents(), before);
}

TEST_F(PrivilegesTest, StationsAppendingAtOnceStayGapFree)
{
    const auto first = station("first");
    const auto second = station("second");
    ASSERT_TRUE(first && second);
    constexpr int kThreads = 3;
    constexpr int kEach = 8;
    std::vector<std::string> problems(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::string error;
                const std::unique_ptr<Ledger> ledger = openLedger(locationAs("orv_station"), error);
                Station& desk = t % 2 ? *second : *first;
                for (int i = 0; i < kEach && ledger && problems[t].empty(); ++i) {
                    Event e = sampleEvent("D" + std::to_string(t), "P" + std::to_string(i), "ok");
                    if (!ledger->append(e)) {
                        problems[t] = ledger->error();
                    } else if (const Station::Signed s = desk.signCheckpoint(*ledger); !s.ok) {
                        problems[t] = s.message;
                    }
                }
                if (!ledger) {
                    problems[t] = error;
                }
            });
        }
    }
    for (const std::string& p : problems) {
        EXPECT_EQ(p, "");
    }
    LedgerSnapshot held;
    ASSERT_TRUE(openAs("orv_station")->readSnapshot(held));
    ASSERT_EQ(held.events.size(), static_cast<std::size_t>(kThreads * kEach));
    for (std::size_t i = 0; i < held.events.size(); ++i) {
        EXPECT_EQ(held.events[i].number, static_cast<std::int64_t>(i + 1));
    }
    KeyRing ring;
    ring.add(first->key().verifier());
    ring.add(second->key().verifier());
    const EvidenceReport report = verifyEvidence(held, VerifyPolicy{ring, {}, 0, nullptr, {}});
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.signedUpTo, kThreads * kEach);
}

} // namespace
