#include "ledger/sqlite_ledger.h"

#include "ledger/disk_room.h"
#include "ledger/event_fields.h"
#include "ledger/event_sql.h"
#include "ledger/ledger.h"
#include "ledger/sqlite_statement.h"
#include "persist/atomic_file.h"
#include "persist/private_folder.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace orv::ledger {
namespace {

using detail::execute;
using detail::kBusyTimeoutMs;
using detail::openFailure;
using detail::pragmaAnswer;
using detail::rollbackIfOpen;
using detail::Statement;
using detail::useWriteAheadLog;

constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

constexpr detail::SqlDialect kDialect{"INTEGER", "", "INTEGER PRIMARY KEY"};
constexpr detail::ParameterDialect kParameters{'?', "CAST(? AS INTEGER)"};

// What a database holds, judged before anything is written to it.
struct Contents
{
    enum class Kind : std::uint8_t { Empty, Ledger, Foreign, Unreadable } kind = Kind::Empty;
    int version = 0;     // Ledger: its schema_version
    std::string problem; // Foreign, Unreadable, or a Ledger whose schema is incomplete
};

Contents inspect(sqlite3* db)
{
    Contents contents;
    std::set<std::string, std::less<>> tables;
    {
        Statement s(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
        int rc = SQLITE_ERROR;
        while ((rc = s.step()) == SQLITE_ROW) {
            tables.emplace(s.column(0).value_or(""));
        }
        if (rc != SQLITE_DONE) {
            contents.kind = Contents::Kind::Unreadable;
            contents.problem = s.message();
            return contents;
        }
    }
    if (tables.empty()) {
        return contents;
    }
    if (!tables.contains("meta")) {
        contents.kind = Contents::Kind::Foreign;
        contents.problem = "it is a SQLite database of another program (it has no OrvCamera ledger tables)";
        return contents;
    }
    Statement s(db, "SELECT value FROM meta WHERE key = ?1");
    s.bind(1, "schema_version");
    const int rc = s.step();
    const std::string version = rc == SQLITE_ROW ? std::string(s.column(0).value_or("")) : std::string();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        contents.kind = Contents::Kind::Unreadable;
        contents.problem = s.message();
        return contents;
    }
    contents.kind = Contents::Kind::Ledger;
    const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), contents.version);
    if (ec != std::errc() || end != version.data() + version.size() || contents.version < 1) {
        contents.version = 0;
    }
    if (contents.version == 0) {
        contents.kind = Contents::Kind::Foreign;
        contents.problem = "its meta table holds no schema_version this program knows (\"" + version + "\")";
    } else if (contents.version <= kSchemaVersion && (!tables.contains("events") || !tables.contains("chain_head"))) {
        contents.kind = Contents::Kind::Foreign;
        contents.problem = "it has a meta table but lacks the events or chain_head table";
    } else if (contents.version >= 2 && contents.version <= kSchemaVersion && !tables.contains("checkpoints")) {
        contents.kind = Contents::Kind::Foreign;
        contents.problem = "it is a ledger of schema " + std::to_string(contents.version) + " without its checkpoints table";
    }
    return contents;
}

// Refuses what must not be touched; empty when `contents` may be used or initialised.
std::string refusal(const Contents& contents)
{
    switch (contents.kind) {
    case Contents::Kind::Empty: return {};
    case Contents::Kind::Foreign: return contents.problem + "; it is left as it is";
    case Contents::Kind::Unreadable: return "cannot read it: " + contents.problem;
    case Contents::Kind::Ledger:
        if (contents.version > kSchemaVersion) {
            return "it was written by a newer OrvCamera (schema " + std::to_string(contents.version) +
                   "); this one knows up to " + std::to_string(kSchemaVersion);
        }
        return {};
    }
    return {};
}

bool setMeta(sqlite3* db, std::string_view key, std::string_view value, std::string& error)
{
    Statement meta(db, "INSERT OR REPLACE INTO meta (key, value) VALUES (?1, ?2)");
    meta.bind(1, key);
    meta.bind(2, value);
    if (meta.step() != SQLITE_DONE) {
        error = meta.message();
        return false;
    }
    return true;
}

// The origin and the version a ledger of schema 2 carries; `origin` is made here.
bool setOriginAndVersion(sqlite3* db, std::string& error)
{
    const std::optional<std::string> origin = detail::newOrigin();
    if (!origin) {
        error = "the system gives no random bytes for the ledger's origin";
        return false;
    }
    return setMeta(db, "origin", *origin, error) && setMeta(db, "schema_version", std::to_string(kSchemaVersion), error);
}

bool executeAll(sqlite3* db, const std::vector<std::string>& statements, std::string& error)
{
    for (const std::string& statement : statements) {
        if (!execute(db, statement.c_str(), error)) {
            return false;
        }
    }
    return true;
}

// Schema 1 gains the checkpoints and the origin, schema 2 the spool's fields.
bool upgradeFrom(int version, sqlite3* db, std::string& error)
{
    if (version == 1) {
        return executeAll(db, detail::upgradeStatementsFrom1(kDialect), error) &&
               executeAll(db, detail::upgradeStatementsFrom2(kDialect), error) && setOriginAndVersion(db, error);
    }
    return executeAll(db, detail::upgradeStatementsFrom2(kDialect), error) &&
           setMeta(db, "schema_version", std::to_string(kSchemaVersion), error);
}

// The origin in the meta table; empty with `error` when there is none a checkpoint may carry.
std::string readOrigin(sqlite3* db, std::string& error)
{
    Statement s(db, "SELECT value FROM meta WHERE key = 'origin'");
    const int rc = s.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        error = "cannot read its origin: " + s.message();
        return {};
    }
    const std::string origin(rc == SQLITE_ROW ? s.column(0).value_or("") : "");
    if (!detail::isValidOrigin(origin)) {
        error = "its meta table holds no valid origin (\"" + origin + "\"); it is left as it is";
        return {};
    }
    return origin;
}

bool createSchema(sqlite3* db, std::string& error)
{
    for (const std::string& statement : detail::schemaStatements(kDialect)) {
        if (!execute(db, statement.c_str(), error)) {
            return false;
        }
    }
    if (!setOriginAndVersion(db, error)) {
        return false;
    }
    Statement head(db, "INSERT INTO chain_head (id, number, hash) VALUES (1, ?1, ?2)");
    head.bindInteger(1, 0);
    head.bind(2, kGenesisHash);
    if (head.step() != SQLITE_DONE) {
        error = head.message();
        return false;
    }
    return true;
}

// The first 16 bytes of a non-empty file must be SQLite's; an empty file is a new ledger.
// Returns the refusal, or empty.
std::string checkFileBeforeOpening(const fs::path& file, bool& isNew)
{
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    isNew = status.type() == fs::file_type::not_found;
    if (isNew) {
        return {};
    }
    if (ec) {
        return "cannot look at it: " + ec.message();
    }
    if (status.type() != fs::file_type::regular) {
        return "it is not a regular file";
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        return "cannot look at it: " + ec.message();
    }
    if (size == 0) {
        isNew = true;
        return {};
    }
    std::array<char, kSqliteHeader.size()> header{};
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return "cannot read it";
    }
    in.read(header.data(), header.size());
    if (in.gcount() != static_cast<std::streamsize>(header.size()) ||
        std::string_view(header.data(), header.size()) != kSqliteHeader) {
        return "it is not a SQLite database; it is left as it is";
    }
    return {};
}

} // namespace

SqliteLedger::SqliteLedger(sqlite3* db, fs::path file, std::string location)
    : db_(db)
    , file_(std::move(file))
    , location_(std::move(location))
{
}

SqliteLedger::~SqliteLedger()
{
    sqlite3_close_v2(db_);
}

std::unique_ptr<SqliteLedger> SqliteLedger::open(const fs::path& file, std::string& error)
{
    const std::string where = pathUtf8(file);
    const auto refuse = [&](const std::string& why) {
        error = where + ": " + why;
        return nullptr;
    };
    std::error_code ec;
    if (std::string why; file.has_parent_path() && !prepareLedgerFolder(file.parent_path(), why)) {
        return refuse("cannot create its folder" + (why.empty() ? std::string() : ": " + why));
    }
    // SQLite creates the database 0644 less the umask, and its -wal and -shm files with the
    // database's permissions: tightened once the file is known to be a ledger, before the
    // write-ahead log is set up.
    const bool ownerOnly = isPrivateFolder(file.parent_path());
    const auto keepToOwner = [&] {
        if (ownerOnly) {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
                fs::path part = file;
                part += suffix;
                restrictToOwner(part);
            }
        }
    };
    bool isNew = false;
    if (const std::string why = checkFileBeforeOpening(file, isNew); !why.empty()) {
        return refuse(why);
    }

    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(where.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        return refuse("cannot open it: " + why);
    }
    fs::path absolute = fs::absolute(file, ec);
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    if (!ec) {
        absolute = canonical;
    }
    std::unique_ptr<SqliteLedger> ledger(new SqliteLedger(db, absolute, where));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    // Everything up to the refusals only reads.
    std::string why;
    if (!isNew) {
        const auto check = pragmaAnswer(db, "PRAGMA quick_check(1)", why);
        if (!check) {
            // A disk without room for the write-ahead log's shared-memory file fails here as well.
            return refuse(openFailure(db, why, "it is not a readable SQLite database (" + why + ")") +
                          "; it is left as it is");
        }
        if (*check != "ok") {
            return refuse("it is damaged (" + *check + "); it is left as it is");
        }
    }
    Contents contents = inspect(db);
    if (const std::string no = refusal(contents); !no.empty()) {
        return refuse(no);
    }

    keepToOwner();
    // Write-ahead log: readers never wait for the writer. FULL: a commit is on disk before
    // append returns.
    if (!useWriteAheadLog(db, why) || !execute(db, "PRAGMA synchronous = FULL", why)) {
        return refuse("cannot set it up: " + why);
    }
    if (contents.kind != Contents::Kind::Ledger || contents.version < kSchemaVersion) {
        // A new ledger, or one of an older schema. Another process may be creating or upgrading
        // it at this moment: decide again under the write lock.
        if (!execute(db, "BEGIN IMMEDIATE", why)) {
            return refuse("cannot start writing it: " + why);
        }
        contents = inspect(db);
        if (const std::string no = refusal(contents); !no.empty()) {
            rollbackIfOpen(db);
            return refuse(no);
        }
        if (contents.kind == Contents::Kind::Empty && !createSchema(db, why)) {
            rollbackIfOpen(db);
            return refuse("cannot create the ledger's tables: " + why);
        }
        if (contents.kind == Contents::Kind::Ledger && contents.version < kSchemaVersion &&
            !upgradeFrom(contents.version, db, why)) {
            rollbackIfOpen(db);
            return refuse("cannot upgrade its tables to schema " + std::to_string(kSchemaVersion) + ": " + why);
        }
        if (!execute(db, "COMMIT", why)) {
            rollbackIfOpen(db);
            return refuse("cannot create the ledger's tables: " + why);
        }
    }
    ledger->origin_ = readOrigin(db, why);
    if (ledger->origin_.empty()) {
        return refuse(why);
    }
    return ledger;
}

bool SqliteLedger::fail(const std::string& what)
{
    errors_.set(what);
    return false;
}

namespace {

// One row of SELECT eventColumnList() as an event; a value it cannot take makes it unreadable.
void readRow(const Statement& s, Event& event)
{
    for (std::size_t i = 0; i < detail::kColumnCount; ++i) {
        detail::takeColumn(event, i, s.column(static_cast<int>(i)));
    }
}

bool readHead(sqlite3* db, ChainHead& head, std::string& error)
{
    Statement s(db, "SELECT number, hash FROM chain_head WHERE id = 1");
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
        return detail::headFromRow(true, s.column(0), s.column(1), head, error);
    }
    if (rc != SQLITE_DONE) {
        error = "cannot read the chain head: " + s.message();
        return false;
    }
    return detail::headFromRow(false, std::nullopt, std::nullopt, head, error);
}

bool selectEvents(sqlite3* db, const EventFilter& filter, std::vector<Event>& events, std::string& error)
{
    const detail::EventQuery query = detail::selectEventsQuery(filter, kParameters);
    Statement s(db, query.sql);
    for (std::size_t i = 0; i < query.values.size(); ++i) {
        s.bind(static_cast<int>(i + 1), query.values[i]);
    }
    std::vector<Event> read;
    int rc = SQLITE_ERROR;
    while ((rc = s.step()) == SQLITE_ROW) {
        readRow(s, read.emplace_back());
    }
    if (rc != SQLITE_DONE) {
        error = "cannot read the events: " + s.message();
        return false;
    }
    events = std::move(read);
    return true;
}

} // namespace

bool SqliteLedger::append(Event& event)
{
    if (const std::string problem = detail::appendProblem(event); !problem.empty()) {
        return fail(problem);
    }
    std::lock_guard lock(mutex_);
    std::string why;
    if (!execute(db_, "BEGIN IMMEDIATE", why)) {
        return fail("cannot start an append: " + why);
    }
    ChainHead head;
    if (!readHead(db_, head, why)) {
        rollbackIfOpen(db_);
        return fail(why);
    }
    Event chained = detail::chainedAfter(event, head);
    // Numbers bound as integers, as the columns hold them.
    Statement insert(db_, detail::insertEventSql(kParameters));
    for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        const std::optional<std::string> text = detail::fieldText(chained, i);
        if (detail::isTextKind(detail::kFields[i].kind) || !text) {
            insert.bind(index, text);
        } else {
            insert.bindInteger(index, *detail::parseInteger(*text));
        }
    }
    insert.bind(static_cast<int>(detail::kPrevHashColumn + 1), chained.previousHash);
    insert.bind(static_cast<int>(detail::kHashColumn + 1), chained.hash);
    if (insert.step() != SQLITE_DONE) {
        const std::string message = insert.message();
        rollbackIfOpen(db_);
        return fail("cannot record event " + std::to_string(chained.number) + ": " + message);
    }
    Statement update(db_, "UPDATE chain_head SET number = ?1, hash = ?2 WHERE id = 1");
    update.bindInteger(1, chained.number);
    update.bind(2, chained.hash);
    if (update.step() != SQLITE_DONE || sqlite3_changes(db_) != 1) {
        const std::string message = update.message();
        rollbackIfOpen(db_);
        return fail("cannot move the chain head: " + message);
    }
    if (!execute(db_, "COMMIT", why)) {
        rollbackIfOpen(db_);
        return fail("cannot commit event " + std::to_string(chained.number) + ": " + why);
    }
    event = std::move(chained);
    errors_.clear();
    return true;
}

bool SqliteLedger::readEvents(const EventFilter& filter, std::vector<Event>& events)
{
    std::lock_guard lock(mutex_);
    std::string why;
    if (!selectEvents(db_, filter, events, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

std::optional<ChainHead> SqliteLedger::head()
{
    std::lock_guard lock(mutex_);
    ChainHead chainHead;
    std::string why;
    if (!readHead(db_, chainHead, why)) {
        fail(why);
        return std::nullopt;
    }
    errors_.clear();
    return chainHead;
}

namespace {

bool selectCheckpoints(sqlite3* db, std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints,
                       std::string& error)
{
    Statement s(db, "SELECT id, tree_size, note, recorded_utc FROM checkpoints WHERE tree_size >= ?1 ORDER BY id");
    s.bindInteger(1, minSize);
    std::vector<StoredCheckpoint> read;
    int rc = SQLITE_ERROR;
    while ((rc = s.step()) == SQLITE_ROW) {
        StoredCheckpoint& c = read.emplace_back();
        c.id = detail::parseInteger(s.column(0).value_or("")).value_or(0);
        // A size that is no number is -1: no checkpoint's note matches it.
        c.size = detail::parseInteger(s.column(1).value_or("")).value_or(-1);
        c.note = std::string(s.column(2).value_or(""));
        c.recordedUtc = std::string(s.column(3).value_or(""));
    }
    if (rc != SQLITE_DONE) {
        error = "cannot read the checkpoints: " + s.message();
        return false;
    }
    checkpoints = std::move(read);
    return true;
}

} // namespace

bool SqliteLedger::readSnapshot(LedgerSnapshot& snapshot)
{
    std::lock_guard lock(mutex_);
    std::string why;
    // One read transaction: the head, the events and the checkpoints come from the same moment.
    if (!execute(db_, "BEGIN", why)) {
        return fail("cannot start reading: " + why);
    }
    ChainHead head;
    const bool ok = readHead(db_, head, why) && selectEvents(db_, {}, snapshot.events, why) &&
                    selectCheckpoints(db_, 0, snapshot.checkpoints, why);
    rollbackIfOpen(db_);
    if (!ok) {
        return fail(why);
    }
    snapshot.head = head;
    snapshot.origin = origin_;
    errors_.clear();
    return true;
}

bool SqliteLedger::hasRoomForOutcomes(std::string& why) const
{
    return diskHasRoomForOutcomes(file_, location_, why);
}

std::string SqliteLedger::place() const
{
    return pathUtf8(file_);
}

bool SqliteLedger::hashAt(std::int64_t number, std::optional<std::string>& hash)
{
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT hash FROM events WHERE number = ?1");
    s.bindInteger(1, number);
    const int rc = s.step();
    if (rc == SQLITE_DONE) {
        hash.reset();
    } else if (rc == SQLITE_ROW) {
        hash = std::string(s.column(0).value_or(""));
    } else {
        return fail("cannot read event " + std::to_string(number) + ": " + s.message());
    }
    errors_.clear();
    return true;
}

bool SqliteLedger::addCheckpoint(std::int64_t size, const std::string& note)
{
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT INTO checkpoints (tree_size, note, recorded_utc) VALUES (?1, ?2, ?3)");
    s.bindInteger(1, size);
    s.bind(2, note);
    const std::string now = utcNow();
    s.bind(3, now);
    if (s.step() != SQLITE_DONE) {
        return fail("cannot record the checkpoint of " + std::to_string(size) + " events: " + s.message());
    }
    errors_.clear();
    return true;
}

bool SqliteLedger::readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints)
{
    std::lock_guard lock(mutex_);
    std::string why;
    if (!selectCheckpoints(db_, minSize, checkpoints, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

} // namespace orv::ledger
