#pragma once
// What the ledger's SQLite files (a ledger, a station's spool) share: a prepared statement that
// binds and reads text, and the few calls around it.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv::ledger::detail {

// Long enough for several processes appending at once: each holds the write lock only for one
// insert and its sync.
inline constexpr int kBusyTimeoutMs = 15000;

class Statement
{
public:
    Statement(sqlite3* db, std::string_view sql)
        : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK) {
            statement_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return statement_ != nullptr; }

    bool bind(int index, std::optional<std::string_view> text)
    {
        if (!text) {
            return sqlite3_bind_null(statement_, index) == SQLITE_OK;
        }
        return sqlite3_bind_text64(statement_, index, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
               SQLITE_OK;
    }
    bool bindInteger(int index, std::int64_t value)
    {
        return sqlite3_bind_int64(statement_, index, value) == SQLITE_OK;
    }

    int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }

    // Column `index` of the current row as text; nullopt for NULL.
    std::optional<std::string_view> column(int index) const
    {
        if (sqlite3_column_type(statement_, index) == SQLITE_NULL) {
            return std::nullopt;
        }
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
        const int length = sqlite3_column_bytes(statement_, index);
        return text ? std::string_view(text, static_cast<std::size_t>(length)) : std::string_view();
    }

    std::string message() const { return sqlite3_errmsg(db_); }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Why a file could not be opened as a database, the last failure on `db` being `why`: when it was
// the disk's (an I/O error, no room, a file that could not be made: what a full disk gives),
// "cannot open it: WHY (is its disk full?)"; else `otherwise`, what the file's content is called.
// A full disk is never called a damaged file: an operator told so might remove it, events and all.
std::string openFailure(sqlite3* db, const std::string& why, std::string otherwise);

// Runs statements that carry no values: the schema, transactions, pragmas.
bool execute(sqlite3* db, const char* sql, std::string& error);
void rollbackIfOpen(sqlite3* db);
// A pragma's one-word answer ("ok", "wal"), or nullopt with `error`.
std::optional<std::string> pragmaAnswer(sqlite3* db, const char* sql, std::string& error);
// Switches to the write-ahead log, waiting out another process's switch (as long as the busy
// timeout).
bool useWriteAheadLog(sqlite3* db, std::string& error);

} // namespace orv::ledger::detail
