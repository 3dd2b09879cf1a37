#pragma once
// CSV as spreadsheet programs write it (RFC 4180), for the roster and the inventory.

#include <string>
#include <string_view>
#include <vector>

namespace orv::fleet {

struct CsvRecord
{
    int line = 0; // where the record starts
    std::vector<std::u16string> fields;
};

struct CsvProblem
{
    int line = 0;
    std::string message;
};

// Splits RFC 4180 records. Outside quotes CRLF, LF and a lone CR end a record; inside quotes
// they belong to the field. Lines are counted as an editor shows them.
bool splitCsv(std::u16string_view text, std::vector<CsvRecord>& records, CsvProblem& problem);

} // namespace orv::fleet
