#pragma once
// CSV cells as the program writes them for people (RFC 4180): a cell holding a comma, a quote or a
// line break is quoted with its quotes doubled, and a cell that starts like a spreadsheet formula
// (= + - @, a tab or a carriage return) gets an apostrophe first, so that text from a camera or a
// database never runs as a formula when the file is opened.

#include <initializer_list>
#include <string>
#include <string_view>

namespace orv {

std::string csvCell(std::string_view text);
// What csvCell was given, from its cell as read back (quotes already undone): the apostrophe it
// put before a formula-like start goes.
std::u16string csvCellText(std::u16string cell);
// The cells joined by commas, ending with CRLF.
std::string csvRow(std::initializer_list<std::string_view> cells);

} // namespace orv
