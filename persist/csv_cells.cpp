#include "persist/csv_cells.h"

namespace orv {

std::string csvCell(std::string_view text)
{
    std::string cell;
    if (!text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t' || text[0] == '\r')) {
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
