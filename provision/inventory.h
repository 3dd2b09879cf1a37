#pragma once
// The provisioning inventory: a CSV file (UTF-8) that gains one row per camera. Rows are only
// ever appended; what the file held before stays as it was. The file is opened for appending
// before anything is sent to a camera, so that an inventory that cannot be written stops a run
// before the first camera is touched instead of losing that camera's outcome.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
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

// The local time as inventory rows carry it: "2026-03-05 14:07:09".
std::string inventoryTime();

// A CSV file held open for appending whole rows, each in one write, made durable before append()
// returns. Rows from cameras finishing together never interleave.
class AppendOnlyCsv
{
public:
    AppendOnlyCsv() = default;
    ~AppendOnlyCsv();
    AppendOnlyCsv(const AppendOnlyCsv&) = delete;
    AppendOnlyCsv& operator=(const AppendOnlyCsv&) = delete;

    // Opens `file` for appending, creating it with `header` when it is new or empty. An existing
    // file is accepted when `acceptHead` says yes to its first bytes (`headBytes` of them).
    // False with `error` set otherwise; nothing is written then.
    bool open(const std::filesystem::path& file, std::string_view header, std::size_t headBytes,
              const std::function<bool(std::string_view head)>& acceptHead, std::string& error);
    bool append(std::string_view bytes);

private:
    mutable std::mutex mutex_;
    std::FILE* stream_ = nullptr;
};

// The one-camera inventory.
class Inventory
{
public:
    // Any existing file is appended to as it is (the one-camera loop never checked its columns).
    bool open(const std::filesystem::path& file, std::string& error);
    bool append(const InventoryRow& row);

private:
    AppendOnlyCsv csv_;
};

// Many cameras at once: each row also says where the camera was found, which fields differ after
// the read-back, and how far the camera's clock was from this computer's when it was read.
struct FleetInventoryRow
{
    std::string localTime;
    std::string where; // "usb0 192.168.2.158" or "127.0.0.5"
    std::u16string deviceId;
    std::u16string officerId;
    std::string result;                      // "ok", "failed: ...", "differs", "not on the roster", "check: ok", ...
    std::string differences;                 // "wifi.ssid, device.policeId"
    std::optional<std::int64_t> clockOffset; // seconds; empty when not read
};

inline constexpr std::string_view kFleetInventoryHeader =
    "time,interface_or_address,device_id,officer_id,result,differences,clock_offset_s\r\n";
// Inventories written before the clock was measured; they keep taking rows in their own form.
inline constexpr std::string_view kFleetInventoryHeaderWithoutClock =
    "time,interface_or_address,device_id,officer_id,result,differences\r\n";

// The row as it goes into a file with the clock column, or without it.
std::string fleetInventoryLine(const FleetInventoryRow& row, bool withClock = true);

class FleetInventory
{
public:
    // A new or empty file gets kFleetInventoryHeader at once; an existing one must start with
    // one of the two headers, so that rows are never appended under other columns.
    bool open(const std::filesystem::path& file, std::string& error);
    bool append(const FleetInventoryRow& row);

private:
    AppendOnlyCsv csv_;
    bool withClock_ = true;
};

// "ok" and "check: ok": the outcomes that need nothing more.
bool outcomeIsOk(std::string_view result);

// The last outcome of each camera a fleet inventory records: by device id, and by where it was
// found for rows without one (a camera that was never identified).
struct InventoryHistory
{
    std::map<std::u16string, std::string> byDevice;
    std::map<std::string, std::string> byPlace;
    std::string problem; // set when the file could not be read as a fleet inventory

    // The last outcome recorded for the camera with `deviceId`, or, when it has none (it never
    // said it), for the camera found at `where`; null when the inventory holds none.
    const std::string* lastOutcome(const std::u16string& deviceId, const std::string& where) const;
    // Whether Retry failed takes the camera: its last outcome is known and was not ok.
    bool lastFailed(const std::u16string& deviceId, const std::string& where) const;
    // An outcome of this session: it is the camera's last from now on, so that a camera set right
    // earlier and plugged in again is not taken for one whose last outcome failed.
    void note(const std::u16string& deviceId, const std::string& where, std::string result);
    // `later`'s outcomes, which came after these, replace them.
    void update(const InventoryHistory& later);
};
InventoryHistory readInventoryHistory(const std::filesystem::path& file);

} // namespace orv::provision
