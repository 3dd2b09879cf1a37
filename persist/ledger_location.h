#pragma once
// Where the operator keeps the ledger: chosen in the search tool's window and remembered per user
// in "orv_searchtool.ini" (section "Ledger", key "Location") beside the settings file in use; the
// console records to the same place. Empty: the embedded default file.

#include <filesystem>
#include <string>
#include <string_view>

namespace orv {

class CSettings;

inline constexpr std::string_view kSearchToolStateFileName = "orv_searchtool.ini";

// "orv_searchtool.ini" in the folder of `settings`' file; empty while the settings have no file.
std::filesystem::path searchToolStateFile(const CSettings& settings);

// The remembered location (UTF-8), empty when none is (or the file cannot be read).
std::string rememberedLedgerLocation(const std::filesystem::path& stateFile);
// Remembers `location`, keeping everything else in the file; false when it was left as it was.
bool rememberLedgerLocation(const std::filesystem::path& stateFile, std::string_view location);

} // namespace orv
