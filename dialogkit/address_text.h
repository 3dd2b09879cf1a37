#pragma once
// Dotted-decimal address text to the four octets of the address field, as the remembered login
// and setup files give it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <array>

namespace orv {

// A part may have at most this many digits; an address the program writes has three at most.
inline constexpr std::size_t kMaxAddressPartDigits = 7;

// Splits at dots into four runs of decimal digits, each taken modulo 256. Reading stops at the
// first part that is missing, does not start with a digit or has more than seven digits: that
// part and every later one give 0. Anything after a part's digits is ignored, and the text ends
// at its first zero unit.
std::array<std::uint8_t, 4> parseAddressText(std::u16string_view text);

} // namespace orv
