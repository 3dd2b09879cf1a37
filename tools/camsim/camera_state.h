#pragma once
// What the simulated camera keeps, and what each request does to it. No sockets here.

#include "tools/camsim/sdk_protocol.h"

#include "link/frame.h"
#include "link/records.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::camsim {

struct RequestOutcome
{
    std::optional<std::vector<std::uint8_t>> reply; // reply payload, when the camera answers
    bool enterUDisk = false;
    bool formatCard = false;
    bool factoryReset = false;
    bool changed = false; // the kept state changed and is worth saving
    std::string note;     // an event for the log; empty when there is nothing to say
};

static_assert(Gb28181Record::kSize == sdk::kRecordSize);

class CameraState
{
public:
    static constexpr std::uint8_t kDefaultTimeZone = 20; // UTC+08:00

    CameraState() { resetToDefaults(); }

    void resetToDefaults();
    // What FactoryReset does: every default except the device id, which a camera keeps for life.
    void factoryReset();
    RequestOutcome handle(std::uint16_t command, std::span<const std::uint8_t> payload);

    // The record of a configuration type as kept; empty for U-disk and types the camera lacks.
    std::span<std::uint8_t> configBytes(ConfigType type);
    std::span<const std::uint8_t> configBytes(ConfigType type) const;

    // The time record as GetTime answers it: the kept record with the clock read now.
    TimeRecord currentTime() const;
    // As SetTime: keeps the record and moves the clock to its date. False (clock unchanged,
    // the rest kept) when the date is not a real one.
    bool setTime(const TimeRecord& record);

    friend bool operator==(const CameraState&, const CameraState&) = default;

    UserTable users;
    DeviceRecord device;
    Net4gRecord net4g;
    WifiRecord wifi;
    TtxServerRecord ttxServer;
    RtsServerRecord rtsServer;
    FunctionRecord function;
    ProxyRecord proxy;
    // The last time record set, as sent; its clock bytes are replaced whenever it is read.
    TimeRecord time;
    // The GB28181 registration settings that the maker's SDK reads and writes (tools/camsim/sdk_protocol.h).
    Gb28181Record gb28181;
    // Camera clock minus the computer's local clock.
    std::int64_t clockOffsetSeconds = 0;
};

inline constexpr std::array<ConfigType, 6> kConfigTypes{ConfigType::Device,    ConfigType::Net4g,
                                                        ConfigType::Wifi,      ConfigType::TtxServer,
                                                        ConfigType::RtsServer, ConfigType::Function};

const char* commandName(std::uint16_t command);

// The id a camera takes of its own when nothing gives it one: "ORV2026" and five digits from the
// last two octets of its listen address (host byte order), so that 127.0.0.1 is ORV202600001 and
// cameras on other addresses differ.
std::string deviceIdForAddress(std::uint32_t address);

// Why `id` (UTF-8) cannot be a device id: it is empty, holds a character that the link's 8-bit
// text cannot carry, or takes more bytes than the field. Empty when it can.
std::string deviceIdProblem(std::string_view id);

// A reply as it goes out: the 12-byte header for `command` and the payload's size, then the payload.
std::vector<std::uint8_t> replyFrame(std::uint16_t command, std::span<const std::uint8_t> payload);

} // namespace orv::camsim
