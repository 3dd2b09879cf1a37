#pragma once
// What whoever holds a SQLite ledger file can do behind the stations' backs, done as carefully as
// such a person would: an event rewritten with its hash and the chain head computed again, so the
// chain alone still looks whole; or the newest events dropped together with the checkpoints that
// counted them, and the head set back. Only the stations' keys and witness files can tell.
// Each returns an empty string when done, else what went wrong.

#include "ledger/ledger.h"

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orv::test {

namespace detail {

inline std::string runStatement(sqlite3* db, const std::string& sql,
                                std::initializer_list<std::pair<int, std::string>> texts = {},
                                std::initializer_list<std::pair<int, std::int64_t>> numbers = {})
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return sql + ": " + sqlite3_errmsg(db);
    }
    for (const auto& [index, text] : texts) {
        sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    for (const auto& [index, number] : numbers) {
        sqlite3_bind_int64(statement, index, number);
    }
    const int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE ? std::string() : sql + ": " + sqlite3_errmsg(db);
}

inline std::string eventsOf(const std::string& file, std::vector<ledger::Event>& events)
{
    std::string error;
    const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(file, error);
    if (!opened) {
        return error;
    }
    if (!opened->readEvents({}, events)) {
        return opened->error();
    }
    return events.empty() ? file + " holds no event" : std::string();
}

struct Database
{
    sqlite3* db = nullptr;
    ~Database() { sqlite3_close(db); }
};

} // namespace detail

// The last event's officer after and result replaced, its hash and the chain head computed again.
inline std::string rewriteLastEvent(const std::string& file, const std::string& officerAfter, const std::string& result)
{
    std::vector<ledger::Event> events;
    if (std::string error = detail::eventsOf(file, events); !error.empty()) {
        return error;
    }
    ledger::Event forged = events.back();
    forged.officerAfter = officerAfter;
    forged.result = result;
    forged.hash = ledger::eventHash(forged.previousHash, forged);
    detail::Database d;
    if (sqlite3_open(file.c_str(), &d.db) != SQLITE_OK) {
        return file + ": " + sqlite3_errmsg(d.db);
    }
    std::string error =
        detail::runStatement(d.db, "UPDATE events SET officer_after = ?1, result = ?2, hash = ?3 WHERE number = ?4",
                             {{1, officerAfter}, {2, result}, {3, forged.hash}}, {{4, forged.number}});
    if (error.empty()) {
        error = detail::runStatement(d.db, "UPDATE chain_head SET hash = ?1 WHERE id = 1", {{1, forged.hash}});
    }
    return error;
}

// The last `count` events gone, with every checkpoint that counted them; the head set back.
inline std::string dropLastEvents(const std::string& file, std::int64_t count)
{
    std::vector<ledger::Event> events;
    if (std::string error = detail::eventsOf(file, events); !error.empty()) {
        return error;
    }
    const std::int64_t keep = events.back().number - count;
    const std::string head =
        keep > 0 ? events[static_cast<std::size_t>(keep - 1)].hash : std::string(ledger::kGenesisHash);
    detail::Database d;
    if (sqlite3_open(file.c_str(), &d.db) != SQLITE_OK) {
        return file + ": " + sqlite3_errmsg(d.db);
    }
    std::string error = detail::runStatement(d.db, "DELETE FROM events WHERE number > ?1", {}, {{1, keep}});
    if (error.empty()) {
        error = detail::runStatement(d.db, "DELETE FROM checkpoints WHERE tree_size > ?1", {}, {{1, keep}});
    }
    if (error.empty()) {
        error = detail::runStatement(d.db, "UPDATE chain_head SET number = ?1, hash = ?2 WHERE id = 1", {{2, head}},
                                     {{1, keep}});
    }
    return error;
}

} // namespace orv::test
