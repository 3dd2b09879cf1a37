#include "ledger/sqlite_statement.h"

#include <chrono>
#include <thread>

namespace orv::ledger::detail {

// Runs statements that carry no values: the schema, transactions, pragmas.
bool execute(sqlite3* db, const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) {
        return true;
    }
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

void rollbackIfOpen(sqlite3* db)
{
    if (sqlite3_get_autocommit(db) == 0) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

// A pragma's one-word answer ("ok", "wal"), or nullopt with `error`.
std::optional<std::string> pragmaAnswer(sqlite3* db, const char* sql, std::string& error)
{
    Statement s(db, sql);
    const int rc = s.step();
    if (rc != SQLITE_ROW) {
        error = s.message();
        return std::nullopt;
    }
    return std::string(s.column(0).value_or(""));
}

std::string openFailure(sqlite3* db, const std::string& why, std::string otherwise)
{
    const int code = sqlite3_errcode(db) & 0xFF;
    if (code == SQLITE_IOERR || code == SQLITE_FULL || code == SQLITE_CANTOPEN) {
        return "cannot open it: " + why + " (is its disk full?)";
    }
    return otherwise;
}

// Switches to the write-ahead log. Two processes opening a new file at once can each hold a read
// lock that the other's switch waits for; SQLite answers busy at once rather than wait in a
// deadlock, so this waits and tries again, as long as the busy timeout.
bool useWriteAheadLog(sqlite3* db, std::string& error)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        Statement s(db, "PRAGMA journal_mode = WAL");
        const int rc = s.step();
        if (rc == SQLITE_ROW) {
            return true; // "wal", or what the file system allows (durable all the same)
        }
        if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) {
            error = s.message();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = s.message();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace orv::ledger::detail
