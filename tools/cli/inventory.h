#pragma once
// The provisioning inventory: a CSV file (UTF-8) that gains one row per camera.

#include <filesystem>
#include <string>
#include <string_view>

namespace orv::cli {

struct InventoryRow
{
    std::string localTime; // "2026-03-05 14:07:09"
    std::u16string deviceId;
    std::u16string officerId;
    std::string result; // "ok" or "failed: ..."
};

inline constexpr std::string_view kInventoryHeader = "time,device_id,officer_id,result\r\n";

// One row as it goes into the file, line end included. Fields are quoted when they need it, and
// a field that a spreadsheet would run as a formula gets a leading apostrophe.
std::string inventoryLine(const InventoryRow& row);

// Appends the row in one write (with the header row first when the file is new or empty).
// False when the file could not be opened or written.
bool appendInventoryRow(const std::filesystem::path& file, const InventoryRow& row);

} // namespace orv::cli
