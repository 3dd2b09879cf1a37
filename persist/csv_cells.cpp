#include "persist/csv_cells.h"

namespace orv {

namespace {

bool formulaLike(char32_t c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

} // namespace

std::string csvCell(std::string_view text)
{
    std::string cell;
    // A text that starts like a formula, after any apostrophes, is written after one apostrophe
    // more: a reader takes one away from such a start, so "'=x" stays itself (written "''=x").
    const std::size_t quotes = text.find_first_not_of('\'');
    if (quotes != std::string_view::npos && formulaLike(text[quotes])) {
        cell += '\'';
    }
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (const char c : cell) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

std::u16string csvCellText(std::u16string cell)
{
    const std::size_t quotes = cell.find_first_not_of(u'\'');
    if (quotes != std::u16string::npos && quotes > 0 && formulaLike(cell[quotes])) {
        cell.erase(0, 1);
    }
    return cell;
}

std::string csvRow(std::initializer_list<std::string_view> cells)
{
    std::string row;
    for (const std::string_view c : cells) {
        row += csvCell(c) + ",";
    }
    if (!row.empty()) {
        row.pop_back();
    }
    return row + "\r\n";
}

} // namespace orv
