#pragma once
// UTF-8 <-> UTF-16 for the program's files, command lines and the simulated camera's state.
// Standard C++ only, in the lowest layer, so that every layer and the command-line tools use the
// same conversions.

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::utf {

// Each byte that does not belong to a well-formed UTF-8 sequence becomes U+FFFD; overlong forms
// and encoded surrogates count as malformed.
std::u16string toUtf16(std::string_view utf8);

// Offset of the first byte that is not well-formed UTF-8 (overlong forms, encoded surrogates
// and values above U+10FFFF included), or npos when all of it is.
std::size_t firstInvalidUtf8(std::string_view bytes);

// A lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

// ASCII text as UTF-16 (for keys and numbers, which are ASCII).
std::u16string fromAscii(std::string_view ascii);

// Compares ignoring the case of A-Z only; profile names are ASCII.
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

constexpr bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

constexpr bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

} // namespace orv::utf
