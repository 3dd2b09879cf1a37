// GBK decoding through the Windows code-page functions (code page 936).
#include "persist/gbk_text.h"

#include <windows.h>

#include <climits>

namespace orv {

std::u16string gbkToUtf16(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const int inLength = static_cast<int>(bytes.size());
    // Invalid bytes come out as the code page's default character, one for one.
    const int needed = MultiByteToWideChar(936, 0, bytes.data(), inLength, nullptr, 0);
    if (needed <= 0) {
        return std::u16string(bytes.size(), u'\uFFFD');
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(936, 0, bytes.data(), inLength, wide.data(), needed);
    std::u16string text(wide.begin(), wide.end());
    // Code page 936 gives its user-defined areas and a lone 0xFF as Private Use characters, which
    // no setup file means; they read as replacements, as the GBK tables of other platforms give them.
    for (char16_t& c : text) {
        if (c >= 0xE000 && c <= 0xF8FF) {
            c = u'\uFFFD';
        }
    }
    return text;
}

} // namespace orv
