// The chain-of-custody report of one camera over 1 000 events, made as orvctl ledger report makes
// it: a SQLite ledger of one camera's months (tests/core/report/custody_ledger.h), signed by its
// station as a run leaves it, then makeCustodyReport end to end (the station's check and
// signature, gathering, verifying and proving, drawing the PDF, writing it and its proofs, the
// "report" event recorded). Each run starts from a copy of the same ledger and station, made while
// the clock is stopped, so that every report lists the same 1 000 events.
// Then its phases alone: reading and gathering (verify the whole ledger, a proof per event) and
// drawing the PDF of what was gathered.
//   build/bin/report_bench
//   ORV_REPORT_BENCH_PDF=FILE build/bin/report_bench   (keeps the last report made, to look at)
#include "ledger/custody.h"
#include "ledger/ledger.h"
#include "ledger/station.h"
#include "report/custody_pdf.h"
#include "report/custody_report.h"
#include "report/report_fonts.h"
#include "tests/core/report/custody_ledger.h"

#include "bench/target_reporter.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

using namespace orv;

namespace {

namespace fs = std::filesystem;

constexpr int kEvents = 1000;
const std::string kCamera = "ORV202600001";

// The ledger and the station's folder as the seeding left them, in a folder removed at exit.
struct Pristine
{
    fs::path folder;
    std::string problem;

    fs::path ledgerFile() const { return folder / "ledger.db"; }
    fs::path stationFolder() const { return folder / "station"; }

    ~Pristine()
    {
        std::error_code ec;
        if (!folder.empty()) {
            fs::remove_all(folder.parent_path(), ec);
        }
    }
};

const Pristine& pristine()
{
    static const Pristine made = [] {
        Pristine p;
        char pattern[] = "/tmp/orv-report-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            p.problem = "cannot create a temporary folder";
            return p;
        }
        p.folder = fs::path(pattern) / "pristine";
        fs::create_directory(p.folder);
        std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(p.ledgerFile().string(), p.problem);
        if (!ledger) {
            return p;
        }
        p.problem = test::seedCustodyLedger(*ledger, kEvents, 1);
        if (!p.problem.empty()) {
            return p;
        }
        // Signed after the last run, as a station leaves its ledger.
        const std::shared_ptr<ledger::Station> station = ledger::Station::open({p.stationFolder(), {}}, p.problem);
        if (!station || !station->checkBeforeWriting(*ledger).ok() || !station->signCheckpoint(*ledger).ok) {
            p.problem = "cannot sign the seeded ledger: " + p.problem;
        }
        return p;
    }();
    return made;
}

// A working copy of the pristine ledger and station.
struct Copy
{
    fs::path folder;
    std::unique_ptr<ledger::Ledger> ledger;
    std::shared_ptr<ledger::Station> station;
};

// A folder of its own each time, as a report made once writes its proofs into a new folder (an
// emptied one makes the file system's inode allocation slower than it is for orvctl).
bool copyPristine(Copy& copy, std::string& error)
{
    static int copies = 0;
    const Pristine& p = pristine();
    copy.station.reset();
    copy.ledger.reset();
    copy.folder = p.folder.parent_path() / ("work-" + std::to_string(++copies));
    std::error_code ec;
    fs::copy(p.folder, copy.folder, fs::copy_options::recursive, ec);
    if (ec) {
        error = "cannot copy the ledger: " + ec.message();
        return false;
    }
    copy.ledger = ledger::openLedger((copy.folder / "ledger.db").string(), error);
    copy.station = ledger::Station::open({copy.folder / "station", {}}, error);
    return copy.ledger && copy.station;
}

report::ReportRequest cameraRequest(const fs::path& pdf)
{
    report::ReportRequest request;
    request.query.deviceId = kCamera;
    request.language = report::ReportLanguage::SimplifiedChinese;
    request.pdf = pdf;
    request.origin = {.tool = "orvctl", .toolVersion = "1.0.0.2", .station = "dock-3", .operatorName = "wang.li"};
    return request;
}

void BM_CustodyReport(benchmark::State& state)
{
    if (!pristine().problem.empty()) {
        state.SkipWithError(pristine().problem.c_str());
        return;
    }
    Copy copy;
    report::ReportOutcome outcome;
    for (auto _ : state) {
        state.PauseTiming();
        std::string error;
        if (!copyPristine(copy, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        const report::ReportRequest request = cameraRequest(copy.folder / "custody.pdf");
        state.ResumeTiming();
        outcome = report::makeCustodyReport(*copy.ledger, *copy.station, request);
        if (outcome.status != report::ReportOutcome::Status::Sound || outcome.events != kEvents ||
            outcome.reportEvent == 0) {
            state.SkipWithError(("not a sound report of every event: " + outcome.message).c_str());
            break;
        }
    }
    state.counters["events"] = static_cast<double>(outcome.events);
    state.counters["pages"] = outcome.pages;
    std::error_code ec;
    state.counters["pdf_kB"] = static_cast<double>(fs::file_size(copy.folder / "custody.pdf", ec)) / 1024.0;
    if (const char* keep = std::getenv("ORV_REPORT_BENCH_PDF"); keep && *keep) {
        fs::copy_file(copy.folder / "custody.pdf", keep, fs::copy_options::overwrite_existing, ec);
    }
}
BENCHMARK(BM_CustodyReport)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// What makeCustodyReport gathers, with its policy: the station's keys and witness file.
struct Gathered
{
    Copy copy;
    ledger::CustodyRecord record;
};

std::optional<ledger::CustodyRecord> gather(Copy& copy, std::string& error)
{
    ledger::LedgerSnapshot snapshot;
    if (!copy.ledger->readSnapshot(snapshot)) {
        error = copy.ledger->error();
        return std::nullopt;
    }
    const ledger::WitnessFile witness = copy.station->witness();
    ledger::VerifyPolicy policy;
    policy.stations = copy.station->trusted();
    policy.witness = &witness;
    policy.place = copy.ledger->place();
    ledger::CustodyRecord record = ledger::gatherCustody(snapshot, cameraRequest({}).query, policy);
    if (!record.sound() || record.events.size() != kEvents) {
        error = "not sound: " + record.verification.problem;
        return std::nullopt;
    }
    return record;
}

void BM_CustodyGather(benchmark::State& state)
{
    Copy copy;
    std::string error;
    if (!pristine().problem.empty() || !copyPristine(copy, error)) {
        state.SkipWithError((pristine().problem + error).c_str());
        return;
    }
    for (auto _ : state) {
        if (!gather(copy, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}
BENCHMARK(BM_CustodyGather)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CustodyRender(benchmark::State& state)
{
    Copy copy;
    std::string error;
    if (!pristine().problem.empty() || !copyPristine(copy, error)) {
        state.SkipWithError((pristine().problem + error).c_str());
        return;
    }
    const std::optional<ledger::CustodyRecord> record = gather(copy, error);
    if (!record) {
        state.SkipWithError(error.c_str());
        return;
    }
    report::ReportHeading heading;
    heading.language = report::ReportLanguage::SimplifiedChinese;
    heading.madeUtc = ledger::utcNow();
    heading.utcOffsetMinutes = 480;
    heading.station = "dock-3";
    heading.operatorName = "wang.li";
    heading.tool = "orvctl";
    heading.toolVersion = "1.0.0.2";
    heading.ledgerLocation = (copy.folder / "ledger.db").string();
    heading.proofsFolder = "custody.pdf.proofs";
    int pages = 0;
    for (auto _ : state) {
        const std::optional<report::RenderedReport> rendered = report::custodyPdf(*record, heading, error);
        if (!rendered) {
            state.SkipWithError(error.c_str());
            break;
        }
        pages = rendered->pages;
    }
    state.counters["pages"] = pages;
}
BENCHMARK(BM_CustodyRender)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    const report::ReportApplication qt;
    benchmark::Initialize(&argc, argv);
    bench::TargetReporter reporter({}, {{"custody report of one camera, 1 000 events, SQLite (ms)",
                                         "BM_CustodyReport/iterations:3/real_time", "", 5000, true}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
