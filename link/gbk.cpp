#include "link/gbk.h"

#include <array>
#include <memory>
#include <mutex>

namespace orv {
namespace {

struct GbkTables
{
    std::array<char16_t, 65536> toUnicode{};  // index lead << 8 | trail, 0 = not a pair
    std::array<std::uint16_t, 65536> toGbk{}; // index UTF-16 unit above U+00FF, 0 = not encodable
};

const GbkTables& gbkTables()
{
    static std::once_flag once;
    static std::unique_ptr<GbkTables> tables;
    std::call_once(once, [] {
        tables = std::make_unique<GbkTables>();
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!gbk::isTrailByte(static_cast<std::uint8_t>(trail))) {
                    continue;
                }
                char16_t c = 0;
                if (!codepage::decodeGbkPair(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail), c)
                    || c == 0 || (c >= 0xD800 && c <= 0xDFFF)) {
                    continue;
                }
                const auto pair = static_cast<std::uint16_t>((lead << 8) | trail);
                tables->toUnicode[pair] = c;
                if (c > 0xFF && tables->toGbk[c] == 0) {
                    tables->toGbk[c] = pair;
                }
            }
        }
    });
    return *tables;
}

} // namespace

namespace gbk {

char16_t pairToUnicode(std::uint8_t lead, std::uint8_t trail)
{
    return gbkTables().toUnicode[(lead << 8) | trail];
}

std::uint16_t unicodeToPair(char16_t c)
{
    return c > 0xFF ? gbkTables().toGbk[c] : 0;
}

} // namespace gbk

std::u16string gbkToUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
            continue;
        }
        if (b == 0x80) {
            out.push_back(u'\u20AC'); // the one single byte above ASCII that code page 936 maps
            continue;
        }
        if (gbk::isLeadByte(b) && i + 1 < bytes.size()) {
            const char16_t c = gbk::pairToUnicode(b, static_cast<std::uint8_t>(bytes[i + 1]));
            if (c != 0) {
                out.push_back(c);
                ++i;
                continue;
            }
        }
        out.push_back(u'\uFFFD');
    }
    return out;
}

} // namespace orv
