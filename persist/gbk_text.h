#pragma once
// Text of older setup files, written in the Chinese Windows code page (GBK, code page 936).

#include <string>
#include <string_view>

namespace orv {

// GBK bytes to UTF-16. A byte that does not start a valid GBK character becomes U+FFFD and
// decoding goes on with the next byte.
std::u16string gbkToUtf16(std::string_view bytes);

} // namespace orv
