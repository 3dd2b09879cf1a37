#pragma once
// Text on the camera link: 8-bit, in fixed-width zero-padded fields.
//
// U+0001..U+00FF travel as the byte of the same value. Anything above is written in GBK
// (code page 936), the code page of the cameras' Chinese firmware, whatever the computer's own
// locale; a character GBK cannot hold becomes '?'. Incoming bytes are read as GBK, and a byte
// that does not start a valid GBK pair stands for the character of the same value.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// Writes `text` into field[0..width): stops at the first U+0000, never splits a two-byte
// character, and adds one terminating zero when the text is shorter than the field. Bytes after
// that zero keep what the field held before.
void encodeLinkText(std::u16string_view text, std::uint8_t* field, std::size_t width);

// Reads field[0..width) up to the first zero byte, never past the field's end.
std::u16string decodeLinkText(const std::uint8_t* field, std::size_t width);

// The 8-bit form of a text without a field around it (what encodeLinkText would write into an
// unbounded field), e.g. for the camera address.
std::string linkBytes(std::u16string_view text);

} // namespace orv
