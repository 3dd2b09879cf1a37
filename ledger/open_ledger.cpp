#include "ledger/ledger.h"
#include "ledger/postgres_ledger.h"
#include "ledger/sqlite_ledger.h"
#include "persist/private_folder.h"

namespace orv::ledger {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isWordStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isWordChar(char c)
{
    return isWordStart(c) || (c >= '0' && c <= '9');
}

} // namespace

bool prepareLedgerFolder(const std::filesystem::path& folder, std::string& why)
{
    if (sameFolder(folder, defaultLedgerFile().parent_path())) {
        return usePrivateFolder(folder);
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            why = ec.message();
            return false;
        }
    }
    return true;
}

std::string locationOrDefault(const std::string& location)
{
    if (!location.empty()) {
        return location;
    }
    const std::u8string file = defaultLedgerFile().u8string();
    return std::string(file.begin(), file.end());
}

std::string oneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    bool space = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ' ') {
            space = !line.empty();
            continue;
        }
        if (space) {
            line += ' ';
            space = false;
        }
        line += c;
    }
    return line;
}

bool isPostgresLocation(std::string_view location)
{
    std::size_t i = 0;
    while (i < location.size() && isSpace(location[i])) {
        ++i;
    }
    const std::string_view rest = location.substr(i);
    if (rest.starts_with("postgresql://") || rest.starts_with("postgres://")) {
        return true;
    }
    // libpq's words begin with a keyword and "=": "host=... dbname=...". A file whose name looks
    // like that is still reachable as "./name=...".
    if (rest.empty() || !isWordStart(rest[0])) {
        return false;
    }
    std::size_t end = 1;
    while (end < rest.size() && isWordChar(rest[end])) {
        ++end;
    }
    while (end < rest.size() && isSpace(rest[end])) {
        ++end;
    }
    return end < rest.size() && rest[end] == '=';
}

std::unique_ptr<Ledger> openLedger(const std::string& location, std::string& error)
{
    if (location.empty()) {
        error = "no ledger location given";
        return nullptr;
    }
    if (isPostgresLocation(location)) {
        return PostgresLedger::open(location, error);
    }
    const std::u8string file(location.begin(), location.end());
    return SqliteLedger::open(std::filesystem::path(file), error);
}

} // namespace orv::ledger
