#include "ledger/postgres_ledger.h"

#include "ledger/event_fields.h"
#include "ledger/event_sql.h"
#include "ledger/tlog_digest.h"
#include "ledger/wait_stop.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
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

// How long each connection waits for the server: the location's connect_timeout (10 s unless it
// names another). libpq bounds connecting by it but not an answer, and a server that stopped, or a
// link that stopped carrying data while its peer's kernel still acknowledges, would hold the
// caller for ever: the server is told to give a statement up after that time (statement_timeout),
// and a statement whose answer has not come two seconds after that is given up here.
class AnswerLimits
{
public:
    void set(const PGconn* connection, std::chrono::milliseconds limit)
    {
        const std::lock_guard lock(mutex_);
        limits_[connection] = limit;
    }
    void forget(const PGconn* connection)
    {
        const std::lock_guard lock(mutex_);
        limits_.erase(connection);
    }
    std::chrono::milliseconds of(const PGconn* connection) const
    {
        const std::lock_guard lock(mutex_);
        const auto found = limits_.find(connection);
        return found == limits_.end() ? kDefault : found->second;
    }

    static constexpr std::chrono::milliseconds kDefault{10'000};

private:
    mutable std::mutex mutex_;
    std::map<const PGconn*, std::chrono::milliseconds> limits_;
};

AnswerLimits& answerLimits()
{
    static AnswerLimits limits;
    return limits;
}

constexpr std::chrono::milliseconds kAnswerGrace{2'000};

// Shuts the connection's socket, so that libpq finds the connection lost and the next use opens
// a new one.
void giveUpConnection(PGconn* connection)
{
    const int socket = PQsocket(connection);
    if (socket >= 0) {
#ifdef _WIN32
        ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
#else
        ::shutdown(socket, SHUT_RDWR);
#endif
        PQconsumeInput(connection);
    }
}

// Whether the last statement on this thread was given up for want of an answer: no second try
// then, which would only wait as long again.
thread_local bool gaveUpWaiting = false;

// How long one wait on a socket lasts at most: a thread asked to stop (WaitStopScope) finds out
// within it.
constexpr std::chrono::milliseconds kWaitSlice{100};

// Waits until the socket is ready to read (or to write), `left` at most and a slice at a time.
// 1: ready; 0: not within `left`; -1: the thread was asked to stop.
int waitForSocket(int socket, bool write, std::chrono::milliseconds left)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + left;
    for (;;) {
        if (WaitStopScope::stopRequested()) {
            return -1;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return 0;
        }
        const auto slice =
            std::min(kWaitSlice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                     std::chrono::milliseconds(1));
#ifdef _WIN32
        WSAPOLLFD waiting{static_cast<SOCKET>(socket), static_cast<SHORT>(write ? POLLWRNORM : POLLRDNORM), 0};
        const int ready = WSAPoll(&waiting, 1, static_cast<INT>(slice.count()));
#else
        pollfd waiting{socket, static_cast<short>(write ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(slice.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (ready != 0) {
            return 1; // ready, or an error libpq will find on the socket
        }
    }
}

constexpr std::string_view kStopped = "given up: the program stopped waiting for the database";

// Waits until the answer libpq is busy with has come in, or until the connection's time is up:
// then the connection is given up and false returned with `error` saying so. A thread asked to
// stop gives it up at once.
bool awaitAnswer(PGconn* connection, std::string& error)
{
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds limit = answerLimits().of(connection);
    const Clock::time_point deadline = Clock::now() + limit + kAnswerGrace;
    while (PQisBusy(connection) == 1) {
        const int socket = PQsocket(connection);
        if (socket < 0) {
            return true; // lost already: PQgetResult says so
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = left.count() > 0 ? waitForSocket(socket, false, left) : 0;
        if (ready <= 0) {
            gaveUpWaiting = true;
            giveUpConnection(connection);
            error = ready < 0 ? std::string(kStopped)
                              : "the database did not answer within " +
                                    std::to_string((limit + kAnswerGrace).count() / 1000) +
                                    " s (no answer, or the network to it is down); the connection was given up";
            return false;
        }
        if (PQconsumeInput(connection) != 1) {
            return true; // lost: PQgetResult says so
        }
    }
    return true;
}

// Drives a connection libpq started without blocking (PQconnectStartParams, PQresetStart) to its
// end, within `limit` (libpq leaves connect_timeout to the caller then) and as long as the thread
// is not asked to stop. False with `error` otherwise.
bool completeConnection(PGconn* connection, PostgresPollingStatusType (*step)(PGconn*), std::chrono::milliseconds limit,
                        std::string& error)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    for (;;) {
        if (status == PGRES_POLLING_OK) {
            return true;
        }
        if (status == PGRES_POLLING_FAILED) {
            error = trimmed(PQerrorMessage(connection));
            return false;
        }
        const int socket = PQsocket(connection);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = socket < 0 ? 1 : left.count() > 0 ? waitForSocket(socket, status == PGRES_POLLING_WRITING, left)
                                                             : 0;
        if (ready <= 0) {
            giveUpConnection(connection);
            error = ready < 0 ? std::string(kStopped) : std::string("timeout expired");
            return false;
        }
        status = step(connection);
    }
}

// The location's connect_timeout as the time a database has to answer: libpq's rules (below 2:
// 2), with 10 s for none, 0 (which libpq takes as no limit) or a value it does not read.
std::chrono::seconds answerLimitOf(const PQconninfoOption* options)
{
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
        if (o->val && std::string_view(o->keyword) == "connect_timeout") {
            char* end = nullptr;
            const long seconds = std::strtol(o->val, &end, 10);
            if (end != o->val && *end == '\0' && seconds > 0) {
                return std::chrono::seconds(std::max(2L, std::min(seconds, 3600L)));
            }
        }
    }
    return std::chrono::duration_cast<std::chrono::seconds>(AnswerLimits::kDefault);
}

constexpr std::string_view kNoPrivilege = "42501";

// The SQLSTATE of the last statement run() saw fail on this thread ("42501": no privilege), five
// characters. Plain characters: a thread-local with a destructor crashes threads as they end in
// MinGW builds.
class LastState
{
public:
    void clear() { code_[0] = '\0'; }
    LastState& operator=(const char* code)
    {
        const std::size_t n = std::min(std::strlen(code), sizeof code_ - 1);
        std::memcpy(code_, code, n);
        code_[n] = '\0';
        return *this;
    }
    bool operator==(std::string_view code) const { return code == code_; }

private:
    char code_[8];
};
thread_local LastState lastState;

// Runs one statement with its values as parameters ($1, $2, ...; nullopt: NULL). Null with
// `error` when it failed.
Result run(PGconn* connection, const std::string& sql, const Params& params, std::string& error)
{
    lastState.clear();
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) {
        values.push_back(p ? p->c_str() : nullptr);
    }
    // As PQexecParams, but within the connection's time: sent, then its results waited for, the
    // last one kept.
    if (PQsendQueryParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                          nullptr, 0) != 1) {
        error = trimmed(PQerrorMessage(connection));
        return nullptr;
    }
    Result result;
    while (true) {
        if (!awaitAnswer(connection, error)) {
            return nullptr;
        }
        Result next(PQgetResult(connection));
        if (!next) {
            break;
        }
        result = std::move(next);
    }
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char* message = result ? PQresultErrorMessage(result.get()) : "";
        error = trimmed(*message ? message : PQerrorMessage(connection));
        const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
        lastState = state ? state : "";
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
    lastState.clear();
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
        if (!awaitAnswer(connection, error)) {
            return false;
        }
        Result result(PQgetResult(connection));
        if (!result) {
            error = "the connection was lost: " + trimmed(PQerrorMessage(connection));
            return false;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (ok && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error = trimmed(PQresultErrorMessage(result.get()));
            const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
            lastState = state ? state : "";
            ok = false;
        }
        results.push_back(std::move(result));
        PQclear(PQgetResult(connection)); // the end of this statement's results
    }
    if (!awaitAnswer(connection, error)) {
        return false;
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
        std::string ignored;
        run(connection, "ROLLBACK", {}, ignored);
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

// Every keyword named for a password ("password", "sslpassword", any a later libpq adds), and any
// that libpq itself hides ("*").
bool isSecretKeyword(const PQconninfoOption& option)
{
    return std::string_view(option.keyword).find("password") != std::string_view::npos ||
           (option.dispchar && std::string_view(option.dispchar).find('*') != std::string_view::npos);
}

// The location's words, refused when it carries a password.
// Whether a location libpq could not read may hold a password: "user:secret@" in a URI, or any
// word with "pass" in it. libpq's message about such a location may quote it.
bool mayHoldSecret(std::string_view location)
{
    // As libpq reads a URI: "%70assword" is "password". Decoded first, then lower-cased.
    using detail::hexDigit;
    std::string lower;
    for (std::size_t i = 0; i < location.size(); ++i) {
        if (location[i] == '%' && i + 2 < location.size() &&
            hexDigit(location[i + 1]) >= 0 && hexDigit(location[i + 2]) >= 0) {
            lower += static_cast<char>(hexDigit(location[i + 1]) * 16 + hexDigit(location[i + 2]));
            i += 2;
        } else {
            lower += location[i];
        }
    }
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower.find("pass") != std::string::npos) {
        return true;
    }
    const std::size_t scheme = lower.find("://");
    if (scheme == std::string::npos) {
        return false;
    }
    const std::string_view authority = std::string_view(lower).substr(scheme + 3, lower.find('/', scheme + 3) - scheme - 3);
    const std::size_t at = authority.rfind('@');
    return at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos;
}

bool parseLocation(const std::string& location, Conninfo& options, std::string& error)
{
    char* message = nullptr;
    options.reset(PQconninfoParse(location.c_str(), &message));
    if (!options) {
        error = "not a valid PostgreSQL location: " +
                (mayHoldSecret(location) || !message
                     ? std::string("libpq cannot read it (and it may hold a password, so it is not repeated here)")
                     : trimmed(message));
        PQfreemem(message);
        return false;
    }
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val || !isSecretKeyword(*o)) {
            continue;
        }
        const std::string keyword = o->keyword;
        error = describeParsed(options.get()) + ": the location carries a password (" + keyword +
                "), which would show in command lines, settings and messages; " +
                (keyword == "password" ? "give it through the password file (~/.pgpass, or the file PGPASSFILE "
                                         "names) or PGPASSWORD instead"
                                       : "keep the client key in a file only this account can read instead");
        return false;
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

constexpr detail::SqlDialect kDialect{"BIGINT", "\"C\"", "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"};
constexpr detail::ParameterDialect kParameters{'$', "?::bigint"};

// What only the ledger's owner may do, kept by the database itself: events, checkpoints and the
// chain head are never changed or removed by anyone else (whatever privileges a station was
// given by mistake), and the head moves only with an event that follows it, through the owner's
// functions. A station appends by locking the head with orv_lock_head() and inserting its event.
std::vector<std::string> ownerStatements(const std::string& schema)
{
    const std::string path = "SET search_path = " + schema + ", pg_temp";
    std::vector<std::string> statements = {
        // Its names are the catalogue's: a table of the session's own named pg_class comes first otherwise.
        "CREATE OR REPLACE FUNCTION orv_refuse_change() RETURNS trigger LANGUAGE plpgsql "
        "SET search_path = pg_catalog, pg_temp AS $fn$\n"
        "BEGIN\n"
        "    IF current_user::text <> (SELECT pg_get_userbyid(relowner)::text FROM pg_class WHERE oid = TG_RELID) THEN\n"
        "        RAISE EXCEPTION 'the ledger''s % are never changed or removed (only the owner of the table may)',\n"
        "            TG_TABLE_NAME USING ERRCODE = '42501';\n"
        "    END IF;\n"
        "    IF TG_LEVEL = 'STATEMENT' THEN RETURN NULL; END IF;\n"
        "    IF TG_OP = 'DELETE' THEN RETURN OLD; END IF;\n"
        "    RETURN NEW;\n"
        "END\n"
        "$fn$",
        "CREATE OR REPLACE FUNCTION orv_advance_head() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER " + path +
            " AS $fn$\n"
            "DECLARE\n"
            "    head_number bigint;\n"
            "    head_hash text;\n"
            "BEGIN\n"
            "    SELECT c.number, c.hash INTO head_number, head_hash FROM chain_head c WHERE c.id = 1 FOR UPDATE;\n"
            "    IF NOT FOUND THEN\n"
            "        RAISE EXCEPTION 'the chain head is missing';\n"
            "    END IF;\n"
            "    IF NEW.number <> head_number + 1 OR NEW.prev_hash <> head_hash THEN\n"
            "        RAISE EXCEPTION 'event % does not follow the chain head (event %)', NEW.number, head_number;\n"
            "    END IF;\n"
            "    UPDATE chain_head SET number = NEW.number, hash = NEW.hash WHERE id = 1;\n"
            "    RETURN NEW;\n"
            "END\n"
            "$fn$",
        "CREATE OR REPLACE FUNCTION orv_lock_head(OUT number bigint, OUT hash text) LANGUAGE sql SECURITY DEFINER " +
            path + " AS $fn$ SELECT c.number, c.hash FROM chain_head c WHERE c.id = 1 FOR UPDATE $fn$",
        "REVOKE ALL ON FUNCTION orv_lock_head() FROM PUBLIC",
        "REVOKE ALL ON FUNCTION orv_advance_head() FROM PUBLIC",
        "DROP TRIGGER IF EXISTS events_advance_head ON events",
        "CREATE TRIGGER events_advance_head BEFORE INSERT ON events FOR EACH ROW EXECUTE FUNCTION orv_advance_head()",
    };
    for (const char* table : {"events", "checkpoints", "chain_head"}) {
        const std::string t(table);
        statements.push_back("DROP TRIGGER IF EXISTS " + t + "_never_change ON " + t);
        statements.push_back("CREATE TRIGGER " + t + "_never_change BEFORE UPDATE OR DELETE ON " + t +
                             " FOR EACH ROW EXECUTE FUNCTION orv_refuse_change()");
        statements.push_back("DROP TRIGGER IF EXISTS " + t + "_never_emptied ON " + t);
        statements.push_back("CREATE TRIGGER " + t + "_never_emptied BEFORE TRUNCATE ON " + t +
                             " FOR EACH STATEMENT EXECUTE FUNCTION orv_refuse_change()");
    }
    return statements;
}

// What a refusal for want of privileges means here, and what to do.
std::string initDbHint(PGconn* connection, const std::string& what)
{
    const char* user = PQuser(connection);
    return "this account (" + std::string(user ? user : "?") + ") may not " + what +
           ": the database's owner runs `orvctl ledger init-db LOCATION --station-role " + (user ? user : "ROLE") +
           "` once";
}

bool runAll(PGconn* connection, const std::vector<std::string>& statements, std::string& error)
{
    for (const std::string& statement : statements) {
        if (!runCommand(connection, statement, error)) {
            return false;
        }
    }
    return true;
}

std::string currentSchema(PGconn* connection, std::string& error)
{
    const Result r = run(connection, "SELECT quote_ident(current_schema())", {}, error);
    if (!r || PQntuples(r.get()) != 1 || PQgetisnull(r.get(), 0, 0)) {
        if (error.empty()) {
            error = "there is no schema to create the tables in (search_path)";
        }
        return {};
    }
    return PQgetvalue(r.get(), 0, 0);
}

// The owner's functions and triggers, the origin (when `setOrigin`) and the schema's version.
bool finishSchema2(PGconn* connection, bool setOrigin, std::string& error)
{
    const std::string schema = currentSchema(connection, error);
    if (schema.empty() || !runAll(connection, ownerStatements(schema), error)) {
        return false;
    }
    if (setOrigin) {
        const std::optional<std::string> origin = detail::newOrigin();
        if (!origin) {
            error = "the system gives no random bytes for the ledger's origin";
            return false;
        }
        if (!run(connection, "INSERT INTO meta (key, value) VALUES ('origin', $1)", {*origin}, error)) {
            return false;
        }
    }
    return run(connection,
               "INSERT INTO meta (key, value) VALUES ('schema_version', $1) "
               "ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value",
               {std::to_string(kSchemaVersion)}, error) != nullptr;
}

// Creates the tables in a database that has none, or upgrades a ledger of schema 1; refuses (and
// alters nothing in) one whose tables are not a ledger's or were written by a newer schema. Under
// an advisory lock, so two stations opening a new database at once create the tables once.
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
                              "to_regclass('chain_head') IS NOT NULL, to_regclass('checkpoints') IS NOT NULL, "
                              "to_regprocedure('orv_lock_head()') IS NOT NULL",
                              {}, why);
    if (!tables) {
        return give("cannot look at the ledger's tables: " + why);
    }
    const bool hasMeta = isTrue(tables.get(), 0);
    const bool hasEvents = isTrue(tables.get(), 1);
    const bool hasHead = isTrue(tables.get(), 2);
    const bool hasCheckpoints = isTrue(tables.get(), 3);
    const bool hasLock = isTrue(tables.get(), 4);
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
        if (number == kSchemaVersion) {
            if (!hasCheckpoints || !hasLock) {
                return give("it is a ledger of schema " + std::to_string(number) +
                            " without its checkpoints table or the owner's functions; the database's owner runs "
                            "`orvctl ledger init-db LOCATION --station-role ROLE` to restore them");
            }
            rollbackIfOpen(connection);
            return true;
        }
        // Schema 1: the checkpoints table, the origin and the owner's functions; schema 2: the
        // spool's fields.
        if (number == 1 && hasCheckpoints) {
            return give("it is a ledger of schema 1 that already has a checkpoints table; it is left as it is");
        }
        if (number == 2 && (!hasCheckpoints || !hasLock)) {
            return give("it is a ledger of schema 2 without its checkpoints table or the owner's functions; the "
                        "database's owner runs `orvctl ledger init-db LOCATION --station-role ROLE` to restore them");
        }
        const bool upgraded = (number > 1 || runAll(connection, detail::upgradeStatementsFrom1(kDialect), why)) &&
                              runAll(connection, detail::upgradeStatementsFrom2(kDialect), why) &&
                              finishSchema2(connection, number == 1, why);
        if (!upgraded || !commit(connection, why)) {
            return give(lastState == kNoPrivilege
                            ? initDbHint(connection, "upgrade the ledger's tables to schema " +
                                                         std::to_string(kSchemaVersion))
                            : "cannot upgrade the ledger's tables to schema " + std::to_string(kSchemaVersion) +
                                  ": " + why);
        }
        return true;
    }
    if (hasEvents || hasHead || hasCheckpoints) {
        return give("it holds an events, chain_head or checkpoints table of another program; it is left as it is");
    }
    if (!runAll(connection, detail::schemaStatements(kDialect), why) ||
        !run(connection, "INSERT INTO chain_head (id, number, hash) VALUES (1, $1, $2)",
             {"0", std::string(kGenesisHash)}, why) ||
        !finishSchema2(connection, true, why) || !commit(connection, why)) {
        return give(lastState == kNoPrivilege ? initDbHint(connection, "create the ledger's tables")
                                              : "cannot create the ledger's tables: " + why);
    }
    return true;
}

// The ledger's origin; empty with `error` when the meta table holds none a checkpoint may carry.
std::string readOrigin(PGconn* connection, std::string& error)
{
    const Result r = run(connection, "SELECT value FROM meta WHERE key = 'origin'", {}, error);
    if (!r) {
        error = "cannot read the ledger's origin: " + error;
        return {};
    }
    const std::string origin = PQntuples(r.get()) == 1 ? value(r.get(), 0, 0).value_or("") : "";
    if (!detail::isValidOrigin(origin)) {
        error = "its meta table holds no valid origin (\"" + origin + "\"); it is left as it is";
        return {};
    }
    return origin;
}

// The head from a result of "SELECT number, hash" of the chain head.
bool headOf(const PGresult* result, ChainHead& head, std::string& error)
{
    const bool present = PQntuples(result) == 1;
    return detail::headFromRow(present, present ? value(result, 0, 0) : std::nullopt,
                               present ? value(result, 0, 1) : std::nullopt, head, error);
}

bool readHead(PGconn* connection, ChainHead& head, std::string& error)
{
    const Result result = run(connection, "SELECT number, hash FROM chain_head WHERE id = 1", {}, error);
    if (!result) {
        error = "cannot read the chain head: " + error;
        return false;
    }
    return headOf(result.get(), head, error);
}

bool selectEvents(PGconn* connection, const EventFilter& filter, std::vector<Event>& events, std::string& error)
{
    const detail::EventQuery query = detail::selectEventsQuery(filter, kParameters);
    const Result result = run(connection, query.sql, Params(query.values.begin(), query.values.end()), error);
    if (!result) {
        error = "cannot read the events: " + error;
        return false;
    }
    const int rows = PQntuples(result.get());
    std::vector<Event> read(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < detail::kColumnCount; ++column) {
            detail::takeColumn(read[static_cast<std::size_t>(row)], column,
                               value(result.get(), row, static_cast<int>(column)));
        }
    }
    events = std::move(read);
    return true;
}

bool selectCheckpoints(PGconn* connection, std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints,
                       std::string& error)
{
    const Result result =
        run(connection, "SELECT id, tree_size, note, recorded_utc FROM checkpoints WHERE tree_size >= $1 ORDER BY id",
            {std::to_string(minSize)}, error);
    if (!result) {
        error = "cannot read the checkpoints: " + error;
        return false;
    }
    const int rows = PQntuples(result.get());
    std::vector<StoredCheckpoint> read(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        StoredCheckpoint& c = read[static_cast<std::size_t>(row)];
        c.id = detail::parseInteger(value(result.get(), row, 0).value_or("")).value_or(0);
        c.size = detail::parseInteger(value(result.get(), row, 1).value_or("")).value_or(-1);
        c.note = value(result.get(), row, 2).value_or("");
        c.recordedUtc = value(result.get(), row, 3).value_or("");
    }
    checkpoints = std::move(read);
    return true;
}

} // namespace

std::string locationSecretProblem(const std::string& location)
{
    if (!isPostgresLocation(location)) {
        return {};
    }
    Conninfo options;
    std::string error;
    return parseLocation(location, options, error) ? std::string() : error;
}

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
    answerLimits().forget(connection_);
    PQfinish(connection_);
}

std::unique_ptr<PostgresLedger> PostgresLedger::open(const std::string& location, std::string& error)
{
    Conninfo options;
    if (!parseLocation(location, options, error)) {
        return nullptr;
    }
    const std::string described = describeParsed(options.get());

    // The parsed words as they are (dbname is not expanded again), UTF-8 on the wire, and the
    // limits that give up a database that does not answer, unless the location sets its own.
    const std::chrono::seconds limit = answerLimitOf(options.get());
    const std::string limitSeconds = std::to_string(limit.count());
    const std::string limitMilliseconds = std::to_string(limit.count() * 1000);
    std::string sessionOptions = "-c statement_timeout=" + limitMilliseconds;
    const std::vector<std::pair<const char*, std::string>> defaults = {
        {"connect_timeout", limitSeconds},
        // A link that stops carrying data is found by the system: probes after half the time of
        // silence, two seconds apart, two of them (TCP keepalive) and data unacknowledged for the
        // whole time (TCP_USER_TIMEOUT, where the system has it).
        {"keepalives", "1"},
        {"keepalives_idle", std::to_string(std::max<long long>(1, limit.count() / 2))},
        {"keepalives_interval", "2"},
        {"keepalives_count", "2"},
        {"tcp_user_timeout", limitMilliseconds},
    };
    std::vector<const char*> keywords;
    std::vector<const char*> values;
    std::vector<std::string_view> given;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        const std::string_view keyword = o->keyword;
        // connect_timeout is the limit read above: a location's 0 (no limit) does not reach libpq.
        if (!o->val || keyword == "client_encoding" || keyword == "connect_timeout") {
            continue;
        }
        if (keyword == "options") {
            // The server's own settings the location asks for, ours after them unless it sets one.
            if (std::string_view(o->val).find("statement_timeout") == std::string_view::npos) {
                sessionOptions = std::string(o->val) + " " + sessionOptions;
            } else {
                sessionOptions = o->val;
            }
            continue;
        }
        keywords.push_back(o->keyword);
        values.push_back(o->val);
        given.push_back(keyword);
    }
    for (const auto& [keyword, value] : defaults) {
        if (std::find(given.begin(), given.end(), keyword) == given.end()) {
            keywords.push_back(keyword);
            values.push_back(value.c_str());
        }
    }
    keywords.push_back("options");
    values.push_back(sessionOptions.c_str());
    keywords.push_back("client_encoding");
    values.push_back("UTF8");
    keywords.push_back("fallback_application_name");
    values.push_back("OrvCamera ledger");
    keywords.push_back(nullptr);
    values.push_back(nullptr);

    PGconn* connection = PQconnectStartParams(keywords.data(), values.data(), 0);
    if (connection == nullptr) {
        error = described + ": cannot connect: out of memory";
        return nullptr;
    }
    answerLimits().set(connection, limit);
    std::unique_ptr<PostgresLedger> ledger(new PostgresLedger(connection, described));
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    std::string connectProblem;
    if (PQstatus(connection) == CONNECTION_BAD) {
        connectProblem = trimmed(PQerrorMessage(connection));
    } else {
        completeConnection(connection, PQconnectPoll, limit, connectProblem);
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        error = described + ": cannot connect: " + connectProblem;
        // libpq names neither the cause nor the CA file it checked against; IT needs both.
        if (error.find("certificate verify failed") != std::string::npos) {
            const Conninfo used(PQconninfo(connection));
            const std::string ca = optionValue(used.get(), "sslrootcert");
            error += "; the server's certificate is not signed by the trusted CA (" +
                     (ca.empty() ? std::string("sslrootcert not set: libpq's root.crt, ~/.postgresql/root.crt or "
                                               "%APPDATA%\\postgresql\\root.crt on Windows")
                                 : "sslrootcert=" + ca) +
                     ") or could not be verified (expired, or not yet valid)";
        }
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
    ledger->origin_ = readOrigin(connection, why);
    if (ledger->origin_.empty()) {
        error = ledger->location_ + ": " + why;
        return nullptr;
    }
    std::string place = host ? host : "";
    if (place.find(':') != std::string::npos && place.find('/') == std::string::npos) {
        place = "[" + place + "]";
    }
    ledger->place_ = "postgresql://" + place + ":" + PQport(connection) + "/" + PQdb(connection);
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
        std::string why;
        if (PQresetStart(connection_) != 1) {
            why = trimmed(PQerrorMessage(connection_));
        } else {
            completeConnection(connection_, PQresetPoll, answerLimits().of(connection_), why);
        }
        if (PQstatus(connection_) != CONNECTION_OK) {
            error = "lost the connection: " + why;
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
    gaveUpWaiting = false;
    if (!ensureConnected(error)) {
        return false;
    }
    if (work(error)) {
        return true;
    }
    // A connection that broke at its first use since the server restarted: once more on a new one.
    // The work changed nothing, having failed. One given up for want of an answer is not tried
    // again: the caller has waited its time.
    if (PQstatus(connection_) != CONNECTION_BAD || gaveUpWaiting) {
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
        if (runBatch(connection_, {{"BEGIN", {}}, {"SELECT number, hash FROM orv_lock_head()", {}}}, results, error)) {
            return true;
        }
        error = "cannot read the chain head: " + error;
        return false;
    };
    std::string why;
    if (!withConnection(lockHead, why)) {
        return abandon(why);
    }
    ChainHead head;
    if (!headOf(results[1].get(), head, why)) {
        return abandon(why);
    }
    why.clear();
    Event chained = detail::chainedAfter(event, head);
    const Statement insert{detail::insertEventSql(kParameters), detail::insertEventValues(chained)};
    // The owner's trigger moves the head with the event; no station may move it otherwise.
    const bool done = runBatch(connection_, {insert, {"COMMIT", {}}}, results, why);
    if (!done || std::string_view(PQcmdTuples(results[0].get())) != "1" ||
        std::string_view(PQcmdStatus(results[1].get())) != "COMMIT") {
        // A connection lost during COMMIT leaves it unknown whether the event was recorded.
        return abandon("cannot record event " + std::to_string(chained.number) + ": " +
                       (why.empty() ? std::string("the chain head did not move") : why));
    }
    event = std::move(chained);
    errors_.clear();
    return true;
}

namespace {

// '{"a","b"}': texts as an array parameter (event ids: hex digits, ':' and digits).
std::string textArray(const std::vector<Event>& events)
{
    std::string array = "{";
    for (const Event& e : events) {
        array += (array.size() > 1 ? ",\"" : "\"") + e.eventId + "\"";
    }
    return array + "}";
}

std::string previousEventId(const Event& event)
{
    const std::string_view id = event.eventId;
    return std::string(id.substr(0, id.rfind(':') + 1)) + std::to_string(*event.stationSequence - 1);
}

} // namespace

bool PostgresLedger::appendFromSpool(std::vector<Event>& events, bool& refused)
{
    refused = false;
    if (events.empty()) {
        return true;
    }
    std::lock_guard lock(mutex_);
    const auto abandon = [&](const std::string& what, bool refusal = false) {
        rollbackIfOpen(connection_);
        refused = refusal || lastState == kNoPrivilege;
        return fail(what);
    };
    // One round trip: the head's lock, the server's time, which of the events (and the one
    // before the first) are here already.
    std::vector<Result> results;
    const std::string before = *events.front().stationSequence > 1 ? previousEventId(events.front()) : std::string();
    const auto look = [&](std::string& error) {
        if (runBatch(connection_,
                     {{"BEGIN", {}},
                      {"SELECT number, hash FROM orv_lock_head()", {}},
                      {"SELECT to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')", {}},
                      {"SELECT event_id, number, prev_hash, hash, arrived_utc FROM events WHERE event_id = ANY($1::text[])",
                       {textArray(events)}},
                      {"SELECT count(*) FROM events WHERE event_id = $1", {before}}},
                     results, error)) {
            return true;
        }
        error = "cannot read the chain head: " + error;
        return false;
    };
    std::string why;
    if (!withConnection(look, why)) {
        return abandon(why);
    }
    ChainHead head;
    if (!headOf(results[1].get(), head, why)) {
        return abandon(why);
    }
    const std::string arrived = value(results[2].get(), 0, 0).value_or("");
    if (!detail::isUtcTimeText(arrived)) {
        return abandon("the server's clock gave \"" + arrived + "\", not a time");
    }
    struct Found
    {
        std::string number, previousHash, hash, arrived;
    };
    std::map<std::string, Found, std::less<>> here;
    for (int row = 0; row < PQntuples(results[3].get()); ++row) {
        here[value(results[3].get(), row, 0).value_or("")] =
            Found{value(results[3].get(), row, 1).value_or(""), value(results[3].get(), row, 2).value_or(""),
                  value(results[3].get(), row, 3).value_or(""), value(results[3].get(), row, 4).value_or("")};
    }
    const bool beforeHere = before.empty() || value(results[4].get(), 0, 0).value_or("0") != "0";
    // Those here already are the first ones (a station forwards in its order, each batch whole).
    std::size_t first = 0;
    while (first < events.size() && here.contains(events[first].eventId)) {
        const Found& f = here.find(events[first].eventId)->second;
        Event& e = events[first];
        e.arrivedUtc = f.arrived;
        if (!detail::setColumnText(e, 0, f.number)) {
            return abandon("the shared ledger holds event " + e.eventId + " under the number \"" + f.number + "\"",
                           true);
        }
        e.previousHash = f.previousHash;
        e.hash = f.hash;
        ++first;
    }
    for (std::size_t i = first; i < events.size(); ++i) {
        if (here.contains(events[i].eventId)) {
            return abandon("the shared ledger holds this station's event " + events[i].eventId + " but not " +
                               events[first].eventId + " before it; nothing more is forwarded",
                           true);
        }
    }
    if (first == 0 && !beforeHere) {
        return abandon("the shared ledger lacks this station's event " + before + ", the one before " +
                           events.front().eventId + "; nothing more is forwarded",
                       true);
    }
    if (first == events.size()) {
        rollbackIfOpen(connection_);
        errors_.clear();
        return true;
    }
    std::vector<Statement> inserts;
    std::vector<Event> chained;
    for (std::size_t i = first; i < events.size(); ++i) {
        Event e = events[i];
        e.arrivedUtc = arrived;
        if (const std::string problem = detail::appendProblem(e); !problem.empty()) {
            return abandon("this station's event " + e.eventId + ": " + problem, true);
        }
        chained.push_back(detail::chainedAfter(e, head));
        head = ChainHead{chained.back().number, chained.back().hash};
        inserts.push_back({detail::insertEventSql(kParameters) + " ON CONFLICT (event_id) DO NOTHING",
                           detail::insertEventValues(chained.back())});
    }
    inserts.push_back({"COMMIT", {}});
    const bool done = runBatch(connection_, inserts, results, why);
    bool whole = done && std::string_view(PQcmdStatus(results.back().get())) == "COMMIT";
    for (std::size_t i = 0; whole && i + 1 < results.size(); ++i) {
        whole = std::string_view(PQcmdTuples(results[i].get())) == "1";
    }
    if (!whole) {
        // Lost during COMMIT: the next forward finds out whether the events are here.
        return abandon("cannot forward this station's events from " + chained.front().eventId + ": " +
                       (why.empty() ? std::string("the shared ledger did not take them all") : why));
    }
    for (std::size_t i = first; i < events.size(); ++i) {
        events[i] = std::move(chained[i - first]);
    }
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

bool PostgresLedger::readSnapshot(LedgerSnapshot& snapshot)
{
    std::lock_guard lock(mutex_);
    std::string why;
    const auto read = [&](std::string& error) {
        // One snapshot for the head, the events and the checkpoints.
        if (!runCommand(connection_, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error)) {
            error = "cannot start reading: " + error;
            return false;
        }
        ChainHead head;
        const bool ok = readHead(connection_, head, error) && selectEvents(connection_, {}, snapshot.events, error) &&
                        selectCheckpoints(connection_, 0, snapshot.checkpoints, error);
        rollbackIfOpen(connection_);
        snapshot.head = head;
        return ok;
    };
    if (!withConnection(read, why)) {
        return fail(why);
    }
    snapshot.origin = origin_;
    errors_.clear();
    return true;
}

bool PostgresLedger::hashAt(std::int64_t number, std::optional<std::string>& hash)
{
    std::lock_guard lock(mutex_);
    std::string why;
    const auto read = [&](std::string& error) {
        const Result r = run(connection_, "SELECT hash FROM events WHERE number = $1", {std::to_string(number)}, error);
        if (!r) {
            error = "cannot read event " + std::to_string(number) + ": " + error;
            return false;
        }
        hash = PQntuples(r.get()) == 1 ? value(r.get(), 0, 0) : std::nullopt;
        return true;
    };
    if (!withConnection(read, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

bool PostgresLedger::addCheckpoint(std::int64_t size, const std::string& note)
{
    std::lock_guard lock(mutex_);
    std::string why;
    // Never sent twice: a connection lost during the insert leaves it unknown whether it was kept.
    if (!ensureConnected(why) ||
        !run(connection_, "INSERT INTO checkpoints (tree_size, note, recorded_utc) VALUES ($1, $2, $3)",
             {std::to_string(size), note, utcNow()}, why)) {
        return fail("cannot record the checkpoint of " + std::to_string(size) + " events: " + why);
    }
    errors_.clear();
    return true;
}

bool PostgresLedger::readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints)
{
    std::lock_guard lock(mutex_);
    std::string why;
    if (!withConnection(
            [&](std::string& error) { return selectCheckpoints(connection_, minSize, checkpoints, error); }, why)) {
        return fail(why);
    }
    errors_.clear();
    return true;
}

} // namespace orv::ledger

namespace orv::ledger {

bool PostgresLedger::grantRoles(const std::string& stationRole, const std::string& witnessRole, std::string& error)
{
    std::lock_guard lock(mutex_);
    std::string why;
    if (!ensureConnected(why)) {
        error = why;
        return false;
    }
    const auto quoted = [&](const std::string& name) {
        char* escaped = PQescapeIdentifier(connection_, name.c_str(), name.size());
        std::string text = escaped ? escaped : "";
        PQfreemem(escaped);
        return text;
    };
    const auto give = [&](std::string text) {
        rollbackIfOpen(connection_);
        error = std::move(text);
        return false;
    };
    if (!runCommand(connection_, "BEGIN", why)) {
        return give(why);
    }
    const std::string schema = currentSchema(connection_, why);
    if (schema.empty()) {
        return give(why);
    }
    // Another account's GRANT only warns: nothing would be granted, and init-db would say it was.
    const Result owned = run(connection_,
                             "SELECT bool_and(pg_has_role(relowner, 'USAGE')) FROM pg_class WHERE oid IN "
                             "('meta'::regclass, 'events'::regclass, 'chain_head'::regclass, 'checkpoints'::regclass)",
                             {}, why);
    if (!owned) {
        return give("cannot grant the roles their rights: " + why);
    }
    if (!isTrue(owned.get(), 0)) {
        return give("this account (" + std::string(PQuser(connection_)) +
                    ") may not grant on the ledger's tables: init-db is run by the database's owner");
    }
    std::vector<std::string> statements = {
        "REVOKE ALL ON meta, events, chain_head, checkpoints FROM PUBLIC",
        "REVOKE ALL ON FUNCTION orv_lock_head() FROM PUBLIC",
    };
    for (const std::string* role : {&stationRole, &witnessRole}) {
        if (role->empty()) {
            continue;
        }
        const Result exists = run(connection_, "SELECT 1 FROM pg_roles WHERE rolname = $1", {*role}, why);
        if (!exists) {
            return give(why);
        }
        if (PQntuples(exists.get()) != 1) {
            return give("there is no role " + *role + " in this database server: create it first (CREATE ROLE " +
                        quoted(*role) + " LOGIN)");
        }
        const std::string r = quoted(*role);
        statements.push_back("REVOKE ALL ON meta, events, chain_head, checkpoints FROM " + r);
        statements.push_back("GRANT USAGE ON SCHEMA " + schema + " TO " + r);
        statements.push_back("GRANT SELECT ON meta, events, chain_head, checkpoints TO " + r);
        statements.push_back("GRANT INSERT ON checkpoints TO " + r);
        if (role == &stationRole) {
            statements.push_back("GRANT INSERT ON events TO " + r);
            statements.push_back("GRANT EXECUTE ON FUNCTION orv_lock_head() TO " + r);
        }
    }
    if (!runAll(connection_, statements, why) || !commit(connection_, why)) {
        return give(lastState == kNoPrivilege
                        ? "this account (" + std::string(PQuser(connection_)) +
                              ") may not grant on the ledger's tables: init-db is run by the database's owner (" +
                              why + ")"
                        : "cannot grant the roles their rights: " + why);
    }
    return true;
}

} // namespace orv::ledger
