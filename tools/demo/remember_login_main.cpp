// Prepares a program folder so that the console opens ready to log in: remembers a login (with
// "Hold") and a language in its orv_setup.ini, through the settings object the console uses.
//   orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE]

#include "lang/utf.h"
#include "persist/settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

// The arguments as UTF-8, the program name first. On Windows the narrow ones are in the ANSI code
// page: a folder or a password with Chinese characters would arrive as GBK bytes on a Chinese
// Windows, so the wide command line is read instead.
std::vector<std::string> utf8Arguments(int argc, char* argv[])
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && i < count; ++i) {
        const std::wstring_view w(wide[i]);
        args.push_back(orv::utf::toUtf8(std::u16string(w.begin(), w.end())));
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv, argv + argc);
#endif
}

std::filesystem::path pathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace

int main(int argc, char* argv[])
{
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    argc = static_cast<int>(args.size());
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE 0..2]\n");
        return 2;
    }
    const std::filesystem::path folder = pathFromUtf8(args[1]);
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "orv-remember-login: %s is not a folder\n", args[1].c_str());
        return 1;
    }
    orv::CSettings& settings = orv::CSettings::GetInstance();
    settings.Init(folder);
    settings.LoadUser();
    settings.RememberLogin(true, orv::utf::toUtf16(args[2]), orv::utf::toUtf16(args[3]), orv::utf::toUtf16(args[4]));
    if (argc == 6) {
        const std::string language = args[5];
        if (language != "0" && language != "1" && language != "2") {
            std::fprintf(stderr, "orv-remember-login: LANGUAGE is 0, 1 or 2\n");
            return 2;
        }
        settings.SaveLanguage(std::atoi(language.c_str()));
    }

    // Read back: the console will find exactly this.
    orv::CSettings check;
    check.Init(folder);
    check.LoadUser();
    if (!check.login || check.login->hold() != 1 || check.login->ip() != orv::utf::toUtf16(args[2])) {
        const std::u8string where = check.setupPath.u8string();
        std::fprintf(stderr, "orv-remember-login: cannot write %s\n", std::string(where.begin(), where.end()).c_str());
        return 1;
    }
    return 0;
}
