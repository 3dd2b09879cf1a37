#pragma once
// Decimal numbers as the form and the setup file hold them: text that a person typed or edited.

#include <string_view>

namespace orv {

// Leading blanks, an optional sign, then digits up to the first character that is not one.
// Text without digits there reads as 0; a value beyond the range of int saturates at its limit.
// This is how the console reads every number field and every integer attribute of a setup file.
int leadingDecimal(std::u16string_view text);
int leadingDecimal(std::string_view text);

} // namespace orv
