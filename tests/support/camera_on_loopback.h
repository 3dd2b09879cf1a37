#pragma once
// Starts a simulated camera on port 19436 of a loopback address of the test's own, so that test
// programs can run in parallel. The address is derived from the running test's name; when it is
// taken, the next one is tried.

#include "tools/camsim/simulated_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace orv::test {

inline std::string loopbackAddressFor(std::size_t seed, int attempt)
{
    const std::size_t h = seed + static_cast<std::size_t>(attempt) * 7919;
    return "127." + std::to_string(40 + (h >> 16) % 200) + "." + std::to_string((h >> 8) % 256) + "."
         + std::to_string(1 + h % 254);
}

struct LoopbackCamera
{
    std::unique_ptr<camsim::SimulatedCamera> camera;
    std::string address;

    camsim::SimulatedCamera* operator->() const { return camera.get(); }
    explicit operator bool() const { return camera != nullptr; }
};

inline LoopbackCamera startCameraOnLoopback(camsim::CameraOptions options = {})
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "camera";
    const std::size_t seed = std::hash<std::string>{}(name);
    if (!options.log && std::getenv("ORV_TEST_CAMERA_LOG") == nullptr) {
        options.log = [](const std::string&) {};
    }
    options.verbose = options.verbose || std::getenv("ORV_TEST_CAMERA_LOG") != nullptr;
    std::string error;
    for (int attempt = 0; attempt < 20; ++attempt) {
        options.listenAddress = loopbackAddressFor(seed, attempt);
        auto camera = std::make_unique<camsim::SimulatedCamera>(options);
        if (camera->start(&error)) {
            return {std::move(camera), options.listenAddress};
        }
    }
    ADD_FAILURE() << "no loopback address for the simulated camera: " << error;
    return {};
}

} // namespace orv::test
