// GBK through the Windows code-page functions (code page 936).
#include "link/gbk.h"

#include <windows.h>

namespace orv::codepage {

bool decodeGbkPair(std::uint8_t lead, std::uint8_t trail, char16_t& out)
{
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t result[2] = {};
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, in, 2, result, 2);
    // Code page 936 also maps its user-defined areas, into the Private Use Area: no character a
    // camera sends, and without them the tables match GBK on every other platform.
    if (n != 1 || (result[0] >= 0xE000 && result[0] <= 0xF8FF)) {
        return false;
    }
    out = static_cast<char16_t>(result[0]);
    return true;
}

} // namespace orv::codepage
