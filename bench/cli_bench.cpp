// `orvctl apply` against the simulated camera on loopback, beside the floor: a plain loopback TCP
// pair that replays the very requests and replies of one apply (same sizes, same order, replies
// only where the camera answers).
//   build/bin/cli_bench
#include "link/commands.h"
#include "persist/setup_document.h"
#include "provision/camera_session.h"
#include "provision/setup_apply.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/bench_camera.h"
#include "bench/loopback_floor.h"
#include "bench/ratio_reporter.h"
#include "bench/unit_setup.h"

#include <benchmark/benchmark.h>

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

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({
        {"apply / loopback floor of the same requests and replies", "BM_Apply/real_time", "BM_ApplyFloor/real_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
