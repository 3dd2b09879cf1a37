#pragma once
// The private-profile struct encoding: every byte as two upper-case hex digits, then one more
// byte, the low eight bits of the sum of all bytes, as a checksum.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orv {

std::u16string encodeProfileStruct(std::span<const std::uint8_t> bytes);

// Fills `out` only when `digits` is made of hex digits (either case) that decode to exactly
// out.size() bytes plus a matching checksum; otherwise leaves `out` alone and returns false.
bool decodeProfileStruct(std::u16string_view digits, std::span<std::uint8_t> out);

} // namespace orv
