// Stations and witnesses that share one ledger, a SQLite file or a PostgreSQL database: each station
// (an account of its own) signs what it recorded, trusting the keys IT handed out, and verify counts
// the independent witnesses that cosigned it. On PostgreSQL the database's owner prepares the ledger
// once (ledger init-db) and the stations then log in as a role that may append and nothing more.
// POSIX only: the server is a real one.
#include "ledger/evidence.h"
#include "ledger/signed_note.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/support/start_postgres.h"

#include <gmock/gmock.h>
#include <libpq-fe.h>

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// Accounts of their own (their data folders, so their stations), one camera.
class OrvctlSharedEvidence : public ::testing::Test
{
protected:
    void SetUp() override
    {
        camsim::CameraOptions options;
        options.sdkPort = 0;
        camera = startCameraOnLoopback(options);
        ASSERT_TRUE(camera);
    }
    void TearDown() override { setDataHome(TestDataHome::folder()); }

    // orvctl ARGS as the account whose data folder is `home`.
    static OrvctlRun as(const std::filesystem::path& home, std::vector<std::string> args)
    {
        setDataHome(home.string());
        return runOrvctlWith(std::move(args));
    }

    // Three stations record into `location`, each trusting the three keys; a witness cosigns; each
    // station then verifies, counting that witness.
    void threeStationsAndAWitness(const std::string& location)
    {
        const std::filesystem::path stations[] = {folder / "a", folder / "b", folder / "c"};
        const std::filesystem::path witness = folder / "witness";
        std::string keys;
        for (const std::filesystem::path& home : stations) {
            const OrvctlRun key = as(home, {"ledger", "key"});
            ASSERT_EQ(key.code, 0) << key.err;
            keys += firstLine(key.out) + "\n";
        }
        writeFile(folder / "stations.keys", keys);
        const OrvctlRun witnessKey = as(witness, {"ledger", "key", "witness"});
        ASSERT_EQ(witnessKey.code, 0) << witnessKey.err;
        writeFile(folder / "witnesses.keys", witnessKey.out);
        const std::string trusted = (folder / "stations.keys").string();

        for (std::size_t i = 0; i < std::size(stations); ++i) {
            const OrvctlRun r =
                as(stations[i], {"--ip", camera.address, "--timeout-ms", kTestTimeoutMs, "--ledger", location,
                                 "--trusted", trusted, "set", "wifi", "ssid=Station " + std::to_string(i)});
            ASSERT_EQ(r.code, 0) << r.out << r.err;
        }
        const OrvctlRun cosigned = as(witness, {"--ledger", location, "--trusted", trusted, "ledger", "witness",
                                                "--state", (folder / "witness.state").string()});
        ASSERT_EQ(cosigned.code, 0) << cosigned.out << cosigned.err;
        EXPECT_THAT(cosigned.out, StartsWith("cosigned the checkpoint of 3 events of "));

        // The newest checkpoint carries the last station's signature and the witness's cosignature.
        const OrvctlRun checkpoint = as(stations[0], {"--ledger", location, "ledger", "checkpoint"});
        ASSERT_EQ(checkpoint.code, 0) << checkpoint.err;
        std::string error;
        const std::optional<ledger::Note> note = ledger::parseNote(checkpoint.out, error);
        ASSERT_TRUE(note) << error;
        EXPECT_THAT(note->text, HasSubstr("\n3\n"));
        EXPECT_EQ(note->signatures.size(), 2u) << checkpoint.out;

        const std::string witnesses = (folder / "witnesses.keys").string();
        for (const std::filesystem::path& home : stations) {
            SCOPED_TRACE(home.filename().string());
            // The trusted keys given with the station's first command are remembered.
            const OrvctlRun one = as(
                home, {"--ledger", location, "ledger", "verify", "--witness-keys", witnesses, "--min-witnesses", "1"});
            EXPECT_EQ(one.code, 0) << one.out << one.err;
            EXPECT_THAT(one.out, StartsWith("intact: 3 events, head 3 "));
            EXPECT_THAT(one.out, HasSubstr("  witness witness/"));
            EXPECT_THAT(one.out, HasSubstr(" cosigned the ledger up to event 3\n"));
            const OrvctlRun two = as(
                home, {"--ledger", location, "ledger", "verify", "--witness-keys", witnesses, "--min-witnesses", "2"});
            EXPECT_EQ(two.code, 5) << two.out;
            EXPECT_THAT(two.out, StartsWith("not witnessed enough: only 1 of the 2 trusted witnesses required have "
                                            "cosigned this ledger"));
        }
        const OrvctlRun json = as(stations[1], {"--ledger", location, "--json", "ledger", "verify", "--witness-keys",
                                                witnesses, "--min-witnesses", "1"});
        EXPECT_THAT(json.out, HasSubstr(",\"checkpoints\":3,\"signedUpTo\":3,\"witnessedUpTo\":3,\"witnesses\":[\""));
    }

    LoopbackCamera camera;
    ScratchFolder folder;
};

TEST_F(OrvctlSharedEvidence, ThreeStationsAndAWitnessInOneSqliteFile)
{
    threeStationsAndAWitness((folder / "shared.db").string());
}

TEST_F(OrvctlSharedEvidence, ThreeStationsAndAWitnessInOnePostgresDatabase)
{
    PostgresServer& server = PostgresServer::shared();
    START_POSTGRES(server, database);
    threeStationsAndAWitness(server.tcpLocation(database));
}

TEST_F(OrvctlSharedEvidence, InitDbLetsTheStationsRoleAppendAndNothingMore)
{
    PostgresServer& server = PostgresServer::shared();
    START_POSTGRES(server, database);
    // Roles belong to the whole server, which the test program shares: made once.
    std::string error;
    for (const char* role : {"orv_evidence_station", "orv_evidence_witness"}) {
        const std::vector<std::string> found =
            server.query(database, std::string("SELECT count(*) FROM pg_roles WHERE rolname = '") + role + "'", error);
        ASSERT_FALSE(found.empty()) << error;
        if (found[0] == "0") {
            ASSERT_TRUE(server.execute(database, std::string("CREATE ROLE ") + role + " LOGIN", error)) << error;
        }
    }
    const OrvctlRun init = runOrvctlWith({"--json", "ledger", "init-db", server.tcpLocation(database), "--station-role",
                                          "orv_evidence_station", "--witness-role", "orv_evidence_witness"});
    ASSERT_EQ(init.code, 0) << init.out << init.err;
    EXPECT_THAT(init.out, StartsWith("{\"location\":\"PostgreSQL database " + database + " on 127.0.0.1:"));
    EXPECT_THAT(init.out, HasSubstr(",\"origin\":\"orvcamera.ledger/"));
    EXPECT_THAT(init.out, HasSubstr(",\"schema\":3,\"stationRole\":\"orv_evidence_station\","
                                    "\"witnessRole\":\"orv_evidence_witness\"}\n"));

    const std::string port = std::to_string(server.port());
    const std::string asStation = "postgresql://orv_evidence_station@127.0.0.1:" + port + "/" + database;
    const std::string asWitness = "postgresql://orv_evidence_witness@127.0.0.1:" + port + "/" + database;
    const std::filesystem::path station = folder / "station";
    for (const char* ssid : {"ssid=Role 1", "ssid=Role 2"}) {
        const OrvctlRun r = as(station, {"--ip", camera.address, "--timeout-ms", kTestTimeoutMs, "--ledger", asStation,
                                         "set", "wifi", ssid});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
    }
    const OrvctlRun verify = as(station, {"--ledger", asStation, "ledger", "verify"});
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    EXPECT_THAT(verify.out, StartsWith("intact: 2 events, head 2 "));
    EXPECT_THAT(verify.out, HasSubstr("2 checkpoints signed by station/"));

    writeFile(folder / "stations.keys", as(station, {"ledger", "key"}).out);
    const OrvctlRun cosigned =
        as(folder / "witness", {"--ledger", asWitness, "--trusted", (folder / "stations.keys").string(), "ledger",
                                "witness", "--state", (folder / "witness.state").string()});
    EXPECT_EQ(cosigned.code, 0) << cosigned.out << cosigned.err;

    // What the station's role may not do, whoever holds its login.
    PGconn* connection = PQconnectdb(asStation.c_str());
    ASSERT_EQ(PQstatus(connection), CONNECTION_OK) << PQerrorMessage(connection);
    for (const char* sql :
         {"UPDATE events SET result = 'forged' WHERE number = 2", "DELETE FROM events WHERE number = 2",
          "DELETE FROM checkpoints", "UPDATE chain_head SET number = 1"}) {
        PGresult* result = PQexec(connection, sql);
        EXPECT_EQ(PQresultStatus(result), PGRES_FATAL_ERROR) << sql;
        PQclear(result);
    }
    PQfinish(connection);
    EXPECT_EQ(as(station, {"--ledger", asStation, "ledger", "verify"}).code, 0);
}

} // namespace
} // namespace orv::test
