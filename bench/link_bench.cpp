// The camera link against the simulated camera on loopback, beside the physical floor: a plain
// loopback TCP pair ping-ponging the same byte counts.
//   build/bin/link_bench
#include "link/commands.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/bench_camera.h"
#include "bench/loopback_floor.h"
#include "bench/ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace orv;

namespace {

constexpr const char* kAddress = "127.0.99.1";
constexpr std::uint32_t kFloorAddress = 0x7F006302; // 127.0.99.2

camsim::SimulatedCamera& camera()
{
    static camsim::SimulatedCamera& cam = bench::startBenchCamera(kAddress, true);
    return cam;
}

void BM_GetConfigExchange(benchmark::State& state)
{
    camera();
    StartSockets();
    CameraLink link;
    link.Open();
    link.Connect(kAddress);
    DeviceRecord device;
    for (auto _ : state) {
        if (GetConfig(link, device) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_GetConfigExchange)->UseRealTime();

void BM_GetConfigFloor(benchmark::State& state)
{
    const bench::LoopbackFloor floor(kFloorAddress, {{18, 12 + DeviceRecord::kSize}});
    bench::FloorClient client(floor);
    for (auto _ : state) {
        if (!client.replay()) {
            state.SkipWithError("floor pair broke");
            break;
        }
    }
}
BENCHMARK(BM_GetConfigFloor)->UseRealTime();

void BM_Login(benchmark::State& state)
{
    camera();
    StartSockets();
    CameraLink link;
    for (auto _ : state) {
        if (!link.Open() || !link.Connect(kAddress) || CheckLogin(link, u"admin", u"wrenq") != 1) {
            state.SkipWithError("login failed");
            break;
        }
    }
    link.Close();
}
BENCHMARK(BM_Login)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({{"GetConfig exchange / loopback floor (target <= 1.5x)", "BM_GetConfigExchange/real_time",
                                     "BM_GetConfigFloor/real_time"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
