#include "ledger/event_sql.h"

#include "ledger/event_fields.h"

namespace orv::ledger::detail {

bool headFromRow(bool rowPresent, std::optional<std::string_view> number, std::optional<std::string_view> hash,
                 ChainHead& head, std::string& error)
{
    if (!rowPresent) {
        error = "the chain head is missing";
        return false;
    }
    const std::optional<std::int64_t> parsed = parseInteger(number.value_or(""));
    if (!parsed) {
        error = "the chain head's number is not a number";
        return false;
    }
    head.number = *parsed;
    head.hash = std::string(hash.value_or(""));
    return true;
}

Event chainedAfter(const Event& event, const ChainHead& head)
{
    Event chained = event;
    chained.number = head.number + 1;
    chained.previousHash = head.hash;
    chained.hash = eventHash(chained.previousHash, chained);
    return chained;
}

std::string insertEventSql(const ParameterDialect& dialect)
{
    std::string sql = "INSERT INTO events (" + eventColumnList() + ") VALUES (";
    for (std::size_t i = 1; i <= kColumnCount; ++i) {
        sql += dialect.placeholder + std::to_string(i) + (i < kColumnCount ? ", " : ")");
    }
    return sql;
}

std::vector<std::optional<std::string>> insertEventValues(const Event& chained)
{
    std::vector<std::optional<std::string>> values;
    values.reserve(kColumnCount);
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        values.push_back(fieldText(chained, i));
    }
    values.emplace_back(chained.previousHash);
    values.emplace_back(chained.hash);
    return values;
}

EventQuery selectEventsQuery(const EventFilter& filter, const ParameterDialect& dialect)
{
    EventQuery query{"SELECT " + eventColumnList() + " FROM events", {}};
    const auto condition = [&](std::string value, std::string_view test) {
        if (value.empty()) {
            return;
        }
        query.values.push_back(std::move(value));
        const std::string placeholder = dialect.placeholder + std::to_string(query.values.size());
        std::string clause(test);
        for (std::size_t at = clause.find('?'); at != std::string::npos;
             at = clause.find('?', at + placeholder.size())) {
            clause.replace(at, 1, placeholder);
        }
        query.sql += (query.values.size() == 1 ? " WHERE " : " AND ") + clause;
    };
    condition(filter.deviceId, "device_id = ?");
    condition(filter.officerId, "(officer_before = ? OR officer_after = ?)");
    condition(filter.sinceUtc, "time_utc >= ?");
    condition(filter.untilUtc, "time_utc <= ?");
    if (filter.afterNumber > 0) {
        condition(std::to_string(filter.afterNumber), "number > " + std::string(dialect.integerCast));
    }
    if (filter.throughNumber > 0) {
        condition(std::to_string(filter.throughNumber), "number <= " + std::string(dialect.integerCast));
    }
    query.sql += " ORDER BY number";
    return query;
}

} // namespace orv::ledger::detail
