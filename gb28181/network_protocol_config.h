#pragma once
// The camera's GB28181 registration settings as the SDK exchanges them: 844 bytes, of which the
// dialog interprets eleven fields. Texts are 8-bit in the link's code page and always end within
// their field; numbers are unsigned 16-bit little-endian.

#include "link/records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv::gb28181 {

inline constexpr int kGetConfigCommand = 32;
inline constexpr int kSetConfigCommand = 33;
inline constexpr int kSdkPort = 80;

struct ConfigField
{
    std::size_t offset;
    std::size_t width;
};

constexpr ConfigField fieldOf(const Field& f)
{
    return {f.offset, f.width};
}

class NetworkProtocolConfig
{
public:
    static constexpr std::size_t kSize = Gb28181Record::kSize;

    static constexpr std::size_t enable = Gb28181Record::enable.offset;
    static constexpr ConfigField serverAddress = fieldOf(Gb28181Record::serverAddress);
    static constexpr std::size_t serverPort = Gb28181Record::serverPort.offset;
    static constexpr ConfigField password = fieldOf(Gb28181Record::password);
    static constexpr std::size_t registerInterval = Gb28181Record::registerInterval.offset;
    static constexpr std::size_t heartbeatInterval = Gb28181Record::heartbeatInterval.offset;
    static constexpr ConfigField serverId = fieldOf(Gb28181Record::serverId);
    static constexpr ConfigField deviceId = fieldOf(Gb28181Record::deviceId);
    static constexpr ConfigField channelId = fieldOf(Gb28181Record::channelId);
    static constexpr ConfigField alarmInId = fieldOf(Gb28181Record::alarmInId);
    static constexpr ConfigField alarmOutId = fieldOf(Gb28181Record::alarmOutId);

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    const std::array<std::uint8_t, kSize>& bytes() const { return bytes_; }

    std::uint16_t number(std::size_t offset) const;
    void setNumber(std::size_t offset, std::uint16_t value);
    // Up to the first zero byte, never past the field's end.
    std::u16string text(ConfigField field) const;
    // Cut so that the terminating zero still fits; the rest of the field becomes zero.
    void setText(ConfigField field, std::u16string_view text);

private:
    std::array<std::uint8_t, kSize> bytes_{};
};

} // namespace orv::gb28181
