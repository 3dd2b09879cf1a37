#include "link/link_text.h"

#include "link/gbk.h"
#include "link/utf.h"

namespace orv {

void encodeLinkText(std::u16string_view text, std::uint8_t* field, std::size_t width)
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size() && out < width; ++i) {
        const char16_t c = text[i];
        if (c == 0) {
            break;
        }
        if (c <= 0xFF) {
            field[out++] = static_cast<std::uint8_t>(c);
            continue;
        }
        if (utf::isHighSurrogate(c) && i + 1 < text.size() && utf::isLowSurrogate(text[i + 1])) {
            ++i; // a character outside the BMP: GBK has none of them
            field[out++] = '?';
            continue;
        }
        const std::uint16_t pair = gbk::unicodeToPair(c);
        if (pair == 0) {
            field[out++] = '?';
            continue;
        }
        if (out + 2 > width) {
            break; // never half a character
        }
        field[out++] = static_cast<std::uint8_t>(pair >> 8);
        field[out++] = static_cast<std::uint8_t>(pair);
    }
    if (out < width) {
        field[out] = 0;
    }
}

std::u16string decodeLinkText(const std::uint8_t* field, std::size_t width)
{
    std::size_t length = 0;
    while (length < width && field[length] != 0) {
        ++length;
    }
    std::u16string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = field[i];
        if (gbk::isLeadByte(b) && i + 1 < length && gbk::isTrailByte(field[i + 1])) {
            // A pair that stands for U+0001..U+00FF reads as its two bytes: those characters
            // travel as single bytes, so the camera never sent them as pairs.
            const char16_t c = gbk::pairToUnicode(b, field[i + 1]);
            if (c > 0xFF) {
                text.push_back(c);
                ++i;
                continue;
            }
        }
        text.push_back(static_cast<char16_t>(b));
    }
    return text;
}

std::string linkBytes(std::u16string_view text)
{
    std::string bytes(text.size() * 2 + 1, '\0');
    encodeLinkText(text, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
    bytes.resize(bytes.find('\0'));
    return bytes;
}

} // namespace orv
