#pragma once
// The camera's records: fixed-size little-endian byte arrays with named fields.
// Each record type lists its fields once (offset, width, kind); accessors go through that table.

#include "link/link_text.h"
#include "link/local_clock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orv {

enum class FieldKind : std::uint8_t {
    U8,   // unsigned 8-bit
    U16,  // unsigned 16-bit little-endian
    I32,  // signed 32-bit little-endian
    Text, // 8-bit link text, zero-padded
};

struct Field
{
    std::string_view name;
    std::size_t offset;
    std::size_t width;
    FieldKind kind;
};

// Byte 0 of every configuration record and of the ConfigSelector.
enum class ConfigType : std::uint8_t {
    Device = 0,
    Net4g = 1,
    Wifi = 2,
    TtxServer = 4,
    RtsServer = 5,
    Function = 6,
    UDisk = 7,
};

// Size of the record of a configuration type; 0 for a type the camera does not have.
std::size_t configRecordSize(ConfigType type);
bool isConfigType(std::uint8_t value);

template <std::size_t N>
class FixedRecord
{
public:
    static constexpr std::size_t kSize = N;

    std::array<std::uint8_t, N> bytes{};

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    static constexpr std::size_t size() { return N; }

    std::u16string text(const Field& f) const { return decodeLinkText(bytes.data() + f.offset, f.width); }
    void setText(const Field& f, std::u16string_view value) { encodeLinkText(value, bytes.data() + f.offset, f.width); }

    // Numbers by the field's kind: U8 and U16 unsigned, I32 signed. Writing keeps the low bits
    // that fit the field.
    std::int64_t number(const Field& f) const
    {
        const std::uint8_t* p = bytes.data() + f.offset;
        switch (f.kind) {
        case FieldKind::U8:
            return p[0];
        case FieldKind::U16:
            return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
        case FieldKind::I32:
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
                                             | (static_cast<std::uint32_t>(p[2]) << 16)
                                             | (static_cast<std::uint32_t>(p[3]) << 24));
        case FieldKind::Text:
            break;
        }
        return 0;
    }

    void setNumber(const Field& f, std::int64_t value)
    {
        const auto v = static_cast<std::uint64_t>(value);
        std::size_t width = f.kind == FieldKind::U8 ? 1 : f.kind == FieldKind::U16 ? 2 : f.kind == FieldKind::I32 ? 4 : 0;
        for (std::size_t i = 0; i < width; ++i) {
            bytes[f.offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }

    friend bool operator==(const FixedRecord&, const FixedRecord&) = default;
};

// GetConfig's request payload.
struct ConfigSelector : FixedRecord<6>
{
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
};

struct DeviceRecord : FixedRecord<287>
{
    static constexpr ConfigType kType = ConfigType::Device;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field policeId{"policeId", 1, 32, FieldKind::Text};
    static constexpr Field policeName{"policeName", 33, 32, FieldKind::Text};
    static constexpr Field deviceId{"deviceId", 65, 32, FieldKind::Text};
    static constexpr Field companyId{"companyId", 97, 32, FieldKind::Text};
    static constexpr Field companyName{"companyName", 129, 32, FieldKind::Text};
    static constexpr Field screenPsk{"screenPsk", 161, 32, FieldKind::Text};
    static constexpr std::array kFields{policeId, policeName, deviceId, companyId, companyName, screenPsk};
};

struct Net4gRecord : FixedRecord<272>
{
    static constexpr ConfigType kType = ConfigType::Net4g;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field apn{"apn", 34, 32, FieldKind::Text};
    static constexpr Field apnUser{"apnUser", 66, 32, FieldKind::Text};
    static constexpr Field apnPassword{"apnPassword", 98, 32, FieldKind::Text};
    static constexpr std::array kFields{apn, apnUser, apnPassword};
};

struct WifiRecord : FixedRecord<191>
{
    static constexpr ConfigType kType = ConfigType::Wifi;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field ssid{"ssid", 1, 32, FieldKind::Text};
    static constexpr Field wifiPassword{"wifiPassword", 33, 32, FieldKind::Text};
    static constexpr std::array kFields{ssid, wifiPassword};
};

// The video platform the camera reports to when its platform choice is 0.
struct TtxServerRecord : FixedRecord<228>
{
    static constexpr ConfigType kType = ConfigType::TtxServer;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field serverPort{"serverPort", 4, 2, FieldKind::U16};
    static constexpr Field serverAddress{"serverAddress", 6, 64, FieldKind::Text};
    static constexpr std::array kFields{serverPort, serverAddress};
};

// The video platform the camera reports to when its platform choice is 1.
struct RtsServerRecord : FixedRecord<255>
{
    static constexpr ConfigType kType = ConfigType::RtsServer;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field rtsId{"rtsId", 1, 32, FieldKind::Text};
    static constexpr Field rtsCode{"rtsCode", 33, 32, FieldKind::Text};
    static constexpr std::array kFields{rtsId, rtsCode};
};

struct FunctionRecord : FixedRecord<198>
{
    static constexpr ConfigType kType = ConfigType::Function;
    static constexpr Field type{"type", 0, 1, FieldKind::U8};
    static constexpr Field platformChoice{"platformChoice", 6, 1, FieldKind::U8};
    static constexpr Field uIdentify{"uIdentify", 7, 1, FieldKind::U8};
    static constexpr std::array kFields{platformChoice, uIdentify};
};

// SetConfig's payload that switches the camera to U-disk mode: the single byte 7.
struct UDiskMode : FixedRecord<1>
{
    static constexpr ConfigType kType = ConfigType::UDisk;
};

struct TimeRecord : FixedRecord<84>
{
    static constexpr Field second{"second", 0, 1, FieldKind::U8};
    static constexpr Field minute{"minute", 1, 1, FieldKind::U8};
    static constexpr Field hour{"hour", 2, 1, FieldKind::U8};
    static constexpr Field day{"day", 3, 1, FieldKind::U8};
    static constexpr Field month{"month", 4, 1, FieldKind::U8};
    static constexpr Field year{"year", 5, 1, FieldKind::U8}; // (year mod 1000) + 100
    static constexpr Field timeZone{"timeZone", 71, 1, FieldKind::U8};
    static constexpr Field summerTime{"summerTime", 72, 1, FieldKind::U8};
    static constexpr std::array kFields{second, minute, hour, day, month, year, timeZone, summerTime};
};

// Fills the clock fields of a TimeRecord from the computer's local clock.
void putLocalClock(TimeRecord& record);
// The clock fields of a TimeRecord as a date and time (the year byte counts from 1900).
LocalDateTime clockOf(const TimeRecord& record);

struct UserTable : FixedRecord<331>
{
    static constexpr std::size_t kEntries = 10;
    static constexpr std::size_t kEntrySize = 33;
    static constexpr std::size_t kNameWidth = 16;
    static constexpr std::size_t kPasswordWidth = 16;
    static constexpr Field count{"count", 0, 1, FieldKind::U8};

    // Fields of entry i (0..9).
    static constexpr Field name(std::size_t i) { return {"name", 1 + kEntrySize * i, kNameWidth, FieldKind::Text}; }
    static constexpr Field password(std::size_t i)
    {
        return {"password", 1 + kEntrySize * i + 16, kPasswordWidth, FieldKind::Text};
    }
    static constexpr Field extra(std::size_t i) { return {"extra", 1 + kEntrySize * i + 32, 1, FieldKind::U8}; }
};

struct PasswordChange : FixedRecord<34>
{
    static constexpr std::uint8_t kChangeOperation = 2;
    static constexpr Field operation{"operation", 0, 1, FieldKind::U8};
    static constexpr Field name{"name", 1, 16, FieldKind::Text};
    static constexpr Field password{"password", 17, 16, FieldKind::Text};
};

struct ProxyRecord : FixedRecord<72>
{
    static constexpr Field proxyEnable{"proxyEnable", 0, 4, FieldKind::I32};
    static constexpr Field proxyAddress{"proxyAddress", 4, 64, FieldKind::Text};
    static constexpr Field proxyPort{"proxyPort", 68, 4, FieldKind::I32};
    static constexpr std::array kFields{proxyEnable, proxyAddress, proxyPort};
};

// The GB28181 registration settings, which travel through the maker's SDK (configuration commands
// 32 and 33), not over this link; kept here so that the GB28181 dialog and the simulated camera
// share one layout. The dialog shows these eleven fields; the other bytes are kept as they come.
struct Gb28181Record : FixedRecord<844>
{
    static constexpr Field enable{"enable", 592, 1, FieldKind::U8};
    static constexpr Field serverAddress{"serverAddress", 593, 65, FieldKind::Text};
    static constexpr Field serverPort{"serverPort", 658, 2, FieldKind::U16};
    static constexpr Field password{"password", 660, 16, FieldKind::Text};
    static constexpr Field registerInterval{"registerInterval", 676, 2, FieldKind::U16};
    static constexpr Field heartbeatInterval{"heartbeatInterval", 678, 2, FieldKind::U16};
    static constexpr Field serverId{"serverId", 680, 32, FieldKind::Text};
    static constexpr Field deviceId{"deviceId", 712, 32, FieldKind::Text};
    static constexpr Field channelId{"channelId", 744, 32, FieldKind::Text};
    static constexpr Field alarmInId{"alarmInId", 776, 32, FieldKind::Text};
    static constexpr Field alarmOutId{"alarmOutId", 808, 32, FieldKind::Text};
    static constexpr std::array kFields{enable,           serverAddress,     serverPort, password,
                                        registerInterval, heartbeatInterval, serverId,   deviceId,
                                        channelId,        alarmInId,         alarmOutId};
};

} // namespace orv
