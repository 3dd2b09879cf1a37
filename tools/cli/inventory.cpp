#include "tools/cli/inventory.h"

#include "lang/utf.h"

#include <fstream>

namespace orv::cli {
namespace {

std::string csvField(std::string text)
{
    // Camera texts come from whoever configured the camera; a cell starting like a formula must
    // not run when the inventory is opened in a spreadsheet.
    if (!text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t' || text[0] == '\r')) {
        text.insert(text.begin(), '\'');
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace

std::string inventoryLine(const InventoryRow& row)
{
    return csvField(row.localTime) + "," + csvField(utf::toUtf8(row.deviceId)) + "," +
           csvField(utf::toUtf8(row.officerId)) + "," + csvField(row.result) + "\r\n";
}

bool appendInventoryRow(const std::filesystem::path& file, const InventoryRow& row)
{
    std::error_code ec;
    const bool fresh = !std::filesystem::exists(file, ec) || std::filesystem::file_size(file, ec) == 0;
    std::string bytes = fresh ? std::string(kInventoryHeader) : std::string();
    bytes += inventoryLine(row);
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
}

} // namespace orv::cli
