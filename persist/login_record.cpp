#include "persist/login_record.h"

namespace orv {

std::u16string LoginRecord::text(const Field& f) const
{
    std::u16string out;
    for (std::size_t i = 0; i + 1 < f.width; i += 2) {
        const auto unit = static_cast<char16_t>(bytes[f.offset + i] | (bytes[f.offset + i + 1] << 8));
        if (unit == 0) {
            break;
        }
        out.push_back(unit);
    }
    return out;
}

void LoginRecord::setText(const Field& f, std::u16string_view value)
{
    bool ended = false;
    for (std::size_t i = 0; i + 1 < f.width; i += 2) {
        const std::size_t index = i / 2;
        if (!ended && (index >= value.size() || value[index] == 0)) {
            ended = true;
        }
        const char16_t unit = ended ? 0 : value[index];
        bytes[f.offset + i] = static_cast<std::uint8_t>(unit & 0xFF);
        bytes[f.offset + i + 1] = static_cast<std::uint8_t>(unit >> 8);
    }
}

std::uint32_t LoginRecord::u32(const Field& f) const
{
    const std::uint8_t* p = bytes.data() + f.offset;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void LoginRecord::setU32(const Field& f, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[f.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void LoginRecord::setDefaults()
{
    setHold(0);
    setUser(kDefaultUser);
    setPassword(kDefaultPassword);
    setIp(kDefaultIp);
    setPort(kDefaultPort);
}

} // namespace orv
