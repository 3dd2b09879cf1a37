#pragma once
// A shared ledger as a station records to it: each event goes into the station's spool (durable
// there at once, whether or not the database answers) and is forwarded to the shared ledger in
// the station's order. Everything read comes from the shared ledger, opened when first needed and
// again after it was lost.

#include "ledger/ledger.h"
#include "ledger/postgres_ledger.h"
#include "ledger/spool.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

namespace orv::ledger {

struct ForwardOutcome
{
    bool reached = false;        // the shared ledger answered and took every event that waited
    bool refused = false;        // it answered but refused them (a gap, its permissions, another ledger)
    std::int64_t forwarded = 0;  // events it took in this forward
    std::int64_t waiting = 0;    // events still in the spool
    std::string problem;         // why not reached, one line: "LOCATION: WHY"
};

class SpooledLedger final : public Ledger
{
public:
    SpooledLedger(std::string location, std::unique_ptr<Spool> spool);

    Spool& spool() { return *spool_; }

    // Forwards what waits in the spool, oldest first, in batches (each its own transaction), until
    // none waits, the shared ledger fails or `stop` is asked. `progress(done, total)` after each.
    // One forward at a time in a process; other processes' forwards are told apart by the shared
    // ledger (each event once). Notes the outcome in the spool (since when, and why, it failed).
    ForwardOutcome forward(const std::function<void(std::int64_t done, std::int64_t total)>& progress = {},
                           std::stop_token stop = {});

    // "LOCATION" of the shared ledger (never a password).
    std::string location() const override { return described_; }
    // Into the spool: the event gains its id and sequence; its number stays 0 until it is
    // forwarded.
    bool append(Event& event) override;
    bool readEvents(const EventFilter& filter, std::vector<Event>& events) override;
    std::optional<ChainHead> head() override;
    bool readSnapshot(LedgerSnapshot& snapshot) override;
    // The shared ledger's, once it answered (empty before).
    const std::string& origin() const override;
    std::string place() const override;
    bool hashAt(std::int64_t number, std::optional<std::string>& hash) override;
    bool addCheckpoint(std::int64_t size, const std::string& note) override;
    bool readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints) override;
    std::string error() const override { return errors_.get(); }
    // The spool's disk: every event is kept there first.
    bool hasRoomForOutcomes(std::string& why) const override { return spool_->hasRoomForOutcomes(why); }

private:
    // The shared ledger, opened now when it is not; null with error() set.
    PostgresLedger* shared();
    bool fail(const std::string& what);

    const std::string location_;
    std::string described_;
    std::unique_ptr<Spool> spool_;
    mutable std::mutex mutex_; // shared_ and the forward
    std::mutex forwarding_;
    std::unique_ptr<PostgresLedger> shared_; // opened once, never closed
    detail::ThreadErrors errors_;
};

// The ledger a station records to at `location`: a SQLite file as it is (it is its own spool), a
// shared database through the station's spool in `stationFolder`. Null with `error` when the file
// or the spool cannot be had; a database that does not answer is no error here.
std::shared_ptr<Ledger> openStationLedger(const std::string& location, const std::filesystem::path& stationFolder,
                                          std::string& error);

} // namespace orv::ledger
