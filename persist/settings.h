#pragma once
// The process-wide settings object: where the settings and language files are, the remembered
// login, the interface texts, the language index and the platform choice.
//
// Created empty by GetInstance; Init allocates the members and builds the paths; every load and
// save is a no-op before that. File problems are silent: a failed write keeps the old file and
// the in-memory state.
//
// The settings file lives beside the program while the program folder can be written (a copied
// or portable folder). An installed program's folder belongs to root: there the file is the
// user's own, in the user's configuration folder, so that nothing the operator chose is lost.

#include "lang/language_texts.h"
#include "persist/login_record.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace orv {

inline constexpr std::string_view kSetupFileName = "orv_setup.ini";
inline constexpr std::string_view kLanguageFileName = "orv_language.ini";

// Sections and keys of the settings file.
inline constexpr std::u16string_view kUserSection = u"User";
inline constexpr std::u16string_view kUserKey = u"UserKey";
inline constexpr std::u16string_view kPlatformSection = u"Proc";
inline constexpr std::u16string_view kPlatformKey = u"Platform";
inline constexpr std::u16string_view kLanguageSection = u"Lang";
inline constexpr std::u16string_view kLanguageKey = u"LangKey";

class CSettings
{
public:
    // A created object: both paths empty, no members, not initialised. Tests make their own;
    // the program uses GetInstance.
    CSettings() = default;
    CSettings(const CSettings&) = delete;
    CSettings& operator=(const CSettings&) = delete;

    // The one object of the process, created on first use; never initialises or loads.
    static CSettings& GetInstance();
    // Test hook: replaces the process-wide object by a fresh, created one. References obtained
    // from GetInstance before the call no longer refer to it.
    static void ResetForTests();

    // Allocates the members that are missing and builds the paths that are empty, beside the
    // running executable.
    void Init();
    // The same with the files in `programFolder` (an empty folder gives the bare file names,
    // resolved against the current directory).
    void Init(const std::filesystem::path& programFolder);
    // The same, except that a program folder this process cannot write puts the settings file in
    // `userFolder` (created when missing), started as a copy of the program folder's file so that
    // an administrator can ship defaults; the user's own file, once there, is never replaced. When
    // the user's folder cannot be had either, the file stays beside the program. An empty
    // `userFolder` keeps it beside the program.
    void Init(const std::filesystem::path& programFolder, const std::filesystem::path& userFolder);

    // Reads the login record (writing the default one when the file has none that decodes) and
    // the platform choice.
    void LoadUser();
    void SaveLanguage(int index);
    void SavePlatform(int index);
    // With `hold`, remembers the three texts; either way stores port 19436 and `hold` and writes
    // the record.
    void RememberLogin(bool hold, std::u16string_view ip, std::u16string_view user, std::u16string_view password);
    // Reads the language index from the settings file and, for an index of 0..2, the 80 texts of
    // its section from the language file.
    void LoadTexts();

    std::filesystem::path setupPath;
    std::filesystem::path languagePath;
    std::unique_ptr<LoginRecord> login;
    std::unique_ptr<LanguageTexts> texts;
    std::unique_ptr<std::uint8_t> language;
    std::unique_ptr<std::uint8_t> platform;
    std::int32_t initialised = 0;
    // Whether Init put the settings file in the user's folder; files the operator saves are then
    // proposed in the user's documents rather than in the program folder.
    bool perUser = false;
};

// Folder of the running executable; empty when it cannot be found. On Linux the real path, so a
// program started through a link still finds the files beside it.
std::filesystem::path executableFolder();

// Whether this process can create files in `folder`, found out by creating and removing one:
// permission bits do not tell (root ignores them, ACLs and read-only mounts add to them).
bool folderIsWritable(const std::filesystem::path& folder);

} // namespace orv
