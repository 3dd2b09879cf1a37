// Prepares a program folder so that the console opens ready to log in: remembers a login (with
// "Hold") and a language in its orv_setup.ini, through the settings object the console uses.
//   orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE]

#include "lang/utf.h"
#include "link/program_arguments.h"
#include "persist/settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // A folder or a password with Chinese characters arrives whole, on a Chinese Windows too.
    const std::vector<std::string> args = orv::programArguments(argc, argv);
    if (args.size() < 4 || args.size() > 5) {
        std::fprintf(stderr, "usage: orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE 0..2]\n");
        return 2;
    }
    const std::filesystem::path folder = orv::pathFromUtf8(args[0]);
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "orv-remember-login: %s is not a folder\n", args[0].c_str());
        return 1;
    }
    orv::CSettings& settings = orv::CSettings::GetInstance();
    settings.Init(folder);
    settings.LoadUser();
    settings.RememberLogin(true, orv::utf::toUtf16(args[1]), orv::utf::toUtf16(args[2]), orv::utf::toUtf16(args[3]));
    if (args.size() == 5) {
        const std::string language = args[4];
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
    if (!check.login || check.login->hold() != 1 || check.login->ip() != orv::utf::toUtf16(args[1])) {
        const std::u8string where = check.setupPath.u8string();
        std::fprintf(stderr, "orv-remember-login: cannot write %s\n", std::string(where.begin(), where.end()).c_str());
        return 1;
    }
    return 0;
}
