#pragma once
// Where the programs keep the operator's settings file when the program folder cannot be
// written: the console's folder in the user's configuration (XDG on Linux, the roaming
// application data on Windows), so that the console and its companions share one file.

#include <filesystem>

namespace orv {

std::filesystem::path userSettingsFolder();

} // namespace orv
