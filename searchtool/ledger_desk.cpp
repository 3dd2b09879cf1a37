#include "searchtool/ledger_desk.h"

#include "ledger/forwarding.h"
#include "ledger/wait_stop.h"

#include <algorithm>
#include <condition_variable>
#include <set>
#include <stop_token>
#include <system_error>
#include <thread>

namespace orv::search {
namespace {

using Clock = std::chrono::steady_clock;

// Far enough ahead to mean "when woken"; finite, as waits convert it to the system clock.
constexpr std::chrono::hours kWhenWoken{24};

ledger::SpooledLedger* spooledOf(const std::shared_ptr<ledger::Ledger>& ledger)
{
    return dynamic_cast<ledger::SpooledLedger*>(ledger.get());
}

// The spool's word on the shared database: it did not take the events the last time it was tried.
bool sharedAway(const ledger::SpoolStatus& status)
{
    return !status.unreachableSinceUtc.empty();
}

} // namespace

// Forwards what waits in the station's spool of the desk's location on a thread of its own: at
// once when started or poked, then after a wait that doubles while the shared database does not
// take them. Everything it uses is held through `State`, which the thread shares: stopped, it ends
// at the next point it looks (a connect in progress runs on to its own time limit), and the desk
// does not wait for that (the thread is let go and ends by itself).
class LedgerDesk::Forwarder
{
public:
    Forwarder()
        : state_(std::make_shared<State>())
    {
        // Without a thread the events wait for the next run, which forwards first.
        thread_.start([state = state_](std::stop_token stop) { run(state, stop); });
    }
    ~Forwarder() { stop(); }
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    void target(std::string location)
    {
        std::lock_guard lock(state_->mutex);
        if (state_->location != location) {
            state_->location = std::move(location);
            ++state_->generation;
            state_->changed.notify_all();
        }
    }
    void poke()
    {
        std::lock_guard lock(state_->mutex);
        state_->poked = true;
        state_->changed.notify_all();
    }
    void setListener(std::function<void(const SpoolState&)> listener)
    {
        std::lock_guard lock(state_->mutex);
        state_->listener = std::move(listener);
    }
    void setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest)
    {
        std::lock_guard lock(state_->mutex);
        state_->first = std::max(first, std::chrono::milliseconds(1));
        state_->longest = std::max(longest, state_->first);
        state_->poked = true; // the new waits from now on
        state_->changed.notify_all();
    }
    void stop()
    {
        {
            std::lock_guard lock(state_->mutex);
            state_->listener = nullptr; // told nothing from now on
        }
        thread_.stop();
    }

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::string location;
        unsigned generation = 0;
        bool poked = false;
        std::chrono::milliseconds first{2000};
        std::chrono::milliseconds longest{60000};
        std::function<void(const SpoolState&)> listener; // called under `mutex`: it only posts
    };

    static void run(std::shared_ptr<State> state, std::stop_token stop)
    {
        std::shared_ptr<ledger::Ledger> ledger; // its own: its own spool connection and database connection
        std::string openedAt;
        unsigned seen = 0;
        bool told = false; // something was told for the location in hand
        std::unique_lock lock(state->mutex);
        ledger::ForwardBackoff backoff;
        std::optional<ledger::ForwardSealer> sealer; // the station's check and checkpoint, per location
        Clock::time_point next = Clock::now();
        while (!stop.stop_requested()) {
            state->changed.wait_until(lock, stop, next, [&] { return state->poked || state->generation != seen; });
            if (stop.stop_requested()) {
                break;
            }
            const bool fresh = state->generation != seen;
            if (!fresh && !state->poked && Clock::now() < next) {
                continue;
            }
            if (fresh || state->poked) {
                backoff.set(state->first, state->longest);
            }
            if (fresh) {
                told = false;
                sealer.reset();
            }
            state->poked = false;
            seen = state->generation;
            const std::string location = state->location;
            const std::chrono::milliseconds longest = state->longest;
            lock.unlock();

            SpoolState now;
            next = Clock::now() + longest; // another program may spool meanwhile
            bool tell = true;
            if (!ledger::isPostgresLocation(location)) {
                ledger.reset();
                openedAt.clear();
                next = Clock::now() + kWhenWoken;
                tell = !told;
            } else {
                now.spooled = true;
                if (!ledger || openedAt != location) {
                    std::string error;
                    ledger = ledger::openStationLedger(location, ledger::defaultStationFolder(), error);
                    openedAt = location;
                    now.problem = ledger ? std::string() : ledger::oneLine(error);
                }
                ledger::SpooledLedger* spooled = spooledOf(ledger);
                if (spooled == nullptr) {
                    ledger.reset(); // tried again later
                    next = Clock::now() + backoff.failed();
                } else if (!spooled->spool().status(now.status)) {
                    now.problem = spooled->spool().error();
                } else if (now.status.waiting > 0 || sharedAway(now.status)) {
                    const ledger::ForwardOutcome outcome = spooled->forward({}, stop);
                    if (stop.stop_requested()) {
                        lock.lock();
                        break;
                    }
                    if (!spooled->spool().status(now.status)) {
                        now.problem = spooled->spool().error();
                    }
                    if (outcome.reached) {
                        backoff.reached();
                    } else {
                        next = Clock::now() + backoff.failed();
                    }
                    // After a forward as after a run: the station's check, and a checkpoint over
                    // what arrived.
                    if (!sealer) {
                        sealer.emplace(ledger::stationSetup());
                    }
                    sealer->after(outcome, *spooled, [&](const std::string& m) { now.problem = m; });
                }
            }
            lock.lock();
            if (tell && state->listener && !stop.stop_requested()) {
                state->listener(now);
                told = true;
            }
        }
        lock.unlock();
        ledger.reset(); // the connections closed here, on this thread
    }

    std::shared_ptr<State> state_;
    ledger::ForwardingThread thread_;
};

LedgerDesk::LedgerDesk() = default;

LedgerDesk::~LedgerDesk()
{
    close();
}

int LedgerDesk::forwardersRunning()
{
    return ledger::ForwardingThread::running();
}

void LedgerDesk::setLocation(std::string location)
{
    std::lock_guard lock(mutex_);
    location_ = std::move(location);
    if (closed_) {
        return;
    }
    const std::string wanted = ledger::locationOrDefault(location_);
    if (!forwarder_ && ledger::isPostgresLocation(wanted)) {
        forwarder_ = std::make_unique<Forwarder>();
        forwarder_->setListener(listener_);
        forwarder_->setBackoff(backoffFirst_, backoffLongest_);
    }
    if (forwarder_) {
        forwarder_->target(wanted);
    }
}

void LedgerDesk::setSpoolListener(std::function<void(const SpoolState&)> listener)
{
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
    if (forwarder_) {
        forwarder_->setListener(listener_);
    }
}

void LedgerDesk::setForwardBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    std::lock_guard lock(mutex_);
    backoffFirst_ = first;
    backoffLongest_ = longest;
    if (forwarder_) {
        forwarder_->setBackoff(first, longest);
    }
}

std::string LedgerDesk::location() const
{
    std::lock_guard lock(mutex_);
    return location_;
}

void LedgerDesk::close()
{
    std::unique_ptr<Forwarder> forwarder;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        listener_ = nullptr;
        forwarder = std::move(forwarder_);
    }
    stopWaiting_.request_stop();
    forwarder.reset(); // stops it; waits a moment at most
}

void LedgerDesk::tellSpool(ledger::SpooledLedger* spooled)
{
    if (spooled == nullptr) {
        return;
    }
    SpoolState state;
    state.spooled = true;
    if (!spooled->spool().status(state.status)) {
        state.problem = spooled->spool().error();
    }
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    if (listener_) {
        listener_(state);
    }
    if (forwarder_ && (state.status.waiting > 0 || sharedAway(state.status))) {
        forwarder_->poke();
    }
}

const ledger::StationSetup& LedgerDesk::setupHere()
{
    std::filesystem::path trusted;
    {
        std::lock_guard lock(mutex_);
        trusted = trustedKeys_;
    }
    if (!setup_ || setupTrusted_ != trusted) {
        setup_ = ledger::stationSetup(trusted);
        setupTrusted_ = trusted;
    }
    return *setup_;
}

std::shared_ptr<ledger::Ledger> LedgerDesk::ledgerHere(std::string& where, std::string& problem)
{
    const std::string wanted = ledger::locationOrDefault(location());
    if (!ledger_ || openedAt_ != wanted) {
        ledger_.reset();
        std::string error;
        std::shared_ptr<ledger::Ledger> fresh = ledger::openStationLedger(wanted, setupHere().folder, error);
        if (!fresh) {
            where = wanted;
            problem = error;
            return nullptr;
        }
        ledger_ = std::move(fresh);
        openedAt_ = wanted;
    }
    where = ledger_->location();
    return ledger_;
}

bool LedgerDesk::post(std::function<void()> task)
{
    if (closed_) {
        return false;
    }
    return pool_.post([this, task = std::move(task)] {
        if (!closed_) {
            // Closing gives up what this task waits for from the database, so the desk's thread
            // ends at once (a report, posted otherwise, is written whole).
            const ledger::WaitStopScope closing(stopWaiting_.get_token());
            task();
        }
    });
}

LedgerDesk::Opened LedgerDesk::openHere()
{
    Opened opened;
    const std::shared_ptr<ledger::Ledger> ledger = ledgerHere(opened.where, opened.problem);
    if (!ledger) {
        return opened;
    }
    opened.head = ledger->head();
    if (!opened.head) {
        opened.problem = ledger->error();
        if (!spooledOf(ledger)) {
            ledger_.reset(); // lost: opened again next time (a spooled one opens its database again itself)
        }
        return opened;
    }
    opened.ledger = ledger;
    return opened;
}

void LedgerDesk::open(std::function<void(const Opened&)> done)
{
    const bool posted = post([this, done = std::move(done)] { done(openHere()); });
    if (!posted && !closed_) {
        Opened refused;
        refused.problem = "no thread for the ledger";
        done(refused);
    }
}

void LedgerDesk::setTrustedKeys(std::filesystem::path file)
{
    std::lock_guard lock(mutex_);
    trustedKeys_ = std::move(file);
}

std::shared_ptr<ledger::Station> LedgerDesk::stationHere(std::string& error)
{
    std::filesystem::path trusted;
    {
        std::lock_guard lock(mutex_);
        trusted = trustedKeys_;
    }
    if (!station_ || stationTrusted_ != trusted) {
        station_ = ledger::Station::open(setupHere(), error);
        stationTrusted_ = trusted;
    }
    return station_;
}

void LedgerDesk::prepareRun(std::function<void(const Opened&)> done)
{
    const bool posted = post([this, done = std::move(done)] {
        Opened opened;
        std::shared_ptr<ledger::Ledger> ledger = ledgerHere(opened.where, opened.problem);
        if (!ledger) {
            done(opened);
            return;
        }
        ledger::SpooledLedger* spooled = spooledOf(ledger);
        if (spooled == nullptr) {
            // A file: answering is checked as it always was, before the station looks at it.
            opened = openHere();
            if (!opened.ok()) {
                done(opened);
                return;
            }
        }
        std::string error;
        const std::shared_ptr<ledger::Station> station = stationHere(error);
        if (!station) {
            opened.refusal = ledger::RecordingStart::Refusal::Station;
            opened.problem = ledger::oneLine(error);
            opened.ledger.reset();
            done(opened);
            return;
        }
        // A shared database: what waits is forwarded first; when the database does not answer the
        // run records into the spool (within the station's offline limit).
        ledger::RecordingStart start = ledger::startRecording({}, setupHere(), station, ledger);
        ledger::refuseWithoutRoomForOutcomes(start);
        if (!start.ok()) {
            opened.refusal = start.refusal;
            opened.problem = start.message;
            // "LOCATION: WHY": the window names the location itself.
            if (spooled != nullptr && opened.problem.starts_with(opened.where + ": ")) {
                opened.problem.erase(0, opened.where.size() + 2);
            }
            const std::u8string evidence = start.evidence.u8string();
            opened.evidence = std::string(evidence.begin(), evidence.end());
            opened.ledger.reset();
            opened.head.reset();
            if (start.refusal == ledger::RecordingStart::Refusal::Unreachable && spooled == nullptr) {
                ledger_.reset(); // lost: opened again next time
            }
        } else {
            opened.ledger = start.recording->ledger;
            opened.head = start.recording->head;
            opened.offline = start.recording->offline;
        }
        tellSpool(spooled);
        done(opened);
    });
    if (!posted && !closed_) {
        Opened refused;
        refused.problem = "no thread for the ledger";
        done(refused);
    }
}

void LedgerDesk::seal(std::function<void(const Sealed&)> done)
{
    post([this, done = std::move(done)] {
        Sealed sealed;
        std::string where;
        std::string problem;
        const std::shared_ptr<ledger::Ledger> ledger = ledgerHere(where, problem);
        ledger::SpooledLedger* spooled = spooledOf(ledger);
        // A file answers or is lost; a shared database is looked at only by the forward.
        const Opened opened = spooled != nullptr || !ledger ? Opened{} : openHere();
        std::string error;
        const bool usable = spooled != nullptr || opened.ok();
        const std::shared_ptr<ledger::Station> station = usable ? stationHere(error) : nullptr;
        if (!ledger) {
            sealed.problem = where + ": " + problem;
        } else if (!usable) {
            sealed.problem = opened.where + ": " + opened.problem;
        } else if (!station) {
            sealed.problem = ledger::oneLine(error);
        } else {
            ledger::ForwardOutcome forwarded;
            forwarded.reached = true; // a file is its own spool
            const ledger::Station::Signed signedNow = ledger::sealRecording(*ledger, *station, &forwarded);
            if (!signedNow.ok) {
                sealed.problem = ledger::oneLine(signedNow.message);
            }
            if (forwarded.reached) {
                sealed.head = ledger->head();
            }
        }
        tellSpool(spooled);
        done(sealed);
    });
}

void LedgerDesk::history(std::string deviceId, std::function<void(const History&)> done)
{
    post([this, deviceId = std::move(deviceId), done = std::move(done)] {
        History history;
        std::string where;
        const std::shared_ptr<ledger::Ledger> ledger = ledgerHere(where, history.problem);
        if (!ledger) {
            history.problem = where + ": " + history.problem;
            done(history);
            return;
        }
        ledger::SpooledLedger* spooled = spooledOf(ledger);
        // The spool first: an event forwarded meanwhile is then found in the shared ledger too,
        // and is shown once, as the shared ledger's.
        if (spooled != nullptr && !spooled->spool().waitingFor(deviceId, history.waiting)) {
            history.problem = ledger::oneLine(spooled->spool().error());
        }
        ledger::EventFilter filter;
        filter.deviceId = deviceId;
        if (!ledger->readEvents(filter, history.events)) {
            history.events.clear();
            history.problem = where + ": " + ledger->error();
            if (spooled == nullptr) {
                ledger_.reset(); // lost: opened again next time
            } else {
                spooled->spool().noteUnreachable(ledger->error(), false);
            }
        }
        std::set<std::string> shared;
        for (const ledger::Event& e : history.events) {
            if (!e.eventId.empty()) {
                shared.insert(e.eventId);
            }
        }
        std::erase_if(history.waiting, [&](const ledger::Event& e) { return shared.contains(e.eventId); });
        tellSpool(spooled);
        done(history);
    });
}

void LedgerDesk::report(report::ReportRequest request, std::function<void(const report::ReportOutcome&)> done)
{
    auto task = [this, request = std::move(request), done](bool here) {
        report::ReportOutcome outcome;
        if (!here) {
            outcome.message = "no thread for the ledger";
            done(outcome);
            return;
        }
        const Opened opened = openHere();
        std::string error;
        const std::shared_ptr<ledger::Station> station = opened.ok() ? stationHere(error) : nullptr;
        if (!opened.ok()) {
            outcome.message = opened.where + ": " + opened.problem;
        } else if (!station) {
            outcome.message = ledger::oneLine(error);
        } else {
            outcome = report::makeCustodyReport(*opened.ledger, *station, request);
        }
        done(outcome);
    };
    // Not dropped by close(): the operator chose the file, so a report asked for is written (the
    // pool runs it before it ends) even when the tool closes before it has begun.
    if (!pool_.post([task] { task(true); })) {
        task(false);
    }
}

void LedgerDesk::lastConfigured(std::vector<std::string> deviceIds,
                                std::function<void(const std::vector<ledger::Event>&)> done)
{
    post([this, deviceIds = std::move(deviceIds), done = std::move(done)] {
        std::string where;
        std::string problem;
        const std::shared_ptr<ledger::Ledger> ledger = ledgerHere(where, problem);
        if (!ledger) {
            return; // said when a run starts
        }
        ledger::SpooledLedger* spooled = spooledOf(ledger);
        bool readShared = true;
        if (spooled != nullptr) {
            ledger::SpoolStatus status;
            readShared = spooled->spool().status(status) && !sharedAway(status);
        } else if (!openHere().ok()) {
            return; // said when a run starts
        }
        const auto lastWritten = [](const std::vector<ledger::Event>& events) {
            const auto written = std::find_if(events.rbegin(), events.rend(),
                                              [](const ledger::Event& e) { return !e.groups.empty(); });
            return written == events.rend() ? nullptr : &*written;
        };
        std::vector<ledger::Event> last;
        for (const std::string& id : deviceIds) {
            std::vector<ledger::Event> events;
            std::vector<ledger::Event> waiting;
            if (spooled != nullptr && !spooled->spool().waitingFor(id, waiting)) {
                waiting.clear();
            }
            if (readShared) {
                ledger::EventFilter filter;
                filter.deviceId = id;
                if (!ledger->readEvents(filter, events)) {
                    if (spooled == nullptr) {
                        return;
                    }
                    events.clear();
                    // Neither the other cameras nor the next look-ups wait for it again: the spool
                    // says it is away until a forward reaches it.
                    readShared = false;
                    spooled->spool().noteUnreachable(ledger->error(), false);
                    tellSpool(spooled);
                }
            }
            const ledger::Event* shared = lastWritten(events);
            const ledger::Event* spooledLast = lastWritten(waiting);
            // The newer of the two; one still in the spool has the number 0.
            const ledger::Event* newest = shared;
            if (spooledLast != nullptr && (shared == nullptr || spooledLast->timeUtc >= shared->timeUtc)) {
                newest = spooledLast;
            }
            if (newest != nullptr) {
                ledger::Event e = *newest;
                if (newest == spooledLast) {
                    e.number = 0;
                }
                last.push_back(std::move(e));
            }
        }
        done(last);
    });
}

} // namespace orv::search
