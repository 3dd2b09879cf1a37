#pragma once
// The camera's GB28181 registration settings as the SDK exchanges them: 844 bytes, of which the
// dialog interprets eleven fields. Texts are 8-bit in the link's code page and always end within
// their field; numbers are unsigned 16-bit little-endian.

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

class NetworkProtocolConfig
{
public:
    static constexpr std::size_t kSize = 844;

    static constexpr std::size_t enable = 592;
    static constexpr ConfigField serverAddress{593, 65};
    static constexpr std::size_t serverPort = 658;
    static constexpr ConfigField password{660, 16};
    static constexpr std::size_t registerInterval = 676;
    static constexpr std::size_t heartbeatInterval = 678;
    static constexpr ConfigField serverId{680, 32};
    static constexpr ConfigField deviceId{712, 32};
    static constexpr ConfigField channelId{744, 32};
    static constexpr ConfigField alarmInId{776, 32};
    static constexpr ConfigField alarmOutId{808, 32};

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
