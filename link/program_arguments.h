#pragma once
// A program's command-line arguments as UTF-8, whatever the system's code page.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The arguments without the program name. On Windows the narrow `argv` is in the ANSI code page
// (GBK on a Chinese Windows), which cannot hold every name a user may type: the wide command line
// is read instead, and the console's output is set to UTF-8 to match.
std::vector<std::string> programArguments(int argc, char** argv);

// The file or folder a UTF-8 name (an argument as programArguments gives it) means, on Windows too.
std::filesystem::path pathFromUtf8(std::string_view utf8);

#ifdef _WIN32
// A command line split as Windows splits it, each argument as UTF-8, without the program name.
std::vector<std::string> argumentsOfCommandLine(const wchar_t* commandLine);
#endif

} // namespace orv
