#include "persist/ledger_location.h"

#include "lang/utf.h"
#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/settings.h"

namespace orv {
namespace {

constexpr std::u16string_view kLedgerSection = u"Ledger";
constexpr std::u16string_view kLocationKey = u"Location";
// A connection string is short; this leaves room for any path.
constexpr std::size_t kLocationUnits = 4096;

} // namespace

std::filesystem::path searchToolStateFile(const CSettings& settings)
{
    if (settings.setupPath.empty()) {
        return {};
    }
    return settings.setupPath.parent_path() / kSearchToolStateFileName;
}

std::string rememberedLedgerLocation(const std::filesystem::path& stateFile)
{
    if (stateFile.empty()) {
        return {};
    }
    const FileContents contents = readWholeFile(stateFile);
    if (contents.outcome != ReadOutcome::Read) {
        return {};
    }
    const IniFile ini = IniFile::fromBytes(contents.bytes);
    return utf::toUtf8(ini.readString(kLedgerSection, kLocationKey, u"", kLocationUnits));
}

bool rememberLedgerLocation(const std::filesystem::path& stateFile, std::string_view location)
{
    if (stateFile.empty()) {
        return false;
    }
    const FileContents contents = readWholeFile(stateFile);
    if (contents.outcome == ReadOutcome::Failed) {
        return false; // never replace what could not be read
    }
    IniFile ini = contents.outcome == ReadOutcome::Read ? IniFile::fromBytes(contents.bytes) : IniFile{};
    ini.setValue(kLedgerSection, kLocationKey, utf::toUtf16(location));
    const std::string bytes = ini.toBytes();
    if (contents.outcome == ReadOutcome::Read && bytes == contents.bytes) {
        return true;
    }
    return replaceFileContents(stateFile, bytes);
}

} // namespace orv
