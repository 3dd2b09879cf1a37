// Appending one event to the ledger, made durable before append returns: a SQLite file in the
// temporary folder, and a PostgreSQL server on loopback TCP (started here, fsync on; skipped when
// the server is not installed). The floor is the disk's own: one small write and fdatasync in the
// same folder, which every durable append must wait for at least once.
// Then the evidence on a ledger of 100 000 events: verifying it whole with 1 000 signed
// checkpoints (SQLite, read and checked), and on PostgreSQL the station's check before a run (one
// row) and the checkpoint it signs after a run of eight cameras (the events of the run only).
// And a station's spool forwarded to PostgreSQL: 10 000 events that waited while the database was
// away, forwarded in the station's order (target: under 10 s on loopback).
// And what one outcome takes of the station's disk, in a ledger file and in a spool: the largest
// and the mean growth over 2 000 events added one at a time (the room a station keeps free for
// the outcomes to come must cover the largest; ledger/disk_room.h).
//   build/bin/ledger_bench
#include "ledger/checkpoint.h"
#include "ledger/disk_room.h"
#include "ledger/event_fields.h"
#include "ledger/evidence.h"
#include "ledger/ledger.h"
#include "ledger/merkle.h"
#include "ledger/spooled_ledger.h"
#include "ledger/station.h"
#include "tests/support/postgres_server.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include "bench/target_reporter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace orv;

namespace {

ledger::Event sampleEvent()
{
    ledger::Event e;
    e.timeUtc = ledger::utcNow();
    e.utcOffsetMinutes = 480;
    e.station = "desk-1";
    e.operatorName = "clerk";
    e.tool = "orvctl";
    e.toolVersion = "1.0.0.2";
    e.kind = "provision";
    e.deviceId = "ORV202612345";
    e.where = "usb0 192.168.2.158";
    e.officerBefore = "P1001";
    e.officerAfter = "P1002";
    e.unitAfter = "North";
    e.setupName = "shift.xml";
    e.setupSha256 = ledger::sha256Hex("setup");
    e.groups = "platform, wifi, device";
    e.result = "ok";
    return e;
}

void appendLoop(benchmark::State& state, const std::string& location)
{
    std::string error;
    const std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(location, error);
    if (!ledger) {
        state.SkipWithError(error.c_str());
        return;
    }
    ledger::Event e = sampleEvent();
    for (auto _ : state) {
        if (!ledger->append(e)) {
            state.SkipWithError(ledger->error().c_str());
            break;
        }
    }
}

void BM_AppendSqlite(benchmark::State& state)
{
    char pattern[] = "/tmp/orv-ledger-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    const std::filesystem::path folder = pattern;
    appendLoop(state, (folder / "ledger.db").string());
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_AppendSqlite)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SyncFloor(benchmark::State& state)
{
    char path[] = "/tmp/orv-ledger-sync-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    const std::string record(512, 'x');
    for (auto _ : state) {
        if (::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size()) || ::fdatasync(fd) != 0) {
            state.SkipWithError("write or fdatasync failed");
            break;
        }
    }
    ::close(fd);
    ::unlink(path);
}
BENCHMARK(BM_SyncFloor)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_AppendPostgres(benchmark::State& state)
{
    static test::PostgresServer server(true);
    if (!server.running()) {
        state.SkipWithError(server.error().c_str());
        return;
    }
    std::string error;
    const std::string database = server.createDatabase(error);
    if (database.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    appendLoop(state, server.tcpLocation(database));
}
BENCHMARK(BM_AppendPostgres)->UseRealTime()->Unit(benchmark::kMillisecond);

constexpr int kLargeLedger = 100000;
constexpr int kCheckpointEvery = 100; // 1 000 checkpoints over 100 000 events

// A temporary folder removed again at exit.
std::filesystem::path scratch(const char* name)
{
    static std::vector<std::filesystem::path> made;
    static const struct Cleanup
    {
        ~Cleanup()
        {
            for (const auto& folder : made) {
                std::error_code ec;
                std::filesystem::remove_all(folder, ec);
            }
        }
    } cleanup;
    std::string pattern = std::string("/tmp/orv-") + name + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    made.emplace_back(pattern);
    return made.back();
}

// The events of a large ledger, chained, and the checkpoints a station signed along the way.
struct LargeLedger
{
    std::vector<ledger::Event> events;
    std::vector<std::pair<std::int64_t, std::string>> checkpoints; // size, note
};

LargeLedger largeLedger(const ledger::SignerKey& key, const std::string& origin)
{
    LargeLedger large;
    large.events.reserve(kLargeLedger);
    ledger::CompactRange range;
    std::string previous(ledger::kGenesisHash);
    for (int i = 1; i <= kLargeLedger; ++i) {
        ledger::Event e = sampleEvent();
        e.number = i;
        e.deviceId = "ORV2026" + std::to_string(10000 + i % 500);
        e.officerAfter = "P" + std::to_string(i % 700);
        e.previousHash = previous;
        e.hash = ledger::eventHash(previous, e);
        previous = e.hash;
        range.append(ledger::leafHash(ledger::canonicalForm(e)));
        large.events.push_back(std::move(e));
        if (i % kCheckpointEvery == 0) {
            const std::string text = ledger::checkpointText({origin, range.size(), range.root()});
            large.checkpoints.emplace_back(
                i, ledger::noteMessage(ledger::Note{text, {ledger::signNoteText(key, text)}}));
        }
    }
    return large;
}

// The column values of an event as the tables hold them (nullopt: NULL).
std::vector<std::optional<std::string>> columnsOf(const ledger::Event& e)
{
    std::vector<std::optional<std::string>> values;
    for (std::size_t i = 0; i < ledger::detail::kFields.size(); ++i) {
        values.push_back(ledger::detail::fieldText(e, i));
    }
    values.emplace_back(e.previousHash);
    values.emplace_back(e.hash);
    return values;
}

// Writes `large` into the SQLite ledger at `file` (opened once by the ledger, so that its tables
// and origin exist) in one transaction.
bool fillSqlite(const std::filesystem::path& file, const LargeLedger& large, std::string& error)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        error = "cannot open " + file.string();
        return false;
    }
    std::string sql = "INSERT INTO events (" + ledger::detail::eventColumnList() + ") VALUES (";
    for (std::size_t i = 1; i <= ledger::detail::kColumnCount; ++i) {
        sql += "?" + std::to_string(i) + (i < ledger::detail::kColumnCount ? "," : ")");
    }
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr);
    for (const ledger::Event& e : large.events) {
        const auto values = columnsOf(e);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i]) {
                sqlite3_bind_text(insert, static_cast<int>(i + 1), values[i]->c_str(), -1, SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(insert, static_cast<int>(i + 1));
            }
        }
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_stmt* checkpoint = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO checkpoints (tree_size, note, recorded_utc) VALUES (?1, ?2, ?3)", -1,
                       &checkpoint, nullptr);
    const std::string now = ledger::utcNow();
    for (const auto& [size, note] : large.checkpoints) {
        sqlite3_bind_int64(checkpoint, 1, size);
        sqlite3_bind_text(checkpoint, 2, note.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(checkpoint, 3, now.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(checkpoint);
        sqlite3_reset(checkpoint);
    }
    sqlite3_finalize(checkpoint);
    const std::string head = "UPDATE chain_head SET number = " + std::to_string(large.events.size()) + ", hash = '" +
                             large.events.back().hash + "' WHERE id = 1";
    sqlite3_exec(db, head.c_str(), nullptr, nullptr, nullptr);
    const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        error = sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    return ok;
}

// The same into a PostgreSQL ledger, as its owner loading a dump would: the owner's triggers off
// for the session, rows in batches.
bool fillPostgres(const test::PostgresServer& server, const std::string& database, const LargeLedger& large,
                  std::string& error)
{
    PGconn* connection = PQconnectdb(server.socketLocation(database).c_str());
    const auto run = [&](const std::string& sql) {
        PGresult* result = PQexec(connection, sql.c_str());
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        if (!ok) {
            error = PQresultErrorMessage(result);
        }
        PQclear(result);
        return ok;
    };
    const auto literal = [&](const std::optional<std::string>& value) {
        if (!value) {
            return std::string("NULL");
        }
        char* escaped = PQescapeLiteral(connection, value->c_str(), value->size());
        std::string text = escaped;
        PQfreemem(escaped);
        return text;
    };
    bool ok = PQstatus(connection) == CONNECTION_OK && run("BEGIN") && run("SET session_replication_role = replica");
    for (std::size_t from = 0; ok && from < large.events.size(); from += 1000) {
        std::string sql = "INSERT INTO events (" + ledger::detail::eventColumnList() + ") VALUES ";
        for (std::size_t i = from; i < std::min(from + 1000, large.events.size()); ++i) {
            sql += i == from ? "(" : ",(";
            const auto values = columnsOf(large.events[i]);
            for (std::size_t k = 0; k < values.size(); ++k) {
                sql += (k ? "," : "") + literal(values[k]);
            }
            sql += ")";
        }
        ok = run(sql);
    }
    for (const auto& [size, note] : large.checkpoints) {
        ok = ok && run("INSERT INTO checkpoints (tree_size, note, recorded_utc) VALUES (" + std::to_string(size) + ", " +
                       literal(note) + ", " + literal(ledger::utcNow()) + ")");
    }
    ok = ok &&
         run("UPDATE chain_head SET number = " + std::to_string(large.events.size()) + ", hash = " +
             literal(large.events.back().hash) + " WHERE id = 1") &&
         run("COMMIT");
    PQfinish(connection);
    return ok;
}

void BM_VerifyLargeSqlite(benchmark::State& state)
{
    const std::filesystem::path folder = scratch("ledger-verify");
    const std::filesystem::path file = folder / "ledger.db";
    std::string error;
    std::optional<ledger::SignerKey> key = ledger::SignerKey::generate("station/bench/clerk", ledger::KeyType::Ed25519, error);
    std::string origin;
    {
        const std::unique_ptr<ledger::Ledger> made = ledger::openLedger(file.string(), error);
        if (!made || !key) {
            state.SkipWithError(error.c_str());
            return;
        }
        origin = made->origin();
    }
    if (!fillSqlite(file, largeLedger(*key, origin), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    ledger::VerifyPolicy policy;
    policy.stations.add(key->verifier());
    const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(file.string(), error);
    for (auto _ : state) {
        ledger::LedgerSnapshot snapshot;
        if (!opened->readSnapshot(snapshot)) {
            state.SkipWithError(opened->error().c_str());
            break;
        }
        const ledger::EvidenceReport report = ledger::verifyEvidence(snapshot, policy);
        if (!report.intact || report.checkpoints != kLargeLedger / kCheckpointEvery) {
            state.SkipWithError(("not intact: " + report.problem).c_str());
            break;
        }
    }
    state.counters["events"] = kLargeLedger;
    state.counters["checkpoints"] = kLargeLedger / kCheckpointEvery;
}
BENCHMARK(BM_VerifyLargeSqlite)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A PostgreSQL ledger of 100 000 events and a station that signed its whole tree once.
struct LargePostgres
{
    std::unique_ptr<ledger::Ledger> ledger;
    std::shared_ptr<ledger::Station> station;
    std::string problem;
};

LargePostgres& largePostgres()
{
    static LargePostgres large = [] {
        LargePostgres l;
        static test::PostgresServer server(true);
        if (!server.running()) {
            l.problem = server.error();
            return l;
        }
        const std::string database = server.createDatabase(l.problem);
        if (database.empty()) {
            return l;
        }
        l.ledger = ledger::openLedger(server.tcpLocation(database), l.problem);
        l.station = ledger::Station::open({scratch("ledger-station"), {}}, l.problem);
        if (!l.ledger || !l.station) {
            l.ledger.reset();
            return l;
        }
        const LargeLedger events = largeLedger(l.station->key(), l.ledger->origin());
        if (!fillPostgres(server, database, events, l.problem) || !l.station->checkBeforeWriting(*l.ledger).ok() ||
            !l.station->signCheckpoint(*l.ledger).ok) {
            l.problem = "cannot prepare the ledger: " + l.problem + l.ledger->error();
            l.ledger.reset();
        }
        return l;
    }();
    return large;
}

void BM_CheckBeforeRunPostgres(benchmark::State& state)
{
    LargePostgres& large = largePostgres();
    if (!large.ledger) {
        state.SkipWithError(large.problem.c_str());
        return;
    }
    for (auto _ : state) {
        if (!large.station->checkBeforeWriting(*large.ledger).ok()) {
            state.SkipWithError("the station refused the ledger");
            break;
        }
    }
}
BENCHMARK(BM_CheckBeforeRunPostgres)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SignAfterRunPostgres(benchmark::State& state)
{
    LargePostgres& large = largePostgres();
    if (!large.ledger) {
        state.SkipWithError(large.problem.c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming(); // a run of eight cameras recorded its outcomes
        for (int i = 0; i < 8; ++i) {
            ledger::Event e = sampleEvent();
            if (!large.ledger->append(e)) {
                state.SkipWithError(large.ledger->error().c_str());
                return;
            }
        }
        state.ResumeTiming();
        if (!large.station->signCheckpoint(*large.ledger).ok) {
            state.SkipWithError("no checkpoint signed");
            break;
        }
    }
}
BENCHMARK(BM_SignAfterRunPostgres)->UseRealTime()->Unit(benchmark::kMillisecond);

constexpr int kSpooledEvents = 10000;

void BM_ForwardSpoolPostgres(benchmark::State& state)
{
    static test::PostgresServer server(true);
    if (!server.running()) {
        state.SkipWithError(server.error().c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming(); // 10 000 events recorded while the database was away
        std::string error;
        const std::string database = server.createDatabase(error);
        const std::filesystem::path folder = scratch("ledger-spool");
        std::unique_ptr<ledger::Spool> spool =
            database.empty() ? nullptr : ledger::Spool::open(folder / (database + ".db"), error);
        if (!spool) {
            state.SkipWithError(error.c_str());
            return;
        }
        // Filled in one transaction: how the events came into the spool is not what is measured.
        sqlite3* db = nullptr;
        if (sqlite3_open((folder / (database + ".db")).string().c_str(), &db) != SQLITE_OK) {
            state.SkipWithError("cannot open the spool to fill it");
            return;
        }
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 1; i <= kSpooledEvents; ++i) {
            ledger::Event e = sampleEvent();
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(db, "INSERT INTO spooled (sequence, event_id, device_id, form) VALUES (?1, ?2, ?3, ?4)",
                               -1, &insert, nullptr);
            const std::string id = spool->id() + ":" + std::to_string(i);
            const std::string form = ledger::canonicalForm(e);
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_text(insert, 2, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, e.deviceId.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, form.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_finalize(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ledger::SpooledLedger spooled(server.tcpLocation(database), std::move(spool));
        state.ResumeTiming();
        const ledger::ForwardOutcome outcome = spooled.forward();
        if (!outcome.reached || outcome.forwarded != kSpooledEvents) {
            state.SkipWithError(("forwarded " + std::to_string(outcome.forwarded) + ": " + outcome.problem).c_str());
            break;
        }
    }
}
BENCHMARK(BM_ForwardSpoolPostgres)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);

constexpr int kGrowthEvents = 2000;

// A SQLite file's bytes on the disk with its write-ahead log and shared memory.
std::uintmax_t bytesWithLog(const std::filesystem::path& file)
{
    std::uintmax_t total = 0;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::path part = file;
        part += suffix;
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(part, ec);
        total += ec ? 0 : size;
    }
    return total;
}

// Adds kGrowthEvents events through `add`, one at a time, and reports the largest and the mean
// step of the file's bytes, and the room kept free, in KB.
template <class Add>
void measureGrowth(benchmark::State& state, const std::filesystem::path& file, Add add)
{
    for (auto _ : state) {
        std::uintmax_t largest = 0;
        const std::uintmax_t first = bytesWithLog(file);
        std::uintmax_t before = first;
        for (int i = 0; i < kGrowthEvents; ++i) {
            ledger::Event e = sampleEvent();
            if (!add(e)) {
                state.SkipWithError("an event could not be added");
                return;
            }
            const std::uintmax_t after = bytesWithLog(file);
            largest = std::max(largest, after > before ? after - before : 0);
            before = after;
        }
        state.counters["largest_KB"] = static_cast<double>(largest) / 1024;
        state.counters["mean_KB"] = static_cast<double>(before - first) / kGrowthEvents / 1024;
        state.counters["kept_KB"] = static_cast<double>(ledger::kRoomForOutcomes) / 1024;
    }
}

void BM_DiskPerOutcomeLedgerFile(benchmark::State& state)
{
    const std::filesystem::path file = scratch("ledger-growth") / "ledger.db";
    std::string error;
    const std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(file.string(), error);
    if (!ledger) {
        state.SkipWithError(error.c_str());
        return;
    }
    measureGrowth(state, file, [&](ledger::Event& e) { return ledger->append(e); });
}
BENCHMARK(BM_DiskPerOutcomeLedgerFile)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DiskPerOutcomeSpool(benchmark::State& state)
{
    const std::filesystem::path file = scratch("spool-growth") / "spool.db";
    std::string error;
    const std::unique_ptr<ledger::Spool> spool = ledger::Spool::open(file, error);
    if (!spool) {
        state.SkipWithError(error.c_str());
        return;
    }
    measureGrowth(state, file, [&](ledger::Event& e) { return spool->add(e); });
}
BENCHMARK(BM_DiskPerOutcomeSpool)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::TargetReporter reporter(
        {{"SQLite append / disk sync floor", "BM_AppendSqlite/real_time", "BM_SyncFloor/real_time"},
         {"PostgreSQL append / disk sync floor", "BM_AppendPostgres/real_time", "BM_SyncFloor/real_time"}},
        {{"append, SQLite file (ms)", "BM_AppendSqlite/real_time", "", 2.0},
         {"append, PostgreSQL on loopback (ms)", "BM_AppendPostgres/real_time", "", 5.0},
         {"verify 100 000 events, 1 000 checkpoints, SQLite (ms)", "BM_VerifyLargeSqlite/iterations:3/real_time", "",
          2000},
         {"check before a run, 100 000 events, PostgreSQL (ms)", "BM_CheckBeforeRunPostgres/real_time", "", 20},
         {"checkpoint after a run of 8, 100 000 events, PostgreSQL (ms)", "BM_SignAfterRunPostgres/real_time", "",
          50},
         {"forward 10 000 spooled events to PostgreSQL on loopback (ms)",
          "BM_ForwardSpoolPostgres/iterations:2/real_time", "", 10000}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
