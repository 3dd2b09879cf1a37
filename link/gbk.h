#pragma once
// GBK (code page 936), the code page of the cameras' Chinese firmware and of older setup files:
// one pair table built once through the platform's converter, used by the link's text codec and
// by the setup file's fallback reading. Standard C++ only.

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

namespace gbk {

constexpr bool isLeadByte(std::uint8_t b)
{
    return b >= 0x81 && b <= 0xFE;
}

constexpr bool isTrailByte(std::uint8_t b)
{
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// The UTF-16 unit a GBK pair stands for; 0 when the pair is not a GBK character.
char16_t pairToUnicode(std::uint8_t lead, std::uint8_t trail);

// The GBK pair (lead << 8 | trail) of a UTF-16 unit above U+00FF; 0 when GBK has none. When
// several pairs give the same unit, the first in byte order.
std::uint16_t unicodeToPair(char16_t c);

} // namespace gbk

// GBK bytes to UTF-16, as code page 936 reads them (0x80 alone is the euro sign). A byte that does
// not start a valid GBK character becomes U+FFFD and decoding goes on with the next byte.
std::u16string gbkToUtf16(std::string_view bytes);

namespace codepage {
// Decodes one GBK pair through the platform's converter (codepage_iconv.cpp, codepage_win.cpp);
// false when the pair is not valid GBK. Only used to build the table once.
bool decodeGbkPair(std::uint8_t lead, std::uint8_t trail, char16_t& out);
} // namespace codepage

} // namespace orv
