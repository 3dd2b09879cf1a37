// The watch and the runner sharing cameras that serve one connection at a time: a camera handed
// to the runner while the watch is still identifying it is written only once the watch has let
// go, so no camera ever holds two connections; cameras that go are told gone, a new account
// identifies them again, and a camera found again is reached through what was found last.
#include "provision/camera_watch.h"
#include "provision/fleet_runner.h"
#include "tests/support/camera_on_loopback.h"
#include "tests/support/silent_address.h"

#include <gmock/gmock.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace orv::test {
namespace {

using namespace std::chrono_literals;
using provision::CameraResult;
using provision::WatchEvent;
using provision::WatchEventKind;

provision::GroupPlan wifiPlan()
{
    std::string error;
    const auto a = provision::parseAssignment(provision::Group::Wifi, "ssid=Dock Wifi", error);
    return {provision::Group::Wifi, {*a}};
}

// What the watch said, collected for the test's thread.
class Heard
{
public:
    void operator()(const WatchEvent& e)
    {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(e);
        }
        changed_.notify_all();
    }

    // Waits until `pred` holds for the events so far; false after `timeout`.
    bool waitFor(const std::function<bool(const std::vector<WatchEvent>&)>& pred,
                 std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return pred(events_); });
    }

    static std::size_t count(const std::vector<WatchEvent>& events, WatchEventKind kind, const std::string& label)
    {
        return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const WatchEvent& e) {
            return e.kind == kind && e.candidate.label() == label;
        }));
    }

    std::vector<WatchEvent> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<WatchEvent> events_;
};

class CameraWatchTest : public ::testing::Test
{
protected:
    void startCameras(int count, bool oneConnection)
    {
        for (int i = 0; i < count; ++i) {
            camsim::CameraOptions options;
            options.sdkPort = 0;
            options.oneConnection = oneConnection;
            LoopbackCamera camera = startCameraOnLoopback(options);
            ASSERT_TRUE(camera);
            addresses.push_back(camera.address);
            cameras.push_back(std::move(camera));
        }
    }

    provision::WatchSettings watchSettings() const
    {
        provision::WatchSettings s;
        s.plan.cameraAddresses = addresses;
        s.scan.user = u"admin";
        s.scan.password = u"wrenq";
        s.scan.replyTimeout = 2000ms;
        s.poll = 20ms;
        return s;
    }

    std::vector<LoopbackCamera> cameras;
    std::vector<std::string> addresses;
};

TEST_F(CameraWatchTest, ACameraHandedOverWhileBeingIdentifiedNeverHoldsTwoConnections)
{
    startCameras(8, true);
    for (auto& camera : cameras) {
        camera->setReplyDelay(3ms); // the identification takes a while: a hand-over lands inside it
    }
    auto registry = std::make_shared<provision::CameraRegistry>();
    provision::FleetRunner runner(8, registry);
    provision::FleetSettings settings;
    settings.user = u"admin";
    settings.password = u"wrenq";
    settings.plan = {wifiPlan()};
    settings.timeout = 2000ms;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto run = std::make_shared<provision::FleetRun>(settings, nullptr, nullptr);
        // Apply pressed as each camera is found, before the watch has identified it.
        provision::CameraWatch watch(watchSettings(), registry, [&](const WatchEvent& e) {
            if (e.kind == WatchEventKind::Found) {
                ASSERT_TRUE(runner.add(run, e.candidate));
            }
        });
        ASSERT_TRUE(watch.start());
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (run->added() < cameras.size() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(run->added(), cameras.size());
        run->wait();
        // The watch goes on looking at the cameras the runner hands back while the next round starts.
        for (const auto& outcome : run->outcomes()) {
            EXPECT_EQ(outcome.result, CameraResult::Verified) << outcome.candidate.label() << ": " << outcome.message;
        }
    }
    for (const auto& camera : cameras) {
        EXPECT_EQ(camera->mostConnectionsHeld(), 1) << camera.address;
        EXPECT_EQ(camera->config<WifiRecord>().text(WifiRecord::ssid), u"Dock Wifi");
    }
}

TEST_F(CameraWatchTest, CamerasAreToldFoundIdentifiedGoneAndIdentifiedAgainWithANewAccount)
{
    startCameras(2, false);
    DeviceRecord device = cameras[1]->config<DeviceRecord>();
    device.setText(DeviceRecord::deviceId, u"CAM-TWO");
    cameras[1]->setConfig(device);
    Heard heard;
    provision::CameraWatch watch(watchSettings(), nullptr, std::ref(heard));
    ASSERT_TRUE(watch.start());
    const std::string one = addresses[0], two = addresses[1];
    ASSERT_TRUE(heard.waitFor([&](const auto& events) {
        return Heard::count(events, WatchEventKind::Identified, one) == 1 &&
               Heard::count(events, WatchEventKind::Identified, two) == 1;
    }));
    for (const WatchEvent& e : heard.events()) {
        if (e.kind == WatchEventKind::Identified && e.candidate.label() == two) {
            EXPECT_EQ(e.camera.deviceId, u"CAM-TWO");
            EXPECT_TRUE(e.camera.clockOffset.has_value());
        }
    }
    EXPECT_EQ(watch.registry()->othersWithDeviceId("elsewhere", u"CAM-TWO"), std::vector<std::string>{two});

    cameras[1]->stop();
    ASSERT_TRUE(
        heard.waitFor([&](const auto& events) { return Heard::count(events, WatchEventKind::Gone, two) == 1; }));
    EXPECT_TRUE(watch.registry()->othersWithDeviceId("elsewhere", u"CAM-TWO").empty()) << "a camera gone has no twin";

    // A wrong account: the camera present is read again and said not to be identified; one that
    // goes meanwhile is told gone, not left standing.
    watch.setLogin(u"admin", u"not-the-password");
    ASSERT_TRUE(heard.waitFor([&](const auto& events) {
        return std::any_of(events.begin(), events.end(), [&](const WatchEvent& e) {
            return e.kind == WatchEventKind::Identified && e.candidate.label() == one && !e.camera.identified();
        });
    }));
    cameras[0]->stop();
    watch.setLogin(u"admin", u"wrenq");
    ASSERT_TRUE(
        heard.waitFor([&](const auto& events) { return Heard::count(events, WatchEventKind::Gone, one) == 1; }));
    ASSERT_TRUE(cameras[0]->start());
    ASSERT_TRUE(heard.waitFor([&](const auto& events) {
        return std::any_of(events.begin(), events.end(), [&](const WatchEvent& e) {
            return e.kind == WatchEventKind::Identified && e.candidate.label() == one && e.camera.identified();
        });
    }));
    EXPECT_EQ(Heard::count(heard.events(), WatchEventKind::Problem, one), 0u);
}

#ifndef _WIN32
TEST_F(CameraWatchTest, SilentCandidatesAreNeverFoundAndHoldUpNoCamera)
{
    // Four cameras and four addresses that drop every connect (a camera still booting, an
    // adapter whose camera is gone); the look that finds the cameras is not held up four times.
    startCameras(4, false);
    std::vector<std::unique_ptr<SilentAddress>> silent;
    for (int i = 0; i < 4; ++i) {
        const std::string address = "127.0.84." + std::to_string(10 + i);
        silent.push_back(std::make_unique<SilentAddress>(address, kCameraPort));
        if (!silent.back()->ok()) {
            GTEST_SKIP() << silent.back()->error();
        }
        addresses.push_back(address);
    }
    Heard heard;
    provision::WatchSettings s = watchSettings();
    s.scan.connectTimeout = 300ms;
    provision::CameraWatch watch(s, nullptr, std::ref(heard));
    ASSERT_TRUE(watch.start());
    ASSERT_TRUE(heard.waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(),
                           [](const WatchEvent& e) { return e.kind == WatchEventKind::Looked; });
    }));
    const auto events = heard.events();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const bool camera = i < 4;
        EXPECT_EQ(Heard::count(events, WatchEventKind::Identified, addresses[i]), camera ? 1u : 0u) << addresses[i];
        EXPECT_EQ(Heard::count(events, WatchEventKind::Found, addresses[i]), camera ? 1u : 0u) << addresses[i];
    }
}
#endif

// A camera that takes the connection and then never answers costs a look its whole reply time.
// Asked again at every look it would make every look that long: a camera plugged in beside it,
// or one handed back, would wait as long to be seen. It is asked again after a growing wait and
// only connected to in between, so the looks between stay short.
TEST_F(CameraWatchTest, ACameraThatNeverIdentifiesDoesNotSlowEveryLook)
{
    startCameras(2, false);
    cameras[1]->stayQuiet(true);
    Heard heard;
    provision::WatchSettings s = watchSettings();
    s.scan.replyTimeout = 400ms;
    provision::CameraWatch watch(s, nullptr, std::ref(heard));
    ASSERT_TRUE(watch.start());
    std::this_thread::sleep_for(3s);
    watch.stop();
    const auto events = heard.events();
    const auto looks = std::count_if(events.begin(), events.end(),
                                     [](const WatchEvent& e) { return e.kind == WatchEventKind::Looked; });
    // Each look that asks the quiet camera lasts 400 ms: at most 7 in 3 s. Looks that only
    // connect to it last a poll and a connect.
    EXPECT_GE(looks, 20) << "every look waited for the camera that never answers";
    EXPECT_EQ(Heard::count(events, WatchEventKind::Identified, addresses[0]), 1u);
    EXPECT_EQ(Heard::count(events, WatchEventKind::Gone, addresses[1]), 0u) << "it is still there";
}

#ifdef __linux__
TEST_F(CameraWatchTest, ACameraFoundAgainIsReachedThroughWhatWasFoundLast)
{
    // Behind the loopback interface, as a camera behind its adapter; the adapter comes back with
    // another index, as Windows gives one to an adapter plugged in again.
    camsim::CameraOptions options;
    options.sdkPort = 0;
    options.listenAddress = "127.0.0.158";
    options.log = [](const std::string&) {};
    camsim::SimulatedCamera camera(options);
    if (!camera.start()) {
        GTEST_SKIP() << "127.0.0.158 is taken";
    }
    std::atomic<unsigned> index{1};
    provision::WatchSettings s = watchSettings();
    s.plan.cameraAddresses.clear();
    s.plan.cameraAddress = "127.0.0.158";
    s.plan.interfaceNames = {"lo"};
    s.interfaces = [&] {
        fleet::NetworkInterface lo;
        lo.name = "lo";
        lo.index = index;
        lo.up = true;
        lo.ipv4 = {0x7F000001};
        return std::vector<fleet::NetworkInterface>{lo};
    };
    Heard heard;
    provision::CameraWatch watch(s, nullptr, std::ref(heard));
    ASSERT_TRUE(watch.start());
    ASSERT_TRUE(heard.waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(), [](const WatchEvent& e) {
            return e.kind == WatchEventKind::Identified && e.camera.identified() && e.candidate.via.index == 1;
        });
    }));
    camera.stop();
    ASSERT_TRUE(heard.waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(),
                           [](const WatchEvent& e) { return e.kind == WatchEventKind::Gone; });
    }));
    index = 7;
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(heard.waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(), [](const WatchEvent& e) {
            return e.kind == WatchEventKind::Identified && e.camera.identified() && e.candidate.via.index == 7 &&
                   e.camera.candidate.via.index == 7;
        });
    }));
}
#endif

} // namespace
} // namespace orv::test
