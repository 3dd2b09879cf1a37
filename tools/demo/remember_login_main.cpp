// Prepares a program folder so that the console opens ready to log in: remembers a login (with
// "Hold") and a language in its orv_setup.ini, through the settings object the console uses.
//   orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE]

#include "lang/utf.h"
#include "persist/settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: orv-remember-login FOLDER ADDRESS USER PASSWORD [LANGUAGE 0..2]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "orv-remember-login: %s is not a folder\n", argv[1]);
        return 1;
    }
    orv::CSettings& settings = orv::CSettings::GetInstance();
    settings.Init(folder);
    settings.LoadUser();
    settings.RememberLogin(true, orv::utf::toUtf16(argv[2]), orv::utf::toUtf16(argv[3]), orv::utf::toUtf16(argv[4]));
    if (argc == 6) {
        const std::string language = argv[5];
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
    if (!check.login || check.login->hold() != 1 || check.login->ip() != orv::utf::toUtf16(argv[2])) {
        std::fprintf(stderr, "orv-remember-login: cannot write %s\n", check.setupPath.string().c_str());
        return 1;
    }
    return 0;
}
