#include "persist/settings.h"

#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/private_folder.h"

#include <string>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace orv {
namespace {

std::unique_ptr<CSettings>& instanceSlot()
{
    static std::unique_ptr<CSettings> instance;
    return instance;
}

// The user's settings file in `userFolder`, started from the program folder's `shipped` file when
// the user has none yet; empty when the user's folder cannot hold one.
fs::path userSetupFile(const fs::path& userFolder, const fs::path& shipped)
{
    // The file holds the remembered password: the folder and what is written there are the
    // user's alone (private_folder.h).
    if (!usePrivateFolder(userFolder)) {
        return {};
    }
    std::error_code ec;
    const fs::path own = userFolder / kSetupFileName;
    if (fs::exists(own, ec) || ec) {
        // Present or unknown: never overwrite what may be the user's remembered login. One that
        // an older version left readable to others is the user's alone from now on.
        restrictToOwner(own);
        return own;
    }
    const FileContents defaults = readWholeFile(shipped);
    if (defaults.outcome == ReadOutcome::Read && !replaceFileContents(own, defaults.bytes)) {
        return {};
    }
    return own;
}

} // namespace

bool folderIsWritable(const fs::path& folder)
{
    const fs::path probe = (folder.empty() ? fs::path(".") : folder) / ".orv_write_probe";
    if (!replaceFileContents(probe, {})) {
        return false;
    }
    std::error_code ec;
    fs::remove(probe, ec);
    return true;
}

fs::path executableFolder()
{
#ifdef _WIN32
    // No MAX_PATH limit: a cut path would put the files in the wrong folder.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return fs::path(buffer).parent_path();
#else
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
#endif
}

CSettings& CSettings::GetInstance()
{
    auto& slot = instanceSlot();
    if (!slot) {
        slot = std::make_unique<CSettings>();
    }
    return *slot;
}

void CSettings::ResetForTests()
{
    instanceSlot() = std::make_unique<CSettings>();
}

void CSettings::Init()
{
    Init(executableFolder());
}

void CSettings::Init(const fs::path& programFolder)
{
    Init(programFolder, fs::path());
}

void CSettings::Init(const fs::path& programFolder, const fs::path& userFolder)
{
    if (!login) {
        login = std::make_unique<LoginRecord>();
    }
    if (!texts) {
        texts = std::make_unique<LanguageTexts>();
    }
    if (!language) {
        language = std::make_unique<std::uint8_t>(0);
    }
    if (!platform) {
        platform = std::make_unique<std::uint8_t>(0);
    }
    if (setupPath.empty()) {
        setupPath = programFolder / kSetupFileName;
        if (!userFolder.empty() && !folderIsWritable(programFolder)) {
            fs::path own = userSetupFile(userFolder, setupPath);
            if (!own.empty()) {
                setupPath = std::move(own);
                perUser = true;
            }
        }
    }
    if (languagePath.empty()) {
        languagePath = programFolder / kLanguageFileName;
    }
    initialised = 1;
}

void CSettings::LoadUser()
{
    if (!initialised) {
        return;
    }
    const IniFile file = IniFile::load(setupPath);
    if (login && !file.readStruct(kUserSection, kUserKey, login->bytes)) {
        login->setDefaults();
        IniFile::writeStruct(setupPath, kUserSection, kUserKey, login->bytes);
    }
    if (platform) {
        *platform = static_cast<std::uint8_t>(file.readInt(kPlatformSection, kPlatformKey, 0));
    }
}

void CSettings::SaveLanguage(int index)
{
    if (initialised) {
        IniFile::writeInt(setupPath, kLanguageSection, kLanguageKey, index);
    }
}

void CSettings::SavePlatform(int index)
{
    if (initialised) {
        IniFile::writeInt(setupPath, kPlatformSection, kPlatformKey, index);
    }
}

void CSettings::RememberLogin(bool hold, std::u16string_view ip, std::u16string_view user, std::u16string_view password)
{
    if (!login) {
        return;
    }
    if (hold) {
        login->setIp(ip);
        login->setUser(user);
        login->setPassword(password);
    }
    login->setPort(LoginRecord::kLoginPort);
    login->setHold(hold ? 1 : 0);
    if (initialised) {
        IniFile::writeStruct(setupPath, kUserSection, kUserKey, login->bytes);
    }
}

void CSettings::LoadTexts()
{
    if (!initialised) {
        return;
    }
    const auto index = static_cast<std::uint8_t>(IniFile::load(setupPath).readInt(kLanguageSection, kLanguageKey, 0));
    if (language) {
        *language = index;
    }
    if (!texts || languageSection(index).empty()) {
        return;
    }
    const IniFile file = IniFile::load(languagePath);
    loadTexts(*texts, index,
              [&file](std::u16string_view section, std::u16string_view key, std::u16string_view defaultText,
                      std::size_t bufferUnits) { return file.readString(section, key, defaultText, bufferUnits); });
}

} // namespace orv
