#include "provision/inventory.h"

#include "lang/utf.h"
#include "link/local_clock.h"

#include <cstdio>
#include <fstream>
#include <initializer_list>

namespace orv::provision {
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

std::string csvLine(std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& f : fields) {
        line += csvField(f) + ",";
    }
    line.back() = '\r';
    return line + "\n";
}

bool freshFile(const std::filesystem::path& file)
{
    std::error_code ec;
    return !std::filesystem::exists(file, ec) || std::filesystem::file_size(file, ec) == 0;
}

bool appendBytes(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
}

} // namespace

std::string inventoryLine(const InventoryRow& row)
{
    return csvLine({row.localTime, utf::toUtf8(row.deviceId), utf::toUtf8(row.officerId), row.result});
}

bool appendInventoryRow(const std::filesystem::path& file, const InventoryRow& row)
{
    std::string bytes = freshFile(file) ? std::string(kInventoryHeader) : std::string();
    bytes += inventoryLine(row);
    return appendBytes(file, bytes);
}

std::string inventoryTime()
{
    const LocalDateTime now = localNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    return text;
}

std::string fleetInventoryLine(const FleetInventoryRow& row)
{
    return csvLine(
        {row.localTime, row.where, utf::toUtf8(row.deviceId), utf::toUtf8(row.officerId), row.result, row.differences});
}

bool FleetInventory::open(const std::filesystem::path& file, std::string& error)
{
    std::lock_guard lock(mutex_);
    file_ = file;
    if (freshFile(file)) {
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "it cannot be read";
        return false;
    }
    std::string head(kFleetInventoryHeader.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    if (head != kFleetInventoryHeader) {
        error =
            "its first line is not " + std::string(kFleetInventoryHeader.substr(0, kFleetInventoryHeader.size() - 2));
        return false;
    }
    return true;
}

bool FleetInventory::append(const FleetInventoryRow& row)
{
    std::lock_guard lock(mutex_);
    std::string bytes = freshFile(file_) ? std::string(kFleetInventoryHeader) : std::string();
    bytes += fleetInventoryLine(row);
    return appendBytes(file_, bytes);
}

} // namespace orv::provision
