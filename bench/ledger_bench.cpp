// Appending one event to the ledger, made durable before append returns: a SQLite file in the
// temporary folder, and a PostgreSQL server on loopback TCP (started here, fsync on; skipped when
// the server is not installed). The floor is the disk's own: one small write and fdatasync in the
// same folder, which every durable append must wait for at least once.
//   build/bin/ledger_bench
#include "ledger/ledger.h"
#include "tests/support/postgres_server.h"

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

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::TargetReporter reporter(
        {{"SQLite append / disk sync floor", "BM_AppendSqlite/real_time", "BM_SyncFloor/real_time"},
         {"PostgreSQL append / disk sync floor", "BM_AppendPostgres/real_time", "BM_SyncFloor/real_time"}},
        {{"append, SQLite file (ms)", "BM_AppendSqlite/real_time", "", 2.0},
         {"append, PostgreSQL on loopback (ms)", "BM_AppendPostgres/real_time", "", 5.0}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
