#pragma once
// What both backends say in SQL about events, the same but for the dialect: the event an append
// adds after the chain head and its INSERT, the SELECT an EventFilter asks for, the head read from
// its row. Each backend binds the values and runs the statements its own way.

#include "ledger/ledger.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::ledger::detail {

// How a backend writes a parameter: its placeholder ('?' for "?1", '$' for "$1"), and a parameter
// bound as text read as a 64-bit integer, '?' standing for the parameter.
struct ParameterDialect
{
    char placeholder;
    std::string_view integerCast; // "CAST(? AS INTEGER)" / "?::bigint"
};

// The head as read from its row (number and hash as text); false with the reason in `error` when
// the row is missing or its number is not one.
bool headFromRow(bool rowPresent, std::optional<std::string_view> number, std::optional<std::string_view> hash,
                 ChainHead& head, std::string& error);

// `event` as appended after `head`: numbered after it, chained to its hash, hashed.
Event chainedAfter(const Event& event, const ChainHead& head);

// "INSERT INTO events (columns) VALUES (?1, ..., ?22)" with the dialect's placeholders.
std::string insertEventSql(const ParameterDialect& dialect);
// The INSERT's values in column order: each field's text (nullopt: NULL), then the two hashes.
std::vector<std::optional<std::string>> insertEventValues(const Event& chained);

// "SELECT columns FROM events [WHERE ...] ORDER BY number" for `filter`, and the texts its
// parameters are bound to, in order; empty filter fields add no condition.
struct EventQuery
{
    std::string sql;
    std::vector<std::string> values;
};
EventQuery selectEventsQuery(const EventFilter& filter, const ParameterDialect& dialect);

} // namespace orv::ledger::detail
