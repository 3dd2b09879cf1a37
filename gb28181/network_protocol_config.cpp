#include "gb28181/network_protocol_config.h"

#include "link/link_text.h"

#include <algorithm>

namespace orv::gb28181 {

std::uint16_t NetworkProtocolConfig::number(std::size_t offset) const
{
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

void NetworkProtocolConfig::setNumber(std::size_t offset, std::uint16_t value)
{
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::u16string NetworkProtocolConfig::text(ConfigField field) const
{
    return decodeLinkText(bytes_.data() + field.offset, field.width);
}

void NetworkProtocolConfig::setText(ConfigField field, std::u16string_view text)
{
    std::uint8_t* begin = bytes_.data() + field.offset;
    std::fill(begin, begin + field.width, std::uint8_t{0});
    encodeLinkText(text, begin, field.width - 1);
}

} // namespace orv::gb28181
