// The computer, the account and the user's data folder on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <lmcons.h>
#include <shlobj.h>

#include "ledger/ledger.h"

#include <cstdlib>
#include <vector>

namespace orv::ledger {
namespace {

std::string utf8(const wchar_t* text, std::size_t length)
{
    if (length == 0) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    }
    return out;
}

} // namespace

std::string stationName()
{
    DWORD size = 0;
    GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
    std::vector<wchar_t> name(size + 1u);
    if (size == 0 || !GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
        return "unknown";
    }
    return utf8(name.data(), size);
}

std::string operatorName()
{
    wchar_t name[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(name, &size) || size < 2) {
        const char* user = std::getenv("USERNAME");
        return user && *user ? user : "unknown";
    }
    return utf8(name, size - 1); // size counts the terminating NUL
}

std::filesystem::path defaultLedgerFile()
{
    std::filesystem::path folder;
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known) {
        folder = std::filesystem::path(known);
    } else if (const wchar_t* env = _wgetenv(L"LOCALAPPDATA"); env && *env) {
        folder = std::filesystem::path(env);
    }
    CoTaskMemFree(known);
    return folder / L"OrvCamera" / L"orv_ledger.db";
}

} // namespace orv::ledger
