// Many cameras at once against simulated cameras that answer as a real one does (20 ms before
// every reply), each on a loopback address of its own: provisioning eight at once beside one
// alone (target: at most 1.3x), and a scan of eight candidates of which four are absent (target:
// within 1 s; an absent loopback address refuses at once, so this measures the parallel part).
//   build/bin/fleet_bench
#include "persist/setup_document.h"
#include "provision/camera_scan.h"
#include "provision/fleet_runner.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/ratio_reporter.h"
#include "bench/unit_setup.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace orv;
using orv::bench::unitPlan;

namespace {

constexpr int kCameras = 8;
constexpr std::chrono::milliseconds kReplyDelay{20};

std::string addressOf(int camera)
{
    return "127.0.51." + std::to_string(10 + camera);
}

// Cameras 0..7 answer; 8..11 are addresses nobody listens at.
const std::vector<std::unique_ptr<camsim::SimulatedCamera>>& cameras()
{
    static const auto all = [] {
        std::vector<std::unique_ptr<camsim::SimulatedCamera>> list;
        for (int i = 0; i < kCameras; ++i) {
            camsim::CameraOptions options;
            options.listenAddress = addressOf(i);
            options.sdkPort = 0;
            options.log = [](const std::string&) {};
            options.keepFrames = false;
            auto camera = std::make_unique<camsim::SimulatedCamera>(options);
            std::string error;
            if (!camera->start(&error)) {
                std::fprintf(stderr, "cannot start the simulated camera: %s\n", error.c_str());
                std::exit(1);
            }
            camera->setReplyDelay(kReplyDelay);
            list.push_back(std::move(camera));
        }
        return list;
    }();
    return all;
}

fleet::Candidate candidate(int camera)
{
    fleet::Candidate c;
    c.address = addressOf(camera);
    return c;
}

void BM_Provision(benchmark::State& state)
{
    cameras();
    const int count = static_cast<int>(state.range(0));
    provision::FleetSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    settings.plan = unitPlan();
    for (auto _ : state) {
        provision::FleetRunner runner(settings, nullptr, {});
        for (int i = 0; i < count; ++i) {
            runner.add(candidate(i));
        }
        runner.wait();
        for (const auto& outcome : runner.outcomes()) {
            if (outcome.result != provision::CameraResult::Verified) {
                state.SkipWithError(("not verified: " + outcome.message).c_str());
            }
        }
    }
    state.counters["cameras"] = count;
}
BENCHMARK(BM_Provision)->Arg(1)->Arg(kCameras)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ScanEightFourAbsent(benchmark::State& state)
{
    cameras();
    std::vector<fleet::Candidate> candidates;
    for (int i = 0; i < 4; ++i) {
        candidates.push_back(candidate(i));
        candidates.push_back(candidate(kCameras + i));
    }
    provision::ScanSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    for (auto _ : state) {
        int found = 0;
        for (const auto& s : provision::scanCameras(candidates, settings)) {
            found += s.deviceId.empty() ? 0 : 1;
        }
        if (found != 4) {
            state.SkipWithError("not four cameras found");
        }
    }
}
BENCHMARK(BM_ScanEightFourAbsent)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({
        {"eight cameras at once / one camera (target <= 1.3)", "BM_Provision/8/real_time", "BM_Provision/1/real_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
