// `orvctl apply` against the simulated camera on loopback, beside the floor: a plain loopback TCP
// pair that replays the very requests and replies of one apply (same sizes, same order, replies
// only where the camera answers).
// `orvctl provision --all` over four good cameras (127.0.50.10 on) alone, and beside two that get
// their device record wrong in each way firmware does (tests/support/misbehaving_cameras.h; a
// reply window of 3 s, as shipped): the time is that from the start until the four good ones are
// done, as their lines say. Target: the bad ones slow the good ones by at most 1.2x.
//   build/bin/cli_bench
#include "link/commands.h"
#include "persist/setup_document.h"
#include "provision/camera_session.h"
#include "provision/setup_apply.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/bench_camera.h"
#include "bench/loopback_floor.h"
#include "bench/ratio_reporter.h"
#include "bench/slow_cameras.h"
#include "bench/unit_setup.h"
#include "orvctl/orvctl.h"
#include "tests/support/misbehaving_cameras.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <unistd.h>
#include <string>
#include <vector>

using namespace orv;
using orv::bench::unitPlan;

namespace {

constexpr const char* kCameraAddress = "127.0.50.200";
constexpr std::uint32_t kFloorAddress = 0x7F0032C9; // 127.0.50.201

camsim::SimulatedCamera& camera()
{
    static camsim::SimulatedCamera& cam = bench::startBenchCamera(kCameraAddress, false);
    return cam;
}

using Step = bench::FloorStep;

// The requests and replies of one apply, as they crossed the link.
std::vector<Step> applySteps()
{
    static const std::vector<Step> steps = [] {
        CameraLink link;
        provision::connectAndLogin(link, kCameraAddress, u"admin", u"wrenq");
        std::vector<Step> recorded;
        setFrameTrace([&](FrameDirection direction, const std::uint8_t*, std::size_t length) {
            if (direction == FrameDirection::Out) {
                recorded.push_back({length, 0});
            } else if (!recorded.empty()) {
                recorded.back().reply += length;
            }
        });
        provision::applySetup(link, unitPlan());
        setFrameTrace({});
        return recorded;
    }();
    return steps;
}

void BM_Apply(benchmark::State& state)
{
    camera();
    const std::vector<provision::GroupPlan> plan = unitPlan();
    CameraLink link;
    if (provision::connectAndLogin(link, kCameraAddress, u"admin", u"wrenq") != provision::LoginOutcome::LoggedIn) {
        state.SkipWithError("login failed");
        return;
    }
    for (auto _ : state) {
        if (!provision::applySetup(link, plan).verified()) {
            state.SkipWithError("apply did not verify");
            break;
        }
    }
    state.counters["requests"] = static_cast<double>(applySteps().size());
}
BENCHMARK(BM_Apply)->UseRealTime()->Unit(benchmark::kMillisecond);

// The apply's writes go unanswered: bench/loopback_floor.h keeps Nagle off at both ends for them.
void BM_ApplyFloor(benchmark::State& state)
{
    camera();
    const std::vector<Step> steps = applySteps();
    const bench::LoopbackFloor floor(kFloorAddress, steps);
    bench::FloorClient client(floor);
    for (auto _ : state) {
        if (!client.replay()) {
            state.SkipWithError("floor pair broke");
            break;
        }
    }
    state.counters["requests"] = static_cast<double>(steps.size());
}
BENCHMARK(BM_ApplyFloor)->UseRealTime()->Unit(benchmark::kMillisecond);

// Counts the lines that say a camera is done and ok, and notes when the last wanted one came.
class DoneLines : public std::streambuf
{
public:
    explicit DoneLines(int wanted)
        : wanted_(wanted)
    {
    }
    std::chrono::steady_clock::time_point lastAt() const
    {
        std::lock_guard lock(mutex_);
        return last_;
    }
    int count() const
    {
        std::lock_guard lock(mutex_);
        return ok_;
    }

protected:
    int overflow(int c) override
    {
        std::lock_guard lock(mutex_);
        if (c == '\n') {
            if (line_.find(": ok") != std::string::npos && ++ok_ == wanted_) {
                last_ = std::chrono::steady_clock::now();
            }
            line_.clear();
        } else if (c != traits_type::eof()) {
            line_ += static_cast<char>(c);
        }
        return c;
    }

private:
    mutable std::mutex mutex_;
    const int wanted_;
    int ok_ = 0;
    std::string line_;
    std::chrono::steady_clock::time_point last_{};
};

constexpr int kGood = 4;

// Arg 0: the good cameras alone; n: beside two with the fault kCameraFaults[n - 1].
void BM_ProvisionBesideMisbehaving(benchmark::State& state)
{
    const auto which = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> addresses;
    for (int n = 0; n < kGood + (which ? 2 : 0); ++n) {
        addresses.push_back("127.0.50." + std::to_string(10 + n));
    }
    auto cameras = bench::startSlowCameras(
        static_cast<int>(addresses.size()), [&](int n) { return addresses[static_cast<std::size_t>(n)]; },
        std::chrono::milliseconds(0),
        [](int n, camsim::CameraOptions& options) { options.deviceId = "CAM-" + std::to_string(n + 1); });
    if (which) {
        state.SetLabel(test::kCameraFaults[which - 1].name);
        test::misbehave(*cameras[kGood], test::kCameraFaults[which - 1].fault);
        test::misbehave(*cameras[kGood + 1], test::kCameraFaults[which - 1].fault);
    }
    // A folder of this run's own, for the station's files as well (never the user's).
    static const std::filesystem::path folder = [] {
        const std::filesystem::path f =
            std::filesystem::temp_directory_path() / ("orv-cli-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(f / "data");
        ::setenv("XDG_DATA_HOME", (f / "data").c_str(), 1);
        return f;
    }();
    std::ofstream(folder / "setup.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n"
                                           "    <wifi ssid=\"Unit Wifi\" password=\"wifi-secret\"/>\n</root>\n";
    std::vector<std::string> args{"--poll-ms", "100"};
    for (const std::string& a : addresses) {
        args.insert(args.end(), {"--address", a});
    }
    const std::string ledger = (folder / ("ledger-" + std::to_string(which) + ".db")).string();
    args.insert(args.end(), {"--ledger", ledger, "provision", (folder / "setup.xml").string(),
                             "--all", "--inventory", (folder / "inv.csv").string(), "--count",
                             std::to_string(addresses.size())});
    for (auto _ : state) {
        DoneLines lines(kGood);
        std::ostream out(&lines);
        std::ostringstream err;
        std::istringstream in;
        cli::CliContext context(in, out, err);
        const auto start = std::chrono::steady_clock::now();
        const int code = cli::runOrvctl(args, context);
        if (lines.count() < kGood || (code != 0 && code != 4)) {
            state.SkipWithError(("the good cameras were not all done: " + err.str()).c_str());
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(lines.lastAt() - start).count());
    }
}
BENCHMARK(BM_ProvisionBesideMisbehaving)
    ->DenseRange(0, static_cast<int>(test::kCameraFaults.size()))
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({
        {"apply / loopback floor of the same requests and replies", "BM_Apply/real_time", "BM_ApplyFloor/real_time"},
        {"four good cameras beside two of another command's size / alone",
         "BM_ProvisionBesideMisbehaving/1/iterations:3/manual_time", "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
        {"... beside two cut short, then silent / alone", "BM_ProvisionBesideMisbehaving/2/iterations:3/manual_time",
         "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
        {"... beside two trickling a byte a second / alone", "BM_ProvisionBesideMisbehaving/3/iterations:3/manual_time",
         "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
        {"... beside two closing mid-reply / alone", "BM_ProvisionBesideMisbehaving/4/iterations:3/manual_time",
         "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
        {"... beside two streaming without end / alone", "BM_ProvisionBesideMisbehaving/5/iterations:3/manual_time",
         "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
        {"... beside two reset after the login / alone", "BM_ProvisionBesideMisbehaving/6/iterations:3/manual_time",
         "BM_ProvisionBesideMisbehaving/0/iterations:3/manual_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
