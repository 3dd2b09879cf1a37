#pragma once
// The simulated camera a benchmark program measures against: started once on a loopback address
// and kept until the program ends (never stopped or deleted, so that nothing of it runs during the
// program's exit); the program ends, saying why, when it cannot start.

#include "tools/camsim/simulated_camera.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace orv::bench {

// keepFrames: whether the camera keeps every frame it received (tests read them; a long run only
// grows with them).
inline camsim::SimulatedCamera& startBenchCamera(const std::string& address, bool keepFrames)
{
    camsim::CameraOptions options;
    options.listenAddress = address;
    options.keepFrames = keepFrames;
    options.log = [](const std::string&) {};
    auto* camera = new camsim::SimulatedCamera(options);
    std::string error;
    if (!camera->start(&error)) {
        std::fprintf(stderr, "cannot start the simulated camera: %s\n", error.c_str());
        std::exit(1);
    }
    return *camera;
}

} // namespace orv::bench
