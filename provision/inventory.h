#pragma once
// The provisioning inventory: a CSV file (UTF-8) that gains one row per camera. Rows are only
// ever appended; what the file held before stays as it was.

#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace orv::provision {

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

// The local time as inventory rows carry it: "2026-03-05 14:07:09".
std::string inventoryTime();

// Many cameras at once: each row also says where the camera was found and which fields differ
// after the read-back.
struct FleetInventoryRow
{
    std::string localTime;
    std::string where; // "usb0 192.168.2.158" or "127.0.0.5"
    std::u16string deviceId;
    std::u16string officerId;
    std::string result;      // "ok", "failed: ...", "differs", "not on the roster", "stopped: ..."
    std::string differences; // "wifi.ssid, device.policeId"
};

inline constexpr std::string_view kFleetInventoryHeader =
    "time,interface_or_address,device_id,officer_id,result,differences\r\n";

std::string fleetInventoryLine(const FleetInventoryRow& row);

// The inventory of a run on many cameras. Every row is written under one lock in one write, so
// rows from cameras finishing together never interleave.
class FleetInventory
{
public:
    // Checks the file before anything is sent to a camera: a new or empty file is fine (it gets
    // the header with the first row); an existing one must start with kFleetInventoryHeader, so
    // that rows are never appended under other columns. False with `error` set otherwise.
    bool open(const std::filesystem::path& file, std::string& error);
    bool append(const FleetInventoryRow& row);
    const std::filesystem::path& file() const { return file_; }

private:
    std::mutex mutex_;
    std::filesystem::path file_;
};

} // namespace orv::provision
