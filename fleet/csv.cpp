#include "fleet/csv.h"

namespace orv::fleet {

namespace {

bool isLineEnd(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

} // namespace

bool splitCsv(std::u16string_view text, std::vector<CsvRecord>& records, CsvProblem& problem)
{
    std::size_t i = 0;
    int line = 1;
    const auto takeLineEnd = [&] {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        }
        ++i;
        ++line;
    };
    while (i < text.size()) {
        CsvRecord record;
        record.line = line;
        for (;;) {
            std::u16string field;
            if (i < text.size() && text[i] == u'"') {
                const int opened = line;
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        problem = {opened, "a quoted field is not closed"};
                        return false;
                    }
                    if (text[i] == u'"') {
                        if (i + 1 < text.size() && text[i + 1] == u'"') {
                            field.push_back(u'"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (isLineEnd(text[i])) {
                        const std::size_t from = i;
                        takeLineEnd();
                        field.append(text.substr(from, i - from));
                        continue;
                    }
                    field.push_back(text[i++]);
                }
                if (i < text.size() && text[i] != u',' && !isLineEnd(text[i])) {
                    problem = {line, "text follows the closing quote of a field"};
                    return false;
                }
            } else {
                while (i < text.size() && text[i] != u',' && !isLineEnd(text[i])) {
                    field.push_back(text[i++]);
                }
            }
            record.fields.push_back(std::move(field));
            if (i < text.size() && text[i] == u',') {
                ++i;
                continue;
            }
            if (i < text.size()) {
                takeLineEnd();
            }
            break;
        }
        records.push_back(std::move(record));
    }
    return true;
}

} // namespace orv::fleet
