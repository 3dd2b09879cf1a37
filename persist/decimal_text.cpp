#include "persist/decimal_text.h"

#include <climits>
#include <cstdint>

namespace orv {
namespace {

template <class Char>
int parseLeadingDecimal(std::basic_string_view<Char> text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude with a ceiling just past INT_MAX + 1, so that long digit runs
    // cannot overflow while still saturating correctly.
    constexpr std::int64_t kCeiling = static_cast<std::int64_t>(INT_MAX) + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kCeiling) {
            magnitude = kCeiling;
        }
    }
    if (negative) {
        return static_cast<int>(-magnitude); // -(INT_MAX + 1) is INT_MIN exactly
    }
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

} // namespace

int leadingDecimal(std::u16string_view text)
{
    return parseLeadingDecimal(text);
}

int leadingDecimal(std::string_view text)
{
    return parseLeadingDecimal(text);
}

} // namespace orv
