#include "ledger/spool.h"

#include "ledger/disk_room.h"
#include "ledger/event_fields.h"
#include "ledger/sqlite_statement.h"
#include "persist/atomic_file.h"
#include "persist/private_folder.h"

#include <openssl/rand.h>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orv::ledger {
namespace {

using detail::execute;
using detail::rollbackIfOpen;
using detail::Statement;

// The schema of a spool: its id and the outage's state in meta; each waiting event as its
// canonical form (number 0, without the spool's fields) beside its id and sequence. A sequence is
// never given twice, also after the events before it were forwarded and removed (AUTOINCREMENT).
constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS spool_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                                "CREATE TABLE IF NOT EXISTS spooled ("
                                " sequence INTEGER PRIMARY KEY AUTOINCREMENT,"
                                " event_id TEXT NOT NULL UNIQUE,"
                                " device_id TEXT NOT NULL,"
                                " form TEXT NOT NULL);"
                                "CREATE INDEX IF NOT EXISTS spooled_by_device ON spooled (device_id, sequence);";

std::optional<std::string> randomHex(std::size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) {
        return std::nullopt;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : random) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

// Creates `file` owner-only when it does not exist yet, so that SQLite (which gives its -wal and
// -shm files the database's permissions) never has it readable by others, however briefly.
bool createOwnerOnly(const fs::path& file, std::string& why)
{
#ifdef _WIN32
    (void)file;
    (void)why;
    return true; // the user's own profile folder
#else
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno == EEXIST) {
        return true;
    }
    why = std::strerror(errno);
    return false;
#endif
}

std::optional<std::string> metaValue(sqlite3* db, const char* key)
{
    Statement s(db, "SELECT value FROM spool_meta WHERE key = ?1");
    s.bind(1, key);
    if (s.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return std::string(s.column(0).value_or(""));
}

Event eventOfRow(const Statement& s, std::string& problem)
{
    const std::string id(s.column(1).value_or(""));
    std::string why;
    std::optional<Event> event = parseCanonicalForm(s.column(2).value_or(""), why);
    if (!event) {
        problem = "its event " + id + " cannot be read: " + why;
        return {};
    }
    event->eventId = id;
    event->stationSequence = detail::parseInteger(s.column(0).value_or(""));
    return *event;
}

} // namespace

fs::path Spool::fileFor(const fs::path& folder, const std::string& location)
{
    return folder / fs::path("orv_spool-" + sha256Hex(location).substr(0, 16) + ".db");
}

Spool::Spool(sqlite3* db, fs::path file)
    : db_(db)
    , file_(std::move(file))
    , where_(pathUtf8(file_))
{
}

Spool::~Spool()
{
    sqlite3_close_v2(db_);
}

std::unique_ptr<Spool> Spool::open(const fs::path& file, std::string& error)
{
    const std::string where = pathUtf8(file);
    const auto refuse = [&](const std::string& why) {
        error = "the station's spool " + where + ": " + why;
        return nullptr;
    };
    std::string why;
    if (file.has_parent_path() && !prepareLedgerFolder(file.parent_path(), why)) {
        return refuse("cannot create its folder" + (why.empty() ? std::string() : ": " + why));
    }
    // A spool made now that cannot be set up (a full disk) is not left behind as an empty file,
    // which the next start would take for a damaged one.
    std::error_code ec;
    const bool fresh = !fs::exists(file, ec) || fs::file_size(file, ec) == 0;
    std::unique_ptr<Spool> spool;
    const auto failed = [&](const std::string& whyOld, const std::string& cause) {
        if (!fresh) {
            return refuse(whyOld);
        }
        spool.reset();
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            fs::path part = file;
            part += suffix;
            fs::remove(part, ec);
        }
        return refuse("cannot create it: " + cause);
    };
    if (!createOwnerOnly(file, why)) {
        return refuse("cannot create it: " + why);
    }
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(where.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    spool.reset(new Spool(db, file));
    if (rc != SQLITE_OK) {
        const std::string cause = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        return failed("cannot open it: " + cause, cause);
    }
    sqlite3_busy_timeout(db, detail::kBusyTimeoutMs);
    // FULL: an event is on the disk before the camera's outcome is reported (NORMAL may lose the
    // last commits when the power goes).
    if (!detail::useWriteAheadLog(db, why) || !execute(db, "PRAGMA synchronous = FULL", why)) {
        // A disk without room for the spool's shared-memory file fails here as well.
        return failed(detail::openFailure(db, why, "it is not a SQLite database this program can use (" + why + ")") +
                          "; it is left as it is",
                      why);
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        fs::path part = file;
        part += suffix;
        restrictToOwner(part);
    }
    if (!execute(db, "BEGIN IMMEDIATE", why) || !execute(db, kSchema, why)) {
        rollbackIfOpen(db);
        return failed("it is not a spool (" + why + "); it is left as it is", why);
    }
    std::optional<std::string> id = metaValue(db, "spool_id");
    if (!id) {
        id = randomHex(16);
        if (!id) {
            rollbackIfOpen(db);
            return refuse("the system gives no random bytes for its id");
        }
        Statement s(db, "INSERT INTO spool_meta (key, value) VALUES ('spool_id', ?1)");
        s.bind(1, *id);
        if (s.step() != SQLITE_DONE) {
            why = s.message();
            rollbackIfOpen(db);
            return failed("cannot write it: " + why, why);
        }
    }
    if (id->size() != 32 || id->find_first_not_of("0123456789abcdef") != std::string::npos) {
        rollbackIfOpen(db);
        return refuse("its id \"" + *id + "\" is not one a spool has; it is left as it is");
    }
    if (!execute(db, "COMMIT", why)) {
        rollbackIfOpen(db);
        return failed("cannot write it: " + why, why);
    }
    spool->id_ = *id;
    return spool;
}

bool Spool::hasRoomForOutcomes(std::string& why) const
{
    return diskHasRoomForOutcomes(file_, "the station's spool " + where_, why);
}

bool Spool::fail(const std::string& what)
{
    errors_.set("the station's spool " + where_ + ": " + what);
    return false;
}

bool Spool::add(Event& event)
{
    Event recorded = event;
    recorded.number = 0;
    recorded.eventId.clear();
    recorded.stationSequence.reset();
    recorded.arrivedUtc.clear();
    if (const std::string problem = detail::appendProblem(recorded); !problem.empty()) {
        return fail(problem);
    }
    std::lock_guard lock(mutex_);
    std::string why;
    if (!execute(db_, "BEGIN IMMEDIATE", why)) {
        return fail("cannot keep the event: " + why);
    }
    // The sequence the row will get, so that its id can be written with it.
    std::int64_t sequence = 1;
    {
        Statement s(db_, "SELECT seq FROM sqlite_sequence WHERE name = 'spooled'");
        if (s.step() == SQLITE_ROW) {
            sequence = detail::parseInteger(s.column(0).value_or("0")).value_or(0) + 1;
        }
    }
    const std::string id = id_ + ":" + std::to_string(sequence);
    Statement insert(db_, "INSERT INTO spooled (sequence, event_id, device_id, form) VALUES (?1, ?2, ?3, ?4)");
    insert.bindInteger(1, sequence);
    insert.bind(2, id);
    insert.bind(3, recorded.deviceId);
    insert.bind(4, canonicalForm(recorded));
    if (insert.step() != SQLITE_DONE) {
        why = insert.message();
        rollbackIfOpen(db_);
        return fail("cannot keep the event: " + why);
    }
    if (!execute(db_, "COMMIT", why)) {
        rollbackIfOpen(db_);
        return fail("cannot keep the event: " + why);
    }
    event = recorded;
    event.eventId = id;
    event.stationSequence = sequence;
    event.previousHash.clear();
    event.hash.clear();
    errors_.clear();
    return true;
}

bool Spool::waiting(std::size_t limit, std::vector<Event>& events)
{
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT sequence, event_id, form FROM spooled ORDER BY sequence LIMIT ?1");
    s.bindInteger(1, static_cast<std::int64_t>(limit));
    std::vector<Event> read;
    int rc = SQLITE_ERROR;
    while ((rc = s.step()) == SQLITE_ROW) {
        std::string problem;
        read.push_back(eventOfRow(s, problem));
        if (!problem.empty()) {
            return fail(problem);
        }
    }
    if (rc != SQLITE_DONE) {
        return fail("cannot read the waiting events: " + s.message());
    }
    events = std::move(read);
    errors_.clear();
    return true;
}

bool Spool::waitingFor(const std::string& deviceId, std::vector<Event>& events)
{
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT sequence, event_id, form FROM spooled WHERE device_id = ?1 ORDER BY sequence");
    s.bind(1, deviceId);
    std::vector<Event> read;
    int rc = SQLITE_ERROR;
    while ((rc = s.step()) == SQLITE_ROW) {
        std::string problem;
        Event e = eventOfRow(s, problem);
        if (problem.empty()) {
            read.push_back(std::move(e)); // an unreadable one is named when it is forwarded
        }
    }
    if (rc != SQLITE_DONE) {
        return fail("cannot read the waiting events: " + s.message());
    }
    events = std::move(read);
    errors_.clear();
    return true;
}

bool Spool::markForwarded(const std::vector<Event>& events)
{
    if (events.empty()) {
        return true;
    }
    std::lock_guard lock(mutex_);
    std::string why;
    if (!execute(db_, "BEGIN IMMEDIATE", why)) {
        return fail("cannot note the forwarded events: " + why);
    }
    Statement remove(db_, "DELETE FROM spooled WHERE sequence <= ?1");
    remove.bindInteger(1, events.back().stationSequence.value_or(0));
    std::int64_t forwarded = 0;
    if (const std::optional<std::string> before = metaValue(db_, "forwarded")) {
        forwarded = detail::parseInteger(*before).value_or(0);
    }
    if (remove.step() != SQLITE_DONE || !setMeta("forwarded", std::to_string(forwarded + sqlite3_changes(db_))) ||
        !setMeta("last_forwarded_utc", utcNow()) || !execute(db_, "COMMIT", why)) {
        why = why.empty() ? std::string(sqlite3_errmsg(db_)) : why;
        rollbackIfOpen(db_);
        return fail("cannot note the forwarded events: " + why);
    }
    errors_.clear();
    return true;
}

bool Spool::setMeta(const std::string& key, const std::string& value)
{
    Statement s(db_, "INSERT INTO spool_meta (key, value) VALUES (?1, ?2) "
                     "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
    s.bind(1, key);
    s.bind(2, value);
    return s.step() == SQLITE_DONE;
}

bool Spool::noteUnreachable(const std::string& why, bool refused)
{
    std::lock_guard lock(mutex_);
    std::string error;
    if (!execute(db_, "BEGIN IMMEDIATE", error)) {
        return fail("cannot note the shared ledger's state: " + error);
    }
    const bool ok = (metaValue(db_, "unreachable_since") || setMeta("unreachable_since", utcNow())) &&
                    setMeta("last_error", oneLine(why)) && setMeta("refused", refused ? "1" : "0") &&
                    execute(db_, "COMMIT", error);
    if (!ok) {
        rollbackIfOpen(db_);
        return fail("cannot note the shared ledger's state: " + (error.empty() ? sqlite3_errmsg(db_) : error));
    }
    errors_.clear();
    return true;
}

bool Spool::noteReached()
{
    std::lock_guard lock(mutex_);
    std::string error;
    if (!execute(db_, "DELETE FROM spool_meta WHERE key IN ('unreachable_since', 'last_error', 'refused')", error)) {
        return fail("cannot note the shared ledger's state: " + error);
    }
    errors_.clear();
    return true;
}

bool Spool::claimOrigin(const std::string& origin, std::string& held)
{
    std::lock_guard lock(mutex_);
    std::string error;
    if (!execute(db_, "BEGIN IMMEDIATE", error)) {
        return fail("cannot read it: " + error);
    }
    const std::optional<std::string> kept = metaValue(db_, "origin");
    if (kept && *kept != origin) {
        rollbackIfOpen(db_);
        held = *kept;
        errors_.clear();
        return false;
    }
    if (!kept && (!setMeta("origin", origin) || !execute(db_, "COMMIT", error))) {
        rollbackIfOpen(db_);
        return fail("cannot write it: " + (error.empty() ? sqlite3_errmsg(db_) : error));
    }
    rollbackIfOpen(db_);
    errors_.clear();
    return true;
}

bool Spool::status(SpoolStatus& status)
{
    std::lock_guard lock(mutex_);
    std::string error;
    if (!execute(db_, "BEGIN", error)) {
        return fail("cannot read it: " + error);
    }
    SpoolStatus read;
    Statement count(db_, "SELECT count(*), (SELECT form FROM spooled ORDER BY sequence LIMIT 1) FROM spooled");
    if (count.step() != SQLITE_ROW) {
        const std::string why = count.message();
        rollbackIfOpen(db_);
        return fail("cannot read it: " + why);
    }
    read.waiting = detail::parseInteger(count.column(0).value_or("0")).value_or(0);
    if (const std::optional<std::string_view> form = count.column(1)) {
        std::string ignored;
        if (const std::optional<Event> oldest = parseCanonicalForm(*form, ignored)) {
            read.oldestWaitingUtc = oldest->timeUtc;
        }
    }
    read.unreachableSinceUtc = metaValue(db_, "unreachable_since").value_or("");
    read.lastError = metaValue(db_, "last_error").value_or("");
    read.refused = metaValue(db_, "refused").value_or("0") == "1";
    read.lastForwardedUtc = metaValue(db_, "last_forwarded_utc").value_or("");
    read.forwarded = detail::parseInteger(metaValue(db_, "forwarded").value_or("0")).value_or(0);
    read.origin = metaValue(db_, "origin").value_or("");
    rollbackIfOpen(db_);
    status = read;
    errors_.clear();
    return true;
}

} // namespace orv::ledger
