#include "dialogkit/address_text.h"

namespace orv {

std::array<std::uint8_t, 4> parseAddressText(std::u16string_view text)
{
    if (const std::size_t zero = text.find(u'\0'); zero != std::u16string_view::npos) {
        text = text.substr(0, zero);
    }
    std::array<std::uint8_t, 4> octets{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < octets.size(); ++part) {
        if (part > 0) {
            const std::size_t dot = text.find(u'.', pos);
            if (dot == std::u16string_view::npos) {
                break;
            }
            pos = dot + 1;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (pos + digits < text.size() && text[pos + digits] >= u'0' && text[pos + digits] <= u'9') {
            value = value * 10 + static_cast<unsigned>(text[pos + digits] - u'0');
            ++digits;
            if (digits > kMaxAddressPartDigits) {
                return octets;
            }
        }
        if (digits == 0) {
            break;
        }
        octets[part] = static_cast<std::uint8_t>(value % 256);
        pos += digits;
    }
    return octets;
}

} // namespace orv
