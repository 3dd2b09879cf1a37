#pragma once
// Simulated cameras that answer as real ones do, after a delay, each on a loopback address of its
// own; started once by a benchmark program, which ends (saying why) when one cannot start.

#include "tools/camsim/simulated_camera.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::bench {

inline std::vector<std::unique_ptr<camsim::SimulatedCamera>> startSlowCameras(
    int count, const std::function<std::string(int)>& addressOf, std::chrono::milliseconds replyDelay,
    const std::function<void(int, camsim::CameraOptions&)>& adjust = {})
{
    std::vector<std::unique_ptr<camsim::SimulatedCamera>> list;
    for (int n = 0; n < count; ++n) {
        camsim::CameraOptions options;
        options.listenAddress = addressOf(n);
        options.sdkPort = 0;
        options.keepFrames = false;
        options.log = [](const std::string&) {};
        if (adjust) {
            adjust(n, options);
        }
        auto camera = std::make_unique<camsim::SimulatedCamera>(options);
        std::string error;
        if (!camera->start(&error)) {
            std::fprintf(stderr, "cannot start the simulated camera at %s: %s\n", options.listenAddress.c_str(),
                         error.c_str());
            std::exit(1);
        }
        camera->setReplyDelay(replyDelay);
        list.push_back(std::move(camera));
    }
    return list;
}

} // namespace orv::bench
