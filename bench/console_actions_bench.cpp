// The console's login (with its post-login synchronisation) and a Get of all six settings groups,
// run through the real dialog against the simulated camera on loopback, each beside the floor: a
// plain loopback TCP pair making the same round trips with the same byte counts.
//   build/bin/console_actions_bench

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/ip_address_edit.h"
#include "link/camera_link.h"
#include "link/commands.h"
#include "link/records.h"
#include "persist/settings.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/bench_camera.h"
#include "bench/loopback_floor.h"
#include "bench/ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace orv;

namespace {

constexpr const char* kCameraAddress = "127.0.99.5";
constexpr std::uint32_t kFloorAddress = 0x7F006306; // 127.0.99.6

using Trip = bench::FloorStep;

// Login: account table, FunctionRecord, TimeRecord.
const std::vector<Trip> kLoginTrips{{12, 12 + UserTable::kSize}, {18, 12 + FunctionRecord::kSize}, {12, 12 + 84}};
// All six Gets: Function + Ttx for the platform, 4G, Wifi, Device, Time, Proxy.
const std::vector<Trip> kGroupTrips{{18, 12 + FunctionRecord::kSize}, {18, 12 + TtxServerRecord::kSize},
                                    {18, 12 + Net4gRecord::kSize},    {18, 12 + WifiRecord::kSize},
                                    {18, 12 + DeviceRecord::kSize},   {12, 12 + TimeRecord::kSize},
                                    {12, 12 + ProxyRecord::kSize}};

camsim::SimulatedCamera& camera()
{
    static camsim::SimulatedCamera& cam = bench::startBenchCamera(kCameraAddress, false);
    return cam;
}

// A console with its settings in a temporary folder, aimed at the simulated camera.
struct Console
{
    QTemporaryDir folder;
    std::unique_ptr<COrvCameraDlg> dialog;

    Console()
    {
        camera();
        CSettings::ResetForTests();
        CSettings::GetInstance().Init(folder.path().toStdU16String());
        CSettings::GetInstance().LoadUser();
        CSettings::GetInstance().LoadTexts();
        dialog = std::make_unique<COrvCameraDlg>();
        dialog->Create();
        dialog->dlgItem<IpAddressEdit>(idc::kCameraIp)->setAddress(parseAddressText(u"127.0.99.5"));
    }

    // Lets the posted log lines reach the log box, then empties it so it does not grow.
    void drainLog()
    {
        QCoreApplication::sendPostedEvents(dialog.get(), kAppendLogEvent);
        dialog->OnClearLog();
    }
};

void BM_ConsoleLogin(benchmark::State& state)
{
    Console console;
    for (auto _ : state) {
        console.dialog->OnLogin();
        console.drainLog();
        if (!console.dialog->link || console.dialog->link->loggedIn != 1) {
            state.SkipWithError("login failed");
            break;
        }
    }
}
BENCHMARK(BM_ConsoleLogin)->UseRealTime();

void BM_LoginFloor(benchmark::State& state)
{
    const bench::LoopbackFloor floor(kFloorAddress, kLoginTrips);
    for (auto _ : state) {
        bench::FloorClient client(floor);
        if (!client.replay()) {
            state.SkipWithError("floor pair broke");
            break;
        }
    }
}
BENCHMARK(BM_LoginFloor)->UseRealTime();

void BM_ConsoleGetAllGroups(benchmark::State& state)
{
    Console console;
    console.dialog->OnLogin();
    console.drainLog();
    COrvCameraDlg& d = *console.dialog;
    for (auto _ : state) {
        d.OnPlatformGet();
        d.On4GGet();
        d.OnWifiGet();
        d.OnDeviceInfoGet();
        d.OnTimeGet();
        d.OnProxyGet();
        console.drainLog();
    }
}
BENCHMARK(BM_ConsoleGetAllGroups)->UseRealTime();

// The same seven exchanges made straight on the link, without the dialog: splits the gap to the
// floor between the console and the link with the simulated camera.
void BM_LinkGetAllGroups(benchmark::State& state)
{
    Console console;
    console.dialog->OnLogin();
    console.drainLog();
    CameraLink& link = *console.dialog->link;
    for (auto _ : state) {
        FunctionRecord function;
        TtxServerRecord server;
        Net4gRecord net4g;
        WifiRecord wifi;
        DeviceRecord device;
        TimeRecord time;
        ProxyRecord proxy;
        if (GetConfig(link, function) != 0 || GetConfig(link, server) != 0 || GetConfig(link, net4g) != 0 ||
            GetConfig(link, wifi) != 0 || GetConfig(link, device) != 0 || GetTime(link, time) != 0 ||
            GetProxy(link, proxy) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_LinkGetAllGroups)->UseRealTime();

void BM_GetAllGroupsFloor(benchmark::State& state)
{
    const bench::LoopbackFloor floor(kFloorAddress, kGroupTrips);
    bench::FloorClient client(floor);
    for (auto _ : state) {
        if (!client.replay()) {
            state.SkipWithError("floor pair broke");
            break;
        }
    }
}
BENCHMARK(BM_GetAllGroupsFloor)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    StartSockets();
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({
        {"login with synchronisation / loopback floor (target <= 1.5x)", "BM_ConsoleLogin/real_time",
         "BM_LoginFloor/real_time"},
        {"Get of all six groups / loopback floor (target <= 1.5x)", "BM_ConsoleGetAllGroups/real_time",
         "BM_GetAllGroupsFloor/real_time"},
        {"the same exchanges on the bare link / loopback floor", "BM_LinkGetAllGroups/real_time",
         "BM_GetAllGroupsFloor/real_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
