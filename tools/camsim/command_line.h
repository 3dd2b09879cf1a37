#pragma once
// The command line of orv-camsim.

#include "tools/camsim/simulated_camera.h"

#include <string>
#include <vector>

namespace orv::camsim {

struct CommandLine
{
    enum class Action { Run, Help, Error };
    Action action = Action::Run;
    CameraOptions options;
    std::string error; // for Action::Error
};

// `args` without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

} // namespace orv::camsim
