#pragma once
// The ledger in a PostgreSQL database: several stations append to one chain.

#include "ledger/ledger.h"
#include "ledger/thread_errors.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct pg_conn;

namespace orv::ledger {

class PostgresLedger final : public Ledger
{
public:
    // Connects to `location` (a "postgresql://" URI or libpq key=value words) and creates the
    // ledger's tables when the database has none. A location carrying a password, a database of
    // a newer schema, or one whose tables are not a ledger's are refused and nothing is altered.
    static std::unique_ptr<PostgresLedger> open(const std::string& location, std::string& error);
    ~PostgresLedger() override;
    PostgresLedger(const PostgresLedger&) = delete;
    PostgresLedger& operator=(const PostgresLedger&) = delete;

    std::string location() const override { return location_; }
    bool append(Event& event) override;
    bool readEvents(const EventFilter& filter, std::vector<Event>& events) override;
    std::optional<ChainHead> head() override;
    bool readSnapshot(LedgerSnapshot& snapshot) override;
    const std::string& origin() const override { return origin_; }
    std::string place() const override { return place_; }
    bool hashAt(std::int64_t number, std::optional<std::string>& hash) override;
    bool addCheckpoint(std::int64_t size, const std::string& note) override;
    bool readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints) override;
    std::string error() const override { return errors_.get(); }

    // Appends events a station kept in its spool (`events`: its oldest waiting ones, in its
    // order, each with its event id and sequence), each exactly once: under the chain head's lock,
    // an event already here (a forward whose COMMIT was answered but not noted in the spool) is
    // not appended again, and the first one appended must follow the station's previous event
    // here. Each event gains its arrival time (the server's clock), number and hashes, also those
    // found here. False with error() set; `refused` when the shared ledger itself refuses them
    // (a gap in the station's events, its permissions), as opposed to not answering.
    bool appendFromSpool(std::vector<Event>& events, bool& refused);

    // What init-db gives the stations' role (and a witness's, when named): reading every table,
    // appending events and checkpoints, locking the head through the owner's function; nothing
    // else (no UPDATE, DELETE or TRUNCATE anywhere). Run by the database's owner. False with
    // `error` when a role does not exist or this account may not grant.
    bool grantRoles(const std::string& stationRole, const std::string& witnessRole, std::string& error);

private:
    PostgresLedger(pg_conn* connection, std::string location);

    // Connects again when the connection was lost (a restarted server, a dropped network).
    bool ensureConnected(std::string& error);
    // Runs `work`, which must change nothing when it fails, once more on a new connection when it
    // failed because the connection had broken.
    bool withConnection(const std::function<bool(std::string&)>& work, std::string& error);
    bool fail(const std::string& what);

    pg_conn* connection_;
    std::string location_;
    std::string origin_;
    std::string place_;
    std::mutex mutex_; // one connection: one call at a time
    detail::ThreadErrors errors_;
};

// "PostgreSQL database D on H:P as U" for a location, before connecting; empty with `error` when
// the location cannot be parsed or carries a password.
std::string describePostgresLocation(const std::string& location, std::string& error);

} // namespace orv::ledger
