// GBK through iconv, on every platform but Windows.
#include "link/gbk.h"

#include <iconv.h>

namespace orv::codepage {

bool decodeGbkPair(std::uint8_t lead, std::uint8_t trail, char16_t& out)
{
    // Only called while the tables are built once, under std::call_once.
    static iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char result[8] = {};
    char* inPtr = in;
    char* outPtr = result;
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof result;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0
        || sizeof result - outLeft != 2) {
        return false;
    }
    out = static_cast<char16_t>(static_cast<unsigned char>(result[0]) | (static_cast<unsigned char>(result[1]) << 8));
    return true;
}

} // namespace orv::codepage
