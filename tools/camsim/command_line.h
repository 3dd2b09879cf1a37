#pragma once
// The command line of orv-camsim.

#include "tools/camsim/simulated_camera.h"

#include <chrono>
#include <string>
#include <vector>

namespace orv::camsim {

struct CommandLine
{
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    CameraOptions options;
    std::chrono::milliseconds replyDelay{0}; // --reply-delay-ms: how long every reply waits
    std::string error;                       // for Action::Error
};

// `args` without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();
// What --version prints: the program version and a line end.
std::string versionText();

} // namespace orv::camsim
