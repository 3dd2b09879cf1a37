#include "ledger/spooled_ledger.h"

#include "ledger/sqlite_ledger.h"
#include "ledger/wait_stop.h"
#include "persist/atomic_file.h"

namespace orv::ledger {
namespace {

// Events per transaction: each batch is sent in one round trip and committed whole.
constexpr std::size_t kForwardBatch = 250;

} // namespace

SpooledLedger::SpooledLedger(std::string location, std::unique_ptr<Spool> spool)
    : location_(std::move(location))
    , spool_(std::move(spool))
{
    std::string error;
    described_ = describePostgresLocation(location_, error);
    if (described_.empty()) {
        described_ = "the shared ledger";
    }
}

bool SpooledLedger::fail(const std::string& what)
{
    errors_.set(what);
    return false;
}

PostgresLedger* SpooledLedger::shared()
{
    std::lock_guard lock(mutex_);
    if (!shared_) {
        std::string error;
        shared_ = PostgresLedger::open(location_, error);
        if (!shared_) {
            fail(oneLine(error));
            return nullptr;
        }
    }
    return shared_.get();
}

const std::string& SpooledLedger::origin() const
{
    static const std::string none;
    std::lock_guard lock(mutex_);
    // The shared ledger's own, read when it was opened and never changed; it is never closed.
    return shared_ ? shared_->origin() : none;
}

std::string SpooledLedger::place() const
{
    std::lock_guard lock(mutex_);
    return shared_ ? shared_->place() : std::string();
}

bool SpooledLedger::append(Event& event)
{
    if (!spool_->add(event)) {
        return fail(spool_->error());
    }
    errors_.clear();
    return true;
}

ForwardOutcome SpooledLedger::forward(const std::function<void(std::int64_t, std::int64_t)>& progress,
                                      std::stop_token stop)
{
    std::lock_guard one(forwarding_);
    const WaitStopScope stopping(stop); // a forward asked to stop does not wait for the database
    ForwardOutcome outcome;
    SpoolStatus before;
    if (!spool_->status(before)) {
        outcome.problem = spool_->error();
        return outcome;
    }
    outcome.waiting = before.waiting;
    const auto give = [&](const std::string& why, bool refused) {
        // The shared ledger's own messages may name it already.
        outcome.problem = oneLine(why.starts_with(described_ + ": ") ? why : described_ + ": " + why);
        outcome.refused = refused;
        spool_->noteUnreachable(why, refused);
        return outcome;
    };
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return give(error(), false);
    }
    std::string held;
    if (!spool_->claimOrigin(ledger->origin(), held)) {
        if (held.empty()) {
            outcome.problem = spool_->error();
            return outcome;
        }
        return give("it is another ledger (origin " + ledger->origin() + ") than the one this station's " +
                        std::to_string(before.waiting) + " waiting events were recorded for (" + held +
                        "); they stay in " + pathUtf8(spool_->file()),
                    true);
    }
    while (!stop.stop_requested()) {
        std::vector<Event> batch;
        if (!spool_->waiting(kForwardBatch, batch)) {
            outcome.problem = spool_->error();
            return outcome;
        }
        if (batch.empty()) {
            break;
        }
        bool refused = false;
        if (!ledger->appendFromSpool(batch, refused)) {
            return give(ledger->error(), refused);
        }
        if (!spool_->markForwarded(batch)) {
            outcome.problem = spool_->error(); // taken all the same: the next forward finds them there
            return outcome;
        }
        outcome.forwarded += static_cast<std::int64_t>(batch.size());
        outcome.waiting = std::max<std::int64_t>(0, outcome.waiting - static_cast<std::int64_t>(batch.size()));
        if (progress) {
            progress(outcome.forwarded, std::max(before.waiting, outcome.forwarded));
        }
    }
    if (stop.stop_requested()) {
        return outcome;
    }
    outcome.waiting = 0;
    outcome.reached = true;
    spool_->noteReached();
    return outcome;
}

bool SpooledLedger::readEvents(const EventFilter& filter, std::vector<Event>& events)
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return false;
    }
    if (!ledger->readEvents(filter, events)) {
        return fail(ledger->error());
    }
    errors_.clear();
    return true;
}

std::optional<ChainHead> SpooledLedger::head()
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return std::nullopt;
    }
    std::optional<ChainHead> head = ledger->head();
    if (!head) {
        fail(ledger->error());
    } else {
        errors_.clear();
    }
    return head;
}

bool SpooledLedger::readSnapshot(LedgerSnapshot& snapshot)
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return false;
    }
    if (!ledger->readSnapshot(snapshot)) {
        return fail(ledger->error());
    }
    errors_.clear();
    return true;
}

bool SpooledLedger::hashAt(std::int64_t number, std::optional<std::string>& hash)
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return false;
    }
    if (!ledger->hashAt(number, hash)) {
        return fail(ledger->error());
    }
    errors_.clear();
    return true;
}

bool SpooledLedger::addCheckpoint(std::int64_t size, const std::string& note)
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return false;
    }
    if (!ledger->addCheckpoint(size, note)) {
        return fail(ledger->error());
    }
    errors_.clear();
    return true;
}

bool SpooledLedger::readCheckpoints(std::int64_t minSize, std::vector<StoredCheckpoint>& checkpoints)
{
    PostgresLedger* ledger = shared();
    if (ledger == nullptr) {
        return false;
    }
    if (!ledger->readCheckpoints(minSize, checkpoints)) {
        return fail(ledger->error());
    }
    errors_.clear();
    return true;
}

std::shared_ptr<Ledger> openStationLedger(const std::string& location, const std::filesystem::path& stationFolder,
                                          std::string& error)
{
    if (!isPostgresLocation(location)) {
        return openLedger(location, error);
    }
    if (const std::string secret = locationSecretProblem(location); !secret.empty()) {
        error = secret;
        return nullptr;
    }
    std::unique_ptr<Spool> spool = Spool::open(Spool::fileFor(stationFolder, location), error);
    if (!spool) {
        return nullptr;
    }
    return std::make_shared<SpooledLedger>(location, std::move(spool));
}

} // namespace orv::ledger
