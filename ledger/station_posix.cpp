// The computer, the account and the user's data folder on POSIX systems.
#include "ledger/ledger.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace orv::ledger {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The account's passwd entry field, or empty.
std::string passwdField(bool home)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384u);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return {};
    }
    const char* field = home ? found->pw_dir : found->pw_name;
    return field ? field : "";
}

} // namespace

std::string stationName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "unknown";
    }
    return name[0] ? name : "unknown";
}

std::string operatorName()
{
    std::string name = passwdField(false);
    if (name.empty()) {
        name = environment("USER");
    }
    return name.empty() ? "uid " + std::to_string(::geteuid()) : name;
}

std::filesystem::path defaultLedgerFile()
{
    namespace fs = std::filesystem;
    fs::path folder;
    const std::string xdg = environment("XDG_DATA_HOME");
    if (!xdg.empty() && fs::path(xdg).is_absolute()) {
        folder = fs::path(xdg);
    } else {
        std::string home = environment("HOME");
        if (home.empty()) {
            home = passwdField(true);
        }
        folder = fs::path(home) / ".local" / "share";
    }
    return folder / "OrvCamera" / "orv_ledger.db";
}

} // namespace orv::ledger
