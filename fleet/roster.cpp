#include "fleet/roster.h"
#include "lang/utf.h"
#include "link/link_text.h"
#include "link/records.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

namespace orv::fleet {

struct RosterBuilder
{
    static void add(Roster& roster, RosterEntry entry)
    {
        roster.byDeviceId_.emplace(entry.deviceId, roster.entries_.size());
        roster.entries_.push_back(std::move(entry));
    }
};

namespace {

struct Column
{
    std::string_view name;
    const Field& field; // the camera field the value goes into
    std::u16string RosterEntry::*value;
};

const std::array kColumns{
    Column{"device_id", DeviceRecord::deviceId, &RosterEntry::deviceId},
    Column{"police_id", DeviceRecord::policeId, &RosterEntry::policeId},
    Column{"police_name", DeviceRecord::policeName, &RosterEntry::policeName},
    Column{"company_id", DeviceRecord::companyId, &RosterEntry::companyId},
    Column{"company_name", DeviceRecord::companyName, &RosterEntry::companyName},
};

// Lines end with CRLF, LF or a lone CR, as splitCsv counts them.
int lineOfOffset(std::string_view bytes, std::size_t offset)
{
    int line = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))) {
            ++line;
        }
    }
    return line;
}

bool blank(const CsvRecord& record)
{
    return std::all_of(record.fields.begin(), record.fields.end(), [](const std::u16string& f) { return f.empty(); });
}

std::u16string trimmed(std::u16string_view text)
{
    const auto space = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return std::u16string(text);
}

bool sameName(std::u16string_view header, std::string_view name)
{
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    return header.size() == name.size() &&
           std::equal(header.begin(), header.end(), name.begin(),
                      [&](char16_t a, char b) { return lower(a) == static_cast<char16_t>(b); });
}

// The first character the camera's 8-bit text cannot hold (it would arrive as '?'), or none.
bool unstorableCharacter(std::u16string_view value, std::u16string& found)
{
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool pair = value[i] >= 0xD800 && value[i] <= 0xDBFF && i + 1 < value.size();
        const auto one = value.substr(i, pair ? 2 : 1);
        if (one != u"?" && linkBytes(one) == "?") {
            found = one;
            return true;
        }
        i += pair ? 1 : 0;
    }
    return false;
}

std::string quotedText(std::u16string_view value)
{
    return "\"" + utf::toUtf8(value) + "\"";
}

void checkRows(const std::vector<CsvRecord>& records, RosterLoad& load)
{
    auto header = std::find_if_not(records.begin(), records.end(), blank);
    if (header == records.end()) {
        load.problems.push_back({0, "the roster has no header row"});
        return;
    }
    std::array<std::size_t, kColumns.size()> position{};
    std::string missing;
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        std::size_t count = 0;
        for (std::size_t f = 0; f < header->fields.size(); ++f) {
            if (sameName(trimmed(header->fields[f]), kColumns[c].name)) {
                position[c] = f;
                ++count;
            }
        }
        if (count == 0) {
            missing += (missing.empty() ? "" : ", ") + std::string(kColumns[c].name);
        } else if (count > 1) {
            load.problems.push_back({header->line, "the column " + std::string(kColumns[c].name) + " is named twice"});
        }
    }
    if (!missing.empty()) {
        std::string message = "the header has no column " + missing;
        const bool semicolons = std::any_of(header->fields.begin(), header->fields.end(),
                                            [](const std::u16string& f) { return f.find(u';') != f.npos; });
        if (semicolons) {
            message += " (its columns seem to be separated by ';'; the roster needs ',')";
        }
        load.problems.push_back({header->line, message});
    }
    if (!load.problems.empty()) {
        return;
    }

    std::unordered_map<std::u16string, int> seen; // device id -> its line
    for (auto row = std::next(header); row != records.end(); ++row) {
        if (blank(*row)) {
            continue;
        }
        const std::size_t columns = header->fields.size();
        const bool extraEmpty =
            std::all_of(row->fields.begin() + static_cast<std::ptrdiff_t>(std::min(columns, row->fields.size())),
                        row->fields.end(), [](const std::u16string& f) { return f.empty(); });
        // A row of another width has its values under the wrong names, e.g. after an unquoted
        // comma in a name; trailing empty fields shift nothing.
        if (row->fields.size() < columns || !extraEmpty) {
            load.problems.push_back({row->line, "the row has " + std::to_string(row->fields.size()) +
                                                    " fields, the header " + std::to_string(columns)});
            continue;
        }
        RosterEntry entry;
        entry.line = row->line;
        bool fits = true;
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const auto& column = kColumns[c];
            const std::u16string& value = row->fields[position[c]];
            std::u16string bad;
            const std::size_t bytes = linkBytes(value).size();
            if (unstorableCharacter(value, bad)) {
                load.problems.push_back({row->line, std::string(column.name) + " " + quotedText(value) + " holds " +
                                                        quotedText(bad) + ", which the camera cannot store"});
                fits = false;
            } else if (bytes > column.field.width) {
                load.problems.push_back({row->line, std::string(column.name) + " " + quotedText(value) + " takes " +
                                                        std::to_string(bytes) + " bytes on the camera, its field " +
                                                        std::to_string(column.field.width)});
                fits = false;
            }
            entry.*column.value = value;
        }
        if (entry.deviceId.empty()) {
            load.problems.push_back({row->line, "the row has no device_id"});
            continue;
        }
        const auto [earlier, fresh] = seen.emplace(entry.deviceId, row->line);
        if (!fresh) {
            load.problems.push_back({row->line, "device_id " + quotedText(entry.deviceId) + " is already on line " +
                                                    std::to_string(earlier->second)});
            continue;
        }
        if (fits) {
            RosterBuilder::add(load.roster, std::move(entry));
        }
    }
}

} // namespace

const RosterEntry* Roster::find(std::u16string_view deviceId) const
{
    const auto found = byDeviceId_.find(std::u16string(deviceId));
    return found == byDeviceId_.end() ? nullptr : &entries_[found->second];
}

RosterLoad parseRoster(std::string_view bytes)
{
    RosterLoad load;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        load.problems.push_back({0, "the roster is UTF-16 text; save it as CSV in UTF-8"});
        return load;
    }
    if (const auto zero = bytes.find('\0'); zero != bytes.npos) {
        load.problems.push_back({lineOfOffset(bytes, zero), "the roster holds a zero byte; it is no text file"});
        return load;
    }
    std::u16string text;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
        load.encoding = RosterEncoding::Utf8WithBom;
        // The mark says UTF-8: a byte that is not is an error, never a cue to read it otherwise.
        if (const auto bad = utf::firstInvalidUtf8(bytes); bad != bytes.npos) {
            load.problems.push_back(
                {lineOfOffset(bytes, bad), "the roster starts as UTF-8 but is not valid UTF-8 here"});
            return load;
        }
        text = utf::toUtf16(bytes);
    } else if (utf::firstInvalidUtf8(bytes) == bytes.npos) {
        text = utf::toUtf16(bytes);
    } else {
        load.encoding = RosterEncoding::Gbk;
        text = decodeLinkText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }

    std::vector<CsvRecord> records;
    RosterProblem problem;
    if (!splitCsv(text, records, problem)) {
        load.problems.push_back(problem);
        return load;
    }
    checkRows(records, load);
    if (!load.ok()) {
        load.roster = Roster();
    }
    return load;
}

RosterLoad loadRoster(const std::filesystem::path& file)
{
    const auto u8 = file.u8string(); // path::string() may throw on Windows for names outside the code page
    const std::string name(u8.begin(), u8.end());
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        RosterLoad load;
        load.problems.push_back({0, "cannot open the roster " + name});
        return load;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        RosterLoad load;
        load.problems.push_back({0, "cannot read the roster " + name});
        return load;
    }
    return parseRoster(bytes);
}

std::string describe(const RosterProblem& problem)
{
    return problem.line > 0 ? "line " + std::to_string(problem.line) + ": " + problem.message : problem.message;
}

} // namespace orv::fleet
