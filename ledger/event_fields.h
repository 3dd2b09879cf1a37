#pragma once
// The event's fields as both backends, the canonical form and the CSV export name them, in one
// fixed order, with their text forms; and what an event must satisfy before it is appended.

#include "ledger/ledger.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger::detail {

enum class FieldKind : std::uint8_t {
    Integer,         // a decimal number, always present
    Text,            // UTF-8 text, possibly empty
    OptionalInteger, // a decimal number or absent (NULL in the tables, empty in the canonical form)
    OptionalText,    // UTF-8 text; empty is NULL in the tables (so that a unique column allows many)
};

struct FieldInfo
{
    std::string_view name;   // in the canonical form and the CSV header
    std::string_view column; // in the events table
    FieldKind kind;
};

// Every field the hash covers, in canonical order. The two hashes follow in the tables and the
// CSV as prev_hash / hash (previous_hash / hash in the CSV).
inline constexpr std::array<FieldInfo, 23> kFields = {{
    {"number", "number", FieldKind::Integer},
    {"time_utc", "time_utc", FieldKind::Text},
    {"utc_offset_minutes", "utc_offset_minutes", FieldKind::Integer},
    {"station", "station", FieldKind::Text},
    {"operator", "operator_name", FieldKind::Text},
    {"tool", "tool", FieldKind::Text},
    {"tool_version", "tool_version", FieldKind::Text},
    {"kind", "kind", FieldKind::Text},
    {"device_id", "device_id", FieldKind::Text},
    {"where", "place", FieldKind::Text},
    {"officer_before", "officer_before", FieldKind::Text},
    {"officer_after", "officer_after", FieldKind::Text},
    {"unit_before", "unit_before", FieldKind::Text},
    {"unit_after", "unit_after", FieldKind::Text},
    {"setup_name", "setup_name", FieldKind::Text},
    {"setup_sha256", "setup_sha256", FieldKind::Text},
    {"groups", "groups_written", FieldKind::Text},
    {"result", "result", FieldKind::Text},
    {"differences", "differences", FieldKind::Text},
    {"clock_offset_seconds", "clock_offset_seconds", FieldKind::OptionalInteger},
    {"event_id", "event_id", FieldKind::OptionalText},
    {"station_sequence", "station_sequence", FieldKind::OptionalInteger},
    {"arrived_utc", "arrived_utc", FieldKind::OptionalText},
}};
// The fields of canonical form 1 (and of every ledger written before schema 3): the first 20.
inline constexpr std::size_t kFieldsOfForm1 = 20;
// Whether the field is one of text (always present, or empty for NULL).
constexpr bool isTextKind(FieldKind kind)
{
    return kind == FieldKind::Text || kind == FieldKind::OptionalText;
}
// Whether an event carries the fields a spool gives (any of them).
bool hasSpoolFields(const Event& event);

// Column positions of the two hashes after the fields.
inline constexpr std::size_t kPrevHashColumn = kFields.size();
inline constexpr std::size_t kHashColumn = kFields.size() + 1;
inline constexpr std::size_t kColumnCount = kFields.size() + 2;

// "number, time_utc, ..., clock_offset_seconds, prev_hash, hash": the events table's columns in
// the order above, for INSERT and SELECT.
std::string eventColumnList();

// How a backend names what the schema needs: the 64-bit integer type ("INTEGER" in SQLite,
// "BIGINT" in PostgreSQL), what time_utc is compared by ("" for the default) and a key column
// numbered by the database in the order rows are added.
struct SqlDialect
{
    std::string_view integer;
    std::string_view timeCollation;
    std::string_view rowIdColumn; // "INTEGER PRIMARY KEY" / "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"
};

// The statements that create the ledger's tables (meta, events and its indexes, chain_head,
// checkpoints), the same for both backends but for `dialect`.
std::vector<std::string> schemaStatements(const SqlDialect& dialect);
// What a ledger of schema 1 lacks: the checkpoints table. The origin and the version are set by
// the backend with the values it was given.
std::vector<std::string> upgradeStatementsFrom1(const SqlDialect& dialect);
// What a ledger of schema 2 lacks: the columns of an event that came through a spool, and the
// unique index on its event id.
std::vector<std::string> upgradeStatementsFrom2(const SqlDialect& dialect);

// A new origin: "orvcamera.ledger/" the UTC date "/" 32 random hex digits. Nullopt when the
// system gives no random bytes.
std::optional<std::string> newOrigin();
// Whether `origin` is one a checkpoint may carry (non-empty UTF-8, no Unicode space, no '+', no
// control character).
bool isValidOrigin(std::string_view origin);

// A whole decimal number and nothing else; nullopt otherwise.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The field's value as text; nullopt only for an absent optional number.
std::optional<std::string> fieldText(const Event& event, std::size_t field);
// Sets column `column` (a field, or one of the two hashes) from its text (nullopt: NULL). False
// when a number column holds no number or is out of range.
bool setColumnText(Event& event, std::size_t column, std::optional<std::string_view> text);

// Sets column `column` from a row as setColumnText does; a value it cannot take leaves the field
// as it was and, the first time, says so in event.unreadable ("its utc_offset_minutes holds
// \"abc\", not a number").
void takeColumn(Event& event, std::size_t column, std::optional<std::string_view> text);

// Whether `text` is a time in the one form timeUtc carries: "YYYY-MM-DDTHH:MM:SS.mmmZ".
bool isUtcTimeText(std::string_view text);

// Why `event` cannot be appended (empty: it can): every text valid UTF-8 without NUL characters
// (PostgreSQL's text cannot hold NUL, and an altered text would no longer match its hash), and a
// time in the form the time filters compare.
std::string appendProblem(const Event& event);

} // namespace orv::ledger::detail
