#include "ledger/postgres_ledger.h"

#include "ledger/event_fields.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace orv::ledger {
namespace {

// Serialises creating the tables when two stations open a new database at once. Advisory locks
// are per database; the number is the ledger's own.
constexpr const char* kSchemaLockKey = "7238105526394470101";

constexpr const char* kSessionSettings[] = {
    // A commit is durable before append returns, whatever the server's default.
    "SET synchronous_commit = on",
    // Another station holds the chain head only for one insert; waiting longer means it is stuck.
    "SET lock_timeout = '30s'",
    "SET client_min_messages = warning",
};

struct ResultClear
{
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;
using Params = std::vector<std::optional<std::string>>;

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// Runs one statement with its values as parameters ($1, $2, ...; nullopt: NULL). Null with
// `error` when it failed.
Result run(PGconn* connection, const std::string& sql, const Params& params, std::string& error)
{
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) {
        values.push_back(p ? p->c_str() : nullptr);
    }
    Result result(PQexecParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char* message = result ? PQresultErrorMessage(result.get()) : "";
        error = trimmed(*message ? message : PQerrorMessage(connection));
        return nullptr;
    }
    return result;
}

struct Statement
{
    std::string sql;
    Params params;
};

// Sends `statements` at once and waits once for all their results (libpq's pipeline mode): one
// round trip to the server rather than one per statement. `results` holds one result per
// statement that answered; false with `error` from the first that failed (those after it were
// not run). A connection left in pipeline mode (lost half-way) is reset by the next call.
bool runBatch(PGconn* connection, const std::vector<Statement>& statements, std::vector<Result>& results,
              std::string& error)
{
    results.clear();
    if (PQenterPipelineMode(connection) != 1) {
        error = trimmed(PQerrorMessage(connection));
        return false;
    }
    for (const Statement& statement : statements) {
        std::vector<const char*> values;
        for (const auto& p : statement.params) {
            values.push_back(p ? p->c_str() : nullptr);
        }
        if (PQsendQueryParams(connection, statement.sql.c_str(), static_cast<int>(values.size()), nullptr,
                              values.data(), nullptr, nullptr, 0) != 1) {
            error = trimmed(PQerrorMessage(connection));
            return false;
        }
    }
    if (PQpipelineSync(connection) != 1) {
        error = trimmed(PQerrorMessage(connection));
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; i < statements.size(); ++i) {
        Result result(PQgetResult(connection));
        if (!result) {
            error = "the connection was lost: " + trimmed(PQerrorMessage(connection));
            return false;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (ok && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error = trimmed(PQresultErrorMessage(result.get()));
            ok = false;
        }
        results.push_back(std::move(result));
        PQclear(PQgetResult(connection)); // the end of this statement's results
    }
    const Result sync(PQgetResult(connection));
    if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC || PQexitPipelineMode(connection) != 1) {
        if (ok) {
            error = "the connection was lost: " + trimmed(PQerrorMessage(connection));
        }
        return false;
    }
    return ok;
}

bool runCommand(PGconn* connection, const std::string& sql, std::string& error)
{
    return run(connection, sql, {}, error) != nullptr;
}

void rollbackIfOpen(PGconn* connection)
{
    const PGTransactionStatusType state = PQtransactionStatus(connection);
    if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR) {
        PQclear(PQexec(connection, "ROLLBACK"));
    }
}

// COMMIT of a transaction that failed on the way answers ROLLBACK, which is no error to libpq.
bool commit(PGconn* connection, std::string& error)
{
    const Result result = run(connection, "COMMIT", {}, error);
    if (!result) {
        return false;
    }
    if (std::string_view(PQcmdStatus(result.get())) != "COMMIT") {
        error = "the transaction was rolled back";
        return false;
    }
    return true;
}

std::optional<std::string> value(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column)) {
        return std::nullopt;
    }
    return std::string(PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column)));
}

std::string hostAndPort(std::string host, const std::string& port)
{
    if (host.find(':') != std::string::npos && host.find('/') == std::string::npos) {
        host = "[" + host + "]";
    }
    return host + ":" + port;
}

std::string describe(const std::string& db, const std::string& host, const std::string& port, const std::string& user)
{
    return "PostgreSQL database " + db + " on " + hostAndPort(host, port) + " as " + user;
}

struct ConninfoFree
{
    void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};
using Conninfo = std::unique_ptr<PQconninfoOption, ConninfoFree>;

std::string optionValue(const PQconninfoOption* options, std::string_view keyword)
{
    for (const PQconninfoOption* o = options; o && o->keyword; ++o) {
        if (keyword == o->keyword && o->val && *o->val) {
            return o->val;
        }
    }
    return {};
}

std::string describeParsed(const PQconninfoOption* options)
{
    // What libpq would take from the environment (PGHOST, PGUSER, ...) or its built-in defaults.
    const Conninfo defaults(PQconndefaults());
    const auto pick = [&](std::string_view keyword) {
        std::string v = optionValue(options, keyword);
        return v.empty() ? optionValue(defaults.get(), keyword) : v;
    };
    const std::string user = pick("user");
    std::string db = pick("dbname");
    std::string host = pick("host");
    if (host.empty()) {
        host = pick("hostaddr");
    }
    std::string port = pick("port");
    return describe(db.empty() ? user : db, host.empty() ? "the default socket" : host, port.empty() ? "5432" : port,
                    user);
}

// The location's words, refused when it carries a password.
bool parseLocation(const std::string& location, Conninfo& options, std::string& error)
{
    char* message = nullptr;
    options.reset(PQconninfoParse(location.c_str(), &message));
    if (!options) {
        error = "not a valid PostgreSQL location: " + trimmed(message ? message : "libpq cannot parse it");
        PQfreemem(message);
        return false;
    }
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (std::string_view(o->keyword) == "password" && o->val) {
            error = describeParsed(options.get()) +
                    ": the location carries a password, which would show in command lines, settings and "
                    "messages; give it through the password file (~/.pgpass, or the file PGPASSFILE names) or "
                    "PGPASSWORD instead";
            return false;
        }
    }
    return true;
}

bool setUpSession(PGconn* connection, std::string& error)
{
    for (const char* setting : kSessionSettings) {
        if (!runCommand(connection, setting, error)) {
            return false;
        }
    }
    return true;
}

bool isTrue(const PGresult* result, int column)
{
    return value(result, 0, column).value_or("") == "t";
}

// Creates the tables in a database that has none; refuses (and alters nothing in) one whose
// tables are not a ledger's or were written by a newer schema. Under an advisory lock, so two
// stations opening a new database at once create the tables once.
bool ensureSchema(PGconn* connection, std::string& error)
{
    std::string why;
    const auto give = [&](std::string text) {
        rollbackIfOpen(connection);
        error = std::move(text);
        return false;
    };
    if (!runCommand(connection, "BEGIN", why) ||
        !run(connection, "SELECT pg_advisory_xact_lock($1::bigint)", {kSchemaLockKey}, why)) {
        return give("cannot look at the ledger's tables: " + why);
    }
    const Result tables = run(connection,
                              "SELECT to_regclass('meta') IS NOT NULL, to_regclass('events') IS NOT NULL, "
                              "to_regclass('chain_head') IS NOT NULL",
                              {}, why);
    if (!tables) {
        return give("cannot look at the ledger's tables: " + why);
    }
    const bool hasMeta = isTrue(tables.get(), 0);
    const bool hasEvents = isTrue(tables.get(), 1);
    const bool hasHead = isTrue(tables.get(), 2);
    if (hasMeta) {
        const Result version = run(connection, "SELECT value FROM meta WHERE key = $1", {"schema_version"}, why);
        if (!version) {
            return give("cannot read the ledger's schema version: " + why);
        }
        const std::string text = PQntuples(version.get()) == 1 ? value(version.get(), 0, 0).value_or("") : "";
        char* end = nullptr;
        const long number = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || number < 1) {
            return give("its meta table holds no schema_version this program knows (\"" + text +
                        "\"); it is left as it is");
        }
        if (number > kSchemaVersion) {
            return give("it was written by a newer OrvCamera (schema " + std::to_string(number) +
                        "); this one knows up to " + std::to_string(kSchemaVersion));
        }
        if (!hasEvents || !hasHead) {
            return give("it has a meta table but lacks the events or chain_head table; it is left as it is");
        }
        rollbackIfOpen(connection);
        return true;
    }
    if (hasEvents || hasHead) {
        return give("it holds an events or chain_head table of another program; it is left as it is");
    }
    for (const std::string& statement : detail::schemaStatements("BIGINT", "\"C\"")) {
        if (!runCommand(connection, statement, why)) {
            return give("cannot create the ledger's tables: " + why);
        }
    }
    if (!run(connection, "INSERT INTO meta (key, value) VALUES ($1, $2)",
             {"schema_version", std::to_string(kSchemaVersion)}, why) ||
        !run(connection, "INSERT INTO chain_head (id, number, hash) VALUES (1, $1, $2)",
             {"0", std::string(kGenesisHash)}, why) ||
        !commit(connection, why)) {
        return give("cannot create the ledger's tables: " + why);
    }
    return true;
}

bool readHead(PGconn* connection, ChainHead& head, std::string& error)
{
    const Result result = run(connection, "SELECT number, hash FROM chain_head WHERE id = 1", {}, error);
    if (!result) {
        error = "cannot read the chain head: " + error;
        return false;
    }
    if (PQntuples(result.get()) != 1) {
        error = "the chain head is missing";
        return false;
    }
    Event scratch;
    if (!detail::setColumnText(scratch, 0, value(result.get(), 0, 0))) {
        error = "the chain head's number is not a number";
        return false;
    }
    head.number = scratch.number;
    head.hash = value(result.get(), 0, 1).value_or("");
    return true;
}

bool selectEvents(PGconn* connection, const EventFilter& filter, std::vector<Event>& events, std::string& error)
{
    std::string sql = "SELECT " + detail::eventColumnList() + " FROM events";
    Params params;
    const auto condition = [&](const std::string& v, const std::string& test) {
        if (v.empty()) {
            return;
        }
        params.emplace_back(v);
        const std::string placeholder = "$" + std::to_string(params.size());
        std::string clause = test;
        for (std::size_t at = clause.find('?'); at != std::string::npos;
             at = clause.find('?', at + placeholder.size())) {
            clause.replace(at, 1, placeholder);
        }
        sql += (params.size() == 1 ? " WHERE " : " AND ") + clause;
    };
    condition(filter.deviceId, "device_id = ?");
    condition(filter.officerId, "(officer_before = ? OR officer_after = ?)");
    condition(filter.sinceUtc, "time_utc >= ?");
    condition(filter.untilUtc, "time_utc <= ?");
    sql += " ORDER BY number";

    const Result result = run(connection, sql, params, error);
    if (!result) {
        error = "cannot read the events: " + error;
        return false;
    }
    const int rows = PQntuples(result.get());
    std::vector<Event> read(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < detail::kColumnCount; ++column) {
            const auto text = value(result.get(), row, static_cast<int>(column));
            if (!detail::setColumnText(read[static_cast<std::size_t>(row)], column, text)) {
                error = "event " + value(result.get(), row, 0).value_or("?") + ": its " +
                        std::string(detail::kFields[column].column) + " holds \"" + text.value_or("NULL") +
                        "\", not a number";
                return false;
            }
        }
    }
    events = std::move(read);
    return true;
}

} // namespace

std::string describePostgresLocation(const std::string& location, std::string& error)
{
    Conninfo options;
    if (!parseLocation(location, options, error)) {
        return {};
    }
    return describeParsed(options.get());
}

PostgresLedger::PostgresLedger(PGconn* connection, std::string location)
    : connection_(connection)
    , location_(std::move(location))
{
}

PostgresLedger::~PostgresLedger()
{
    PQfinish(connection_);
}

std::unique_ptr<PostgresLedger> PostgresLedger::open(const std::string& location, std::string& error)
{
    Conninfo options;
    if (!parseLocation(location, options, error)) {
        return nullptr;
    }
    const std::string described = describeParsed(options.get());

    // The parsed words as they are (dbname is not expanded again), UTF-8 on the wire, and a limit
    // on connecting unless the location sets one.
    std::vector<const char*> keywords;
    std::vector<const char*> values;
    bool hasTimeout = false;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (o->val && std::string_view(o->keyword) != "client_encoding") {
            keywords.push_back(o->keyword);
            values.push_back(o->val);
            hasTimeout = hasTimeout || std::string_view(o->keyword) == "connect_timeout";
        }
    }
    keywords.push_back("client_encoding");
    values.push_back("UTF8");
    keywords.push_back("fallback_application_name");
    values.push_back("OrvCamera ledger");
    if (!hasTimeout) {
        keywords.push_back("connect_timeout");
        values.push_back("10");
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);

    PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 0);
    if (connection == nullptr) {
        error = described + ": cannot connect: out of memory";
        return nullptr;
    }
    std::unique_ptr<PostgresLedger> ledger(new PostgresLedger(connection, described));
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    if (PQstatus(connection) != CONNECTION_OK) {
        error = described + ": cannot connect: " + trimmed(PQerrorMessage(connection));
        return nullptr;
    }
    const char* host = PQhost(connection);
    ledger->location_ = describe(PQdb(connection), host ? host : "", PQport(connection), PQuser(connection));

    std::string why;
    if (!setUpSession(connection, why)) {
        error = ledger->location_ + ": cannot set up the session: " + why;
        return nullptr;
    }
    if (!ensureSchema(connection, why)) {
        error = ledger->location_ + ": " + why;
        return nullptr;
    }
    return ledger;
}

bool PostgresLedger::fail(const std::string& what)
{
    errors_.set(what);
    return false;
}

bool PostgresLedger::ensureConnected(std::string& error)
{
    if (PQstatus(connection_) != CONNECTION_OK || PQpipelineStatus(connection_) != PQ_PIPELINE_OFF) {
        PQreset(connection_);
        if (PQstatus(connection_) != CONNECTION_OK) {
            error = "lost the connection: " + trimmed(PQerrorMessage(connection_));
            return false;
        }
        if (!setUpSession(connection_, error)) {
            return false;
        }
    }
    rollbackIfOpen(connection_);
    return true;
}

bool PostgresLedger::withConnection(const std::function<bool(std::string&)>& work, std::string& error)
{
    if (!ensureConnected(error)) {
        return false;
    }
    if (work(error)) {
        return true;
    }
    // A connection that broke at its first use since the server restarted: once more on a new one.
    // The work changed nothing, having failed.
    if (PQstatus(connection_) != CONNECTION_BAD) {
        return false;
    }
    std::string again;
    if (!ensureConnected(again)) {
        error += "; " + again;
        return false;
    }
    error.clear();
    return work(error);
}

bool PostgresLedger::append(Event& event)
{
    if (const std::string problem = detail::appendProblem(event); !problem.empty()) {
        return fail(problem);
    }
    std::lock_guard lock(mutex_);
    const auto abandon = [&](const std::string& what) {
        rollbackIfOpen(connection_);
        return fail(what);
    };
    // Two round trips: the row lock on the head (which serialises appends from every station),
    // then the event, the head and the commit together.
    std::vector<Result> results;
    const auto lockHead = [&](std::string& error) {
        if (runBatch(connection_, {{"BEGIN", {}}, {"SELECT number, hash FROM chain_head WHERE id = 1 FOR UPDATE", {}}},
                     results, error)) {
            return true;
        }
        error = "cannot read the chain head: " + error;
        return false;
    };
    std::string why;
    if (!withConnection(lockHead, why)) {
        return abandon(why);
    }
    why.clear();
    Event scratch;
    if (PQntuples(results[1].get()) != 1 || !detail::setColumnText(scratch, 0, value(results[1].get(), 0, 0))) {
        return abandon("the chain head is missing");
    }
    Event chained = event;
    chained.number = scratch.number + 1;
    chained.previousHash = value(results[1].get(), 0, 1).value_or("");
    chained.hash = eventHash(chained.previousHash, chained);

    Statement insert{"INSERT INTO events (" + detail::eventColumnList() + ") VALUES (", {}};
    for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
        insert.params.push_back(detail::fieldText(chained, i));
    }
    insert.params.emplace_back(chained.previousHash);
    insert.params.emplace_back(chained.hash);
    for (std::size_t i = 1; i <= insert.params.size(); ++i) {
        insert.sql += "$" + std::to_string(i) + (i < insert.params.size() ? ", " : ")");
    }
    const bool done = runBatch(
        connection_,
        {insert,
         {"UPDATE chain_head SET number = $1, hash = $2 WHERE id = 1", {std::to_string(chained.number), chained.hash}},
         {"COMMIT", {}}},
        results, why);
    if (!done || std::string_view(PQcmdTuples(results[1].get())) != "1" ||
        std::string_view(PQcmdStatus(results[2].get())) != "COMMIT") {
        // A connection lost during COMMIT leaves it unknown whether the event was recorded.
        return abandon("cannot record event " + std::to_string(chained.number) + ": " +
                       (why.empty() ? std::string("the chain head did not move") : why));
    }
    event = std::move(chained);
    errors_.clear();
    return true;
}

bool PostgresLedger::readEvents(const EventFilter& filter, std::vector<Event>& events)
{
    std::lock_guard lock(mutex_);
    std::string why;
    if (!withConnection([&](std::string& error) { return selectEvents(connection_, filter, events, error); }, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

std::optional<ChainHead> PostgresLedger::head()
{
    std::lock_guard lock(mutex_);
    std::string why;
    ChainHead chainHead;
    if (!withConnection([&](std::string& error) { return readHead(connection_, chainHead, error); }, why)) {
        fail(why);
        return std::nullopt;
    }
    errors_.clear();
    return chainHead;
}

bool PostgresLedger::readChain(std::vector<Event>& events, ChainHead& chainHead)
{
    std::lock_guard lock(mutex_);
    std::string why;
    const auto read = [&](std::string& error) {
        // One snapshot for the head and the events.
        if (!runCommand(connection_, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error)) {
            error = "cannot start reading: " + error;
            return false;
        }
        const bool ok = readHead(connection_, chainHead, error) && selectEvents(connection_, {}, events, error);
        rollbackIfOpen(connection_);
        return ok;
    };
    if (!withConnection(read, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

} // namespace orv::ledger
