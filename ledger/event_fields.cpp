#include "ledger/event_fields.h"

#include "ledger/signed_note.h"

#include <openssl/rand.h>

#include <charconv>
#include <limits>

namespace orv::ledger::detail {
namespace {

// The text member behind `field` (or a hash column); null for the number fields.
template <typename E>
auto textMember(E& e, std::size_t field) -> decltype(&e.timeUtc)
{
    switch (field) {
    case 1: return &e.timeUtc;
    case 3: return &e.station;
    case 4: return &e.operatorName;
    case 5: return &e.tool;
    case 6: return &e.toolVersion;
    case 7: return &e.kind;
    case 8: return &e.deviceId;
    case 9: return &e.where;
    case 10: return &e.officerBefore;
    case 11: return &e.officerAfter;
    case 12: return &e.unitBefore;
    case 13: return &e.unitAfter;
    case 14: return &e.setupName;
    case 15: return &e.setupSha256;
    case 16: return &e.groups;
    case 17: return &e.result;
    case 18: return &e.differences;
    case 20: return &e.eventId;
    case 22: return &e.arrivedUtc;
    case kPrevHashColumn: return &e.previousHash;
    case kHashColumn: return &e.hash;
    default: return {};
    }
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) without NUL.
bool isCleanUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) {
            return false;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t min = 0;
        std::uint32_t cp = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string eventColumnList()
{
    std::string list;
    for (const FieldInfo& f : kFields) {
        list += std::string(f.column) + ", ";
    }
    return list + "prev_hash, hash";
}

namespace {

std::string checkpointsTable(const SqlDialect& dialect)
{
    const std::string number(dialect.integer);
    return "CREATE TABLE checkpoints (\n    id " + std::string(dialect.rowIdColumn) + ",\n    tree_size " + number +
           " NOT NULL,\n    note TEXT NOT NULL,\n    recorded_utc TEXT NOT NULL\n)";
}

} // namespace

std::vector<std::string> upgradeStatementsFrom1(const SqlDialect& dialect)
{
    return {checkpointsTable(dialect), "CREATE INDEX checkpoints_by_size ON checkpoints (tree_size)"};
}

std::vector<std::string> upgradeStatementsFrom2(const SqlDialect& dialect)
{
    const std::string number(dialect.integer);
    return {
        "ALTER TABLE events ADD COLUMN event_id TEXT",
        "ALTER TABLE events ADD COLUMN station_sequence " + number,
        "ALTER TABLE events ADD COLUMN arrived_utc TEXT",
        "CREATE UNIQUE INDEX events_by_event_id ON events (event_id)",
    };
}

bool hasSpoolFields(const Event& event)
{
    return !event.eventId.empty() || event.stationSequence.has_value() || !event.arrivedUtc.empty();
}

std::vector<std::string> schemaStatements(const SqlDialect& dialect)
{
    const std::string number(dialect.integer);
    const std::string_view timeCollation = dialect.timeCollation;
    std::string events = "CREATE TABLE events (\n";
    for (const FieldInfo& f : kFields) {
        events += "    " + std::string(f.column) + ' ';
        if (f.column == "number") {
            events += number + " PRIMARY KEY";
        } else if (f.kind == FieldKind::Text) {
            events += "TEXT";
            if (f.column == "time_utc" && !timeCollation.empty()) {
                events += " COLLATE " + std::string(timeCollation);
            }
            events += " NOT NULL";
        } else if (f.kind == FieldKind::OptionalText) {
            events += "TEXT";
        } else {
            events += f.column == "utc_offset_minutes" ? "INTEGER" : number;
            events += f.kind == FieldKind::Integer ? " NOT NULL" : "";
        }
        events += ",\n";
    }
    events += "    prev_hash TEXT NOT NULL,\n    hash TEXT NOT NULL\n)";
    return {
        "CREATE TABLE meta (\n    key TEXT PRIMARY KEY,\n    value TEXT NOT NULL\n)",
        events,
        "CREATE INDEX events_by_device ON events (device_id, number)",
        "CREATE INDEX events_by_time ON events (time_utc)",
        "CREATE UNIQUE INDEX events_by_event_id ON events (event_id)",
        "CREATE TABLE chain_head (\n    id INTEGER PRIMARY KEY CHECK (id = 1),\n    number " + number +
            " NOT NULL,\n    hash TEXT NOT NULL\n)",
        checkpointsTable(dialect),
        "CREATE INDEX checkpoints_by_size ON checkpoints (tree_size)",
    };
}

std::optional<std::string> newOrigin()
{
    unsigned char random[16];
    if (RAND_bytes(random, sizeof random) != 1) {
        return std::nullopt;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string origin = "orvcamera.ledger/" + utcNow().substr(0, 10) + "/";
    for (const unsigned char b : random) {
        origin += kDigits[b >> 4];
        origin += kDigits[b & 0x0F];
    }
    return origin;
}

bool isValidOrigin(std::string_view origin)
{
    // A checkpoint's origin is its log's name in the note rules: no space, no '+', no control.
    return isValidKeyName(origin);
}

std::optional<std::string> fieldText(const Event& event, std::size_t field)
{
    switch (field) {
    case 0: return std::to_string(event.number);
    case 2: return std::to_string(event.utcOffsetMinutes);
    case 19:
        return event.clockOffsetSeconds ? std::optional<std::string>(std::to_string(*event.clockOffsetSeconds))
                                        : std::nullopt;
    case 21:
        return event.stationSequence ? std::optional<std::string>(std::to_string(*event.stationSequence))
                                     : std::nullopt;
    case 20:
    case 22: {
        const std::string& text = *textMember(event, field);
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    }
    default: return *textMember(event, field);
    }
}

bool setColumnText(Event& event, std::size_t column, std::optional<std::string_view> text)
{
    switch (column) {
    case 0: {
        const auto n = text ? parseInteger(*text) : std::nullopt;
        if (!n) {
            return false;
        }
        event.number = *n;
        return true;
    }
    case 2: {
        const auto n = text ? parseInteger(*text) : std::nullopt;
        if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) {
            return false;
        }
        event.utcOffsetMinutes = static_cast<int>(*n);
        return true;
    }
    case 19:
        if (!text) {
            event.clockOffsetSeconds.reset();
            return true;
        }
        event.clockOffsetSeconds = parseInteger(*text);
        return event.clockOffsetSeconds.has_value();
    case 21:
        if (!text) {
            event.stationSequence.reset();
            return true;
        }
        event.stationSequence = parseInteger(*text);
        return event.stationSequence.has_value();
    default: {
        std::string* member = textMember(event, column);
        if (member == nullptr) {
            return false;
        }
        member->assign(text ? *text : std::string_view());
        return true;
    }
    }
}

void takeColumn(Event& event, std::size_t column, std::optional<std::string_view> text)
{
    if (setColumnText(event, column, text) || !event.unreadable.empty()) {
        return;
    }
    const std::string_view name = column < kFields.size() ? kFields[column].column
                                  : column == kPrevHashColumn ? std::string_view("prev_hash")
                                                              : std::string_view("hash");
    event.unreadable = "its " + std::string(name) + " holds " +
                       (text ? "\"" + std::string(*text) + "\", not a number" : std::string("nothing (NULL)"));
}

bool isUtcTimeText(std::string_view t)
{
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (t.size() != kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (kShape[i] == 'd' ? !isDigit(t[i]) : t[i] != kShape[i]) {
            return false;
        }
    }
    const auto two = [&](std::size_t at) { return (t[at] - '0') * 10 + (t[at + 1] - '0'); };
    const int month = two(5), day = two(8), hour = two(11), minute = two(14), second = two(17);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 && second <= 59;
}

std::string appendProblem(const Event& event)
{
    if (!isUtcTimeText(event.timeUtc)) {
        return "the event's time \"" + event.timeUtc + "\" is not a UTC time of the form YYYY-MM-DDTHH:MM:SS.mmmZ";
    }
    if (hasSpoolFields(event) && (event.eventId.empty() || !event.stationSequence || *event.stationSequence < 1 ||
                                  !isUtcTimeText(event.arrivedUtc))) {
        return "the event carries some of a spool's fields but not all (event id, a station sequence from 1, "
               "an arrival time of the form YYYY-MM-DDTHH:MM:SS.mmmZ)";
    }
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        if (!isTextKind(kFields[i].kind)) {
            continue;
        }
        if (!isCleanUtf8(fieldText(event, i).value_or(std::string()))) {
            return "the event's " + std::string(kFields[i].name) +
                   " is not valid UTF-8 text (or holds a NUL character)";
        }
    }
    return {};
}

} // namespace orv::ledger::detail
