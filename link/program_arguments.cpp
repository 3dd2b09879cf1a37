#include "link/program_arguments.h"

#include "link/utf.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>
#endif

#include <string_view>

namespace orv {

#ifdef _WIN32
std::vector<std::string> argumentsOfCommandLine(const wchar_t* commandLine)
{
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(commandLine, &count);
    for (int i = 1; wide && i < count; ++i) {
        const std::wstring_view w(wide[i]);
        args.push_back(utf::toUtf8(std::u16string(w.begin(), w.end())));
    }
    LocalFree(wide);
    return args;
}
#endif

std::filesystem::path pathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::vector<std::string> programArguments(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    SetConsoleOutputCP(CP_UTF8);
    return argumentsOfCommandLine(GetCommandLineW());
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace orv
