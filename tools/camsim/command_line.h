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

// The program's arguments as UTF-8, without the program name. On Windows the narrow `argv` is in
// the ANSI code page (GBK on a Chinese Windows), so the wide command line is read instead: a
// --state file with Chinese characters in its name is then the file the operator named.
std::vector<std::string> programArguments(int argc, char** argv);

#ifdef _WIN32
// A command line split as Windows splits it, each argument as UTF-8, without the program name.
std::vector<std::string> argumentsOfCommandLine(const wchar_t* commandLine);
#endif

std::string usageText();
// What --version prints: the program version and a line end.
std::string versionText();

} // namespace orv::camsim
