#include "link/link_text.h"

#include <array>
#include <memory>
#include <mutex>

namespace orv {
namespace {

struct GbkTables
{
    std::array<char16_t, 65536> toUnicode{};  // index lead << 8 | trail, 0 = not a pair
    std::array<std::uint16_t, 65536> toGbk{}; // index UTF-16 unit, 0 = not encodable
};

bool isLeadByte(std::uint8_t b)
{
    return b >= 0x81 && b <= 0xFE;
}

bool isTrailByte(std::uint8_t b)
{
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

const GbkTables& gbkTables()
{
    static std::once_flag once;
    static std::unique_ptr<GbkTables> tables;
    std::call_once(once, [] {
        tables = std::make_unique<GbkTables>();
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!isTrailByte(static_cast<std::uint8_t>(trail))) {
                    continue;
                }
                char16_t c = 0;
                if (!codepage::decodeGbkPair(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail), c)
                    || c <= 0xFF || (c >= 0xD800 && c <= 0xDFFF)) {
                    continue;
                }
                const auto pair = static_cast<std::uint16_t>((lead << 8) | trail);
                tables->toUnicode[pair] = c;
                if (tables->toGbk[c] == 0) {
                    tables->toGbk[c] = pair;
                }
            }
        }
    });
    return *tables;
}

bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

} // namespace

void encodeLinkText(std::u16string_view text, std::uint8_t* field, std::size_t width)
{
    const GbkTables* tables = nullptr;
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
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i; // a character outside the BMP: GBK has none of them
            field[out++] = '?';
            continue;
        }
        if (tables == nullptr) {
            tables = &gbkTables();
        }
        const std::uint16_t pair = tables->toGbk[c];
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
    const GbkTables* tables = nullptr;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = field[i];
        if (isLeadByte(b) && i + 1 < length && isTrailByte(field[i + 1])) {
            if (tables == nullptr) {
                tables = &gbkTables();
            }
            const char16_t c = tables->toUnicode[(b << 8) | field[i + 1]];
            if (c != 0) {
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

std::u16string utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > text.size()) {
                cp = 0xFFFD;
                len = 1;
            } else {
                cp = b & (0x7F >> len);
                for (std::size_t k = 1; k < len; ++k) {
                    const auto cb = static_cast<unsigned char>(text[i + k]);
                    if ((cb & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = 1;
                        break;
                    }
                    cp = (cp << 6) | (cb & 0x3F);
                }
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(cp > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace orv
