// Many cameras at once against simulated cameras that answer as a real one does (20 ms before
// every reply), each on a loopback address of its own (127.0.51.10 on) on the camera port:
//  - provisioning 64 cameras at once (one runner with a worker for each, one run) beside one
//    camera alone: target at most 1.3x; eight at once as well. Counters say where a camera's time
//    went on average: waiting for its worker, connecting and logging in, and in all.
//  - eight cameras at once with the ledger on (a SQLite file on disk, every outcome appended and
//    made durable before its camera is handed back) beside the same run without it: target at
//    most 1.05x.
//  - a scan of eight candidates of which four are silent: each a listener on a loopback address
//    of its own (127.0.51.90 on), on the camera port, that never accepts and whose queue is full,
//    so the kernel drops every connect attempt, as with a camera still booting or an adapter
//    whose camera went; each costs the scan's whole connect timeout (500 ms by default), all four
//    together. Target: within 1 s with the four real cameras identified. The same through the
//    watch: from its start to its first look over.
//   build/bin/fleet_bench
#include "ledger/ledger.h"
#include "ledger/station.h"
#include "provision/camera_scan.h"
#include "provision/camera_watch.h"
#include "provision/fleet_runner.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/slow_cameras.h"
#include "bench/target_reporter.h"
#include "bench/unit_setup.h"
#include "tests/support/silent_address.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace orv;
using orv::bench::unitPlan;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCameras = 64;
constexpr int kSilent = 4;
constexpr std::chrono::milliseconds kReplyDelay{20};

std::string cameraAddress(int camera)
{
    return "127.0.51." + std::to_string(10 + camera);
}

std::string silentAddress(int n)
{
    return "127.0.51." + std::to_string(90 + n);
}

[[noreturn]] void giveUp(const std::string& why)
{
    std::fprintf(stderr, "fleet_bench: %s\n", why.c_str());
    std::exit(1);
}

const std::vector<std::unique_ptr<camsim::SimulatedCamera>>& cameras()
{
    static const auto all = bench::startSlowCameras(kCameras, cameraAddress, kReplyDelay);
    return all;
}

const std::vector<std::unique_ptr<test::SilentAddress>>& silentAddresses()
{
    static const auto all = [] {
        std::vector<std::unique_ptr<test::SilentAddress>> list;
        for (int n = 0; n < kSilent; ++n) {
            auto silent = std::make_unique<test::SilentAddress>(silentAddress(n), kCameraPort);
            if (!silent->ok()) {
                giveUp("no silent address at " + silentAddress(n) + ": " + silent->error());
            }
            list.push_back(std::move(silent));
        }
        return list;
    }();
    return all;
}

fleet::Candidate candidateAt(const std::string& address)
{
    fleet::Candidate c;
    c.address = address;
    return c;
}

// Real and silent candidates taking turns, as adapters with and without a camera would be listed.
std::vector<fleet::Candidate> halfSilent()
{
    cameras();
    silentAddresses();
    std::vector<fleet::Candidate> candidates;
    for (int n = 0; n < kSilent; ++n) {
        candidates.push_back(candidateAt(cameraAddress(n)));
        candidates.push_back(candidateAt(silentAddress(n)));
    }
    return candidates;
}

double millisecondsSince(Clock::time_point start, Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(t - start).count();
}

// When each camera of one run reached each step, from the moment the run began.
class StepClock
{
public:
    explicit StepClock(std::size_t cameras)
        : connecting_(cameras)
        , firstSent_(cameras)
        , finished_(cameras)
    {
    }

    void heard(const provision::CameraProgress& p)
    {
        const Clock::time_point now = Clock::now();
        if (p.camera >= finished_.size()) {
            return;
        }
        if (p.step == provision::CameraStep::Connecting) {
            connecting_[p.camera] = now;
        } else if (p.step == provision::CameraStep::Sent && firstSent_[p.camera] == Clock::time_point{}) {
            firstSent_[p.camera] = now;
        } else if (p.step == provision::CameraStep::Finished) {
            finished_[p.camera] = now;
        }
    }

    void begin() { start_ = Clock::now(); }
    // Averages over the cameras, in ms from the start of the run; `last` the slowest one's end.
    double toConnecting() const { return mean(connecting_); }
    double toFirstSent() const { return mean(firstSent_); }
    double toFinished() const { return mean(finished_); }
    double last() const
    {
        double most = 0;
        for (const auto& t : finished_) {
            most = std::max(most, millisecondsSince(start_, t));
        }
        return most;
    }

private:
    double mean(const std::vector<Clock::time_point>& times) const
    {
        double sum = 0;
        for (const auto& t : times) {
            sum += millisecondsSince(start_, t);
        }
        return times.empty() ? 0 : sum / static_cast<double>(times.size());
    }

    Clock::time_point start_;
    std::vector<Clock::time_point> connecting_;
    std::vector<Clock::time_point> firstSent_;
    std::vector<Clock::time_point> finished_;
};

void BM_Provision(benchmark::State& state)
{
    cameras();
    const auto count = static_cast<std::size_t>(state.range(0));
    provision::FleetSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    settings.plan = unitPlan();
    double toConnecting = 0, toFirstSent = 0, toFinished = 0, last = 0;
    for (auto _ : state) {
        StepClock steps(count);
        std::mutex stepsMutex;
        provision::FleetRunner runner(count);
        auto run = std::make_shared<provision::FleetRun>(settings, nullptr, [&](const provision::CameraProgress& p) {
            std::lock_guard lock(stepsMutex);
            steps.heard(p);
        });
        steps.begin();
        for (std::size_t i = 0; i < count; ++i) {
            runner.add(run, candidateAt(cameraAddress(static_cast<int>(i))));
        }
        run->wait();
        for (const auto& outcome : run->outcomes()) {
            if (outcome.result != provision::CameraResult::Verified) {
                state.SkipWithError(("not verified: " + outcome.message).c_str());
            }
        }
        std::lock_guard lock(stepsMutex);
        toConnecting += steps.toConnecting();
        toFirstSent += steps.toFirstSent();
        toFinished += steps.toFinished();
        last += steps.last();
    }
    const auto average = [&](double total) { return benchmark::Counter(total, benchmark::Counter::kAvgIterations); };
    state.counters["cameras"] = static_cast<double>(count);
    state.counters["connecting_ms"] = average(toConnecting);
    state.counters["first_sent_ms"] = average(toFirstSent);
    state.counters["finished_ms"] = average(toFinished);
    state.counters["last_ms"] = average(last);
}
// A few runs each: one run of 64 cameras is at the mercy of whatever else the machine does.
BENCHMARK(BM_Provision)->Arg(1)->Arg(8)->Arg(kCameras)->MinTime(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// A folder beside the program (on the disk the build is on, as the user's data folder would be,
// rather than a temporary folder that may live in memory), removed again at exit.
std::filesystem::path ledgerFolder()
{
    static const struct Folder
    {
        std::filesystem::path path = std::filesystem::current_path() / "fleet_bench_ledger";
        Folder()
        {
            std::filesystem::remove_all(path);
            std::filesystem::create_directories(path);
        }
        ~Folder()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } folder;
    return folder.path;
}

// Eight cameras at once, with every outcome recorded in the ledger (arg 1) or not (arg 0), or
// recorded with the station's check before the run and its signed checkpoint after it (arg 2), as
// every tool runs now; the ledger and the station are opened once, as a session opens them.
void BM_ProvisionLedger(benchmark::State& state)
{
    cameras();
    constexpr std::size_t kCount = 8;
    const bool recorded = state.range(0) != 0;
    const bool signedRun = state.range(0) == 2;
    std::shared_ptr<ledger::Station> station;
    if (signedRun) {
        std::string error;
        std::filesystem::remove_all(ledgerFolder() / "station");
        station = ledger::Station::open({ledgerFolder() / "station", {}}, error);
        if (!station) {
            giveUp("cannot open the station: " + error);
        }
    }
    provision::FleetSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    settings.plan = unitPlan();
    if (recorded) {
        std::string error;
        const std::string file = (ledgerFolder() / "ledger.db").string();
        std::filesystem::remove(file);
        settings.ledger = ledger::openLedger(file, error);
        if (!settings.ledger) {
            giveUp("cannot open the ledger: " + error);
        }
        provision::EventOrigin origin;
        origin.tool = "fleet_bench";
        origin.toolVersion = "0";
        settings.eventTemplate = provision::startEvent(origin, "provision");
    }
    for (auto _ : state) {
        if (station && !station->checkBeforeWriting(*settings.ledger).ok()) {
            state.SkipWithError("the station refused the ledger");
            break;
        }
        provision::FleetRunner runner(kCount);
        auto run = std::make_shared<provision::FleetRun>(settings, nullptr, nullptr);
        for (std::size_t i = 0; i < kCount; ++i) {
            runner.add(run, candidateAt(cameraAddress(static_cast<int>(i))));
        }
        run->wait();
        if (station && !station->signCheckpoint(*settings.ledger).ok) {
            state.SkipWithError("no checkpoint signed");
            break;
        }
        for (const auto& outcome : run->outcomes()) {
            if (outcome.result != provision::CameraResult::Verified || (recorded && outcome.ledgerEvent == 0)) {
                state.SkipWithError(("not verified and recorded: " + outcome.message).c_str());
            }
        }
    }
    state.counters["cameras"] = static_cast<double>(kCount);
}
BENCHMARK(BM_ProvisionLedger)->Arg(0)->Arg(1)->Arg(2)->MinTime(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ScanFourOfEightSilent(benchmark::State& state)
{
    const std::vector<fleet::Candidate> candidates = halfSilent();
    provision::ScanSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    for (auto _ : state) {
        int identified = 0, answered = 0;
        for (const auto& s : provision::scanCameras(candidates, settings)) {
            identified += s.identified() ? 1 : 0;
            answered += s.connected ? 1 : 0;
        }
        if (identified != kSilent || answered != kSilent) {
            state.SkipWithError(("identified " + std::to_string(identified) + " of four cameras, " +
                                 std::to_string(answered) + " of eight candidates answered")
                                    .c_str());
        }
    }
}
BENCHMARK(BM_ScanFourOfEightSilent)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same candidates through the watch, as the search tool and provision --all see them: from
// start() to the end of its first look.
void BM_WatchFirstLook(benchmark::State& state)
{
    const std::vector<fleet::Candidate> candidates = halfSilent();
    provision::WatchSettings settings;
    for (const fleet::Candidate& c : candidates) {
        settings.plan.cameraAddresses.push_back(c.address);
    }
    settings.scan.user = u"admin";
    settings.scan.password = u"wrenq";
    settings.poll = std::chrono::minutes(1); // one look only
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable looked;
        bool over = false;
        int identified = 0;
        provision::CameraWatch watch(settings, nullptr, [&](const provision::WatchEvent& e) {
            std::lock_guard lock(mutex);
            if (e.kind == provision::WatchEventKind::Identified && e.camera.identified()) {
                ++identified;
            } else if (e.kind == provision::WatchEventKind::Looked) {
                over = true;
                looked.notify_all();
            }
        });
        std::string error;
        if (!watch.start(&error)) {
            state.SkipWithError(("the watch did not start: " + error).c_str());
            break;
        }
        std::unique_lock lock(mutex);
        looked.wait(lock, [&] { return over; });
        if (identified != kSilent) {
            state.SkipWithError(("the first look identified " + std::to_string(identified) + " of four").c_str());
        }
        lock.unlock();
        state.PauseTiming(); // ending the watch is not part of the look
        watch.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WatchFirstLook)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::TargetReporter reporter(
        {
            {"64 cameras at once / one camera (target <= 1.3)", "BM_Provision/64/min_time:2.000/real_time",
             "BM_Provision/1/min_time:2.000/real_time"},
            {"8 cameras at once / one camera (target <= 1.3)", "BM_Provision/8/min_time:2.000/real_time",
             "BM_Provision/1/min_time:2.000/real_time"},
            {"8 cameras, ledger on / ledger off (target <= 1.05)", "BM_ProvisionLedger/1/min_time:3.000/real_time",
             "BM_ProvisionLedger/0/min_time:3.000/real_time"},
            {"8 cameras, checkpoints / without (target <= 1.05)", "BM_ProvisionLedger/2/min_time:3.000/real_time",
             "BM_ProvisionLedger/1/min_time:3.000/real_time"},
        },
        {
            {"scan of 8 candidates, 4 of them silent (ms)", "BM_ScanFourOfEightSilent/real_time", "", 1000},
            {"watch, start to first look over, 4 of 8 silent (ms)", "BM_WatchFirstLook/real_time", "", 1000},
        });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
