#include "persist/profile_struct.h"

#include <algorithm>
#include <vector>

namespace orv {
namespace {

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    return -1;
}

void appendHex(std::u16string& out, std::uint8_t byte)
{
    constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
}

} // namespace

std::u16string encodeProfileStruct(std::span<const std::uint8_t> bytes)
{
    std::u16string out;
    out.reserve(2 * (bytes.size() + 1));
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) {
        appendHex(out, b);
        sum = static_cast<std::uint8_t>(sum + b);
    }
    appendHex(out, sum);
    return out;
}

bool decodeProfileStruct(std::u16string_view digits, std::span<std::uint8_t> out)
{
    if (digits.size() != 2 * (out.size() + 1)) {
        return false;
    }
    std::vector<std::uint8_t> decoded(out.size() + 1);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const int high = hexValue(digits[2 * i]);
        const int low = hexValue(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        decoded[i] = static_cast<std::uint8_t>((high << 4) | low);
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + decoded[i]);
    }
    if (sum != decoded.back()) {
        return false;
    }
    std::copy(decoded.begin(), decoded.end() - 1, out.begin());
    return true;
}

} // namespace orv
