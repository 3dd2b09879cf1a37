#include "ledger/background_recorder.h"

#include "ledger/forwarding.h"
#include "ledger/spooled_ledger.h"

#include <algorithm>
#include <atomic>

namespace orv::ledger {
namespace {

std::atomic<int> forwarders{0};

// How long the destructor gives a forward that was asked to stop before it lets go of it.
constexpr std::chrono::milliseconds kForwarderGrace{200};

} // namespace

// What the forwarder thread has to itself and shares with the recorder: kept by a shared_ptr, as
// a forwarder the recorder let go of ends after it.
struct BackgroundRecorder::Forwarder
{
    Forwarder(std::optional<StationSetup> setup, Problem onProblem, News onNews)
        : setup(std::move(setup))
        , onProblem(std::move(onProblem))
        , onNews(std::move(onNews))
    {
    }

    void run();
    // Calls `what` unless the recorder stopped listening; under the lock, so that the destructor
    // cannot return while a call is under way.
    template <typename Call>
    void tell(Call&& what)
    {
        std::lock_guard lock(mutex);
        if (!stopping) {
            what();
        }
    }
    void problem(const std::string& message, std::string& lastShown)
    {
        if (message == lastShown) {
            return;
        }
        lastShown = message;
        tell([&] {
            if (onProblem) {
                onProblem(message);
            }
        });
    }

    const std::optional<StationSetup> setup;
    const Problem onProblem;
    const News onNews;
    std::stop_source stop; // asks a forward under way to end after its batch

    std::mutex mutex;
    std::condition_variable changed;
    std::shared_ptr<SpooledLedger> ledger; // the worker's, once it opened it
    bool due = false;                      // events were appended since the last forward began
    bool stopping = false;                 // the recorder is going: nothing more is said
    bool ended = false;
    ForwardBackoff backoff; // under `mutex`
};

void BackgroundRecorder::Forwarder::run()
{
    using Clock = std::chrono::steady_clock;
    std::shared_ptr<SpooledLedger> spooled;
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stopping || ledger; });
        if (stopping) {
            return;
        }
        spooled = ledger;
    }
    // Events an earlier run left waiting while the shared ledger was away: their forwarding is
    // news too.
    SpoolStatus before;
    bool wasAway = spooled->spool().status(before) && before.waiting > 0 && !before.unreachableSinceUtc.empty();
    bool awaySaid = false;
    std::int64_t forwardedSinceAway = 0;
    std::string lastProblem;
    ForwardSealer sealer(setup);
    std::chrono::milliseconds pause{0};
    Clock::time_point retryAt;
    bool now = true; // the first forward at once
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (!now) {
                if (pause.count() == 0) {
                    changed.wait(lock, [this] { return stopping || due; });
                } else {
                    // Events handed over meanwhile wait for the pause's end too.
                    changed.wait_until(lock, retryAt, [this] { return stopping; });
                }
            }
            now = false;
            if (stopping) {
                return;
            }
            due = false;
            spooled = ledger; // the worker opens it again after its spool failed
        }
        const ForwardOutcome outcome = spooled->forward({}, stop.get_token());
        if (stop.stop_requested()) {
            return;
        }
        forwardedSinceAway += outcome.forwarded;
        if (outcome.reached) {
            if ((awaySaid || wasAway) && forwardedSinceAway > 0) {
                SharedLedgerNews news;
                news.kind = SharedLedgerNews::Kind::Forwarded;
                news.forwarded = forwardedSinceAway;
                tell([&] {
                    if (onNews) {
                        onNews(news);
                    }
                });
            }
            awaySaid = wasAway = false;
            forwardedSinceAway = 0;
            pause = {};
            {
                std::lock_guard lock(mutex);
                backoff.reached();
            }
            if (sealer.after(outcome, *spooled, [&](const std::string& m) { problem(m, lastProblem); })) {
                lastProblem.clear(); // all well: a problem that comes again is shown again
            }
            continue;
        }
        sealer.after(outcome, *spooled, [&](const std::string& m) { problem(m, lastProblem); });
        {
            std::lock_guard lock(mutex);
            pause = backoff.failed();
        }
        retryAt = Clock::now() + pause;
        SpoolStatus status;
        const bool read = spooled->spool().status(status);
        if (outcome.refused || !read || status.unreachableSinceUtc.empty()) {
            // Refused by the shared ledger, or the spool failed: no outage, a problem to show.
            problem(outcome.problem.empty() ? spooled->spool().error() : outcome.problem, lastProblem);
            continue;
        }
        if (!awaySaid) {
            awaySaid = true;
            SharedLedgerNews news;
            news.kind = SharedLedgerNews::Kind::Away;
            news.sinceUtc = status.unreachableSinceUtc;
            news.why = oneLine(status.lastError.empty() ? outcome.problem : status.lastError);
            news.waiting = status.waiting;
            tell([&] {
                if (onNews) {
                    onNews(news);
                }
            });
        }
    }
}

BackgroundRecorder::BackgroundRecorder(std::string location, Recorded onRecorded, Problem onProblem,
                                       std::optional<StationSetup> station, News onNews)
    : location_(std::move(location))
    , setup_(std::move(station))
    , onRecorded_(std::move(onRecorded))
    , onProblem_(std::move(onProblem))
    , forwarder_(isPostgresLocation(location_) ? std::make_shared<Forwarder>(setup_, onProblem_, std::move(onNews))
                                               : nullptr)
    , forwarderThread_(launch(forwarder_))
    , worker_([this](std::stop_token stop) { work(stop); })
{
}

BackgroundRecorder::~BackgroundRecorder()
{
    flush();
    worker_.request_stop();
    changed_.notify_all();
    worker_.join();
    stopForwarder();
}

void BackgroundRecorder::stopForwarder()
{
    if (!forwarder_) {
        return;
    }
    {
        std::lock_guard lock(forwarder_->mutex);
        forwarder_->stopping = true;
    }
    forwarder_->stop.request_stop();
    forwarder_->changed.notify_all();
    bool ended = false;
    {
        std::unique_lock lock(forwarder_->mutex);
        ended = forwarder_->changed.wait_for(lock, kForwarderGrace, [this] { return forwarder_->ended; });
    }
    if (ended) {
        forwarderThread_.join();
    } else {
        // Held up by the database (a connect or an answer, each bounded by the location's
        // connect timeout): it ends on its own, says nothing more, and what waits stays in the
        // spool for the next forward.
        forwarderThread_.detach();
    }
}

std::thread BackgroundRecorder::launch(std::shared_ptr<Forwarder> forwarder)
{
    if (!forwarder) {
        return {};
    }
    forwarders.fetch_add(1); // before the thread runs: a count read now includes it
    return std::thread([f = std::move(forwarder)]() mutable {
        f->run();
        {
            std::lock_guard lock(f->mutex);
            f->ended = true;
        }
        f->changed.notify_all();
        f.reset();
        forwarders.fetch_sub(1); // its last step: nothing of the recorder's is used after it
    });
}

int BackgroundRecorder::forwardersRunning()
{
    return forwarders.load();
}

void BackgroundRecorder::setForwardBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    if (!forwarder_) {
        return;
    }
    std::lock_guard lock(forwarder_->mutex);
    forwarder_->backoff.set(first, longest);
}

void BackgroundRecorder::record(Event event)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(event));
    }
    changed_.notify_all();
}

void BackgroundRecorder::flush()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && inHand_ == 0; });
}

void BackgroundRecorder::work(std::stop_token stop)
{
    if (forwarder_) {
        // A spool is opened at once, so that what an earlier run left in it is forwarded now.
        std::string problem;
        if (!openHere(problem) && onProblem_) {
            onProblem_(problem);
        }
    }
    for (;;) {
        Event event;
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait(lock, stop, [this] { return !queue_.empty(); })) {
                return;
            }
            event = std::move(queue_.front());
            queue_.pop_front();
            ++inHand_;
        }
        std::string problem;
        const bool opened = ledger_ || openHere(problem);
        if (opened && !problem.empty() && onProblem_) {
            onProblem_(problem); // the station's word on the ledger: the event is recorded all the same
            problem.clear();
        }
        if (opened && ledger_->append(event)) {
            unsealed_ = true;
            if (onRecorded_) {
                onRecorded_(event);
            }
        } else {
            if (ledger_) {
                problem = ledger_->location() + ": " + ledger_->error();
                ledger_.reset(); // opened again for the next event
            }
            if (onProblem_) {
                onProblem_(problem);
            }
        }
        bool drained = false;
        {
            std::lock_guard lock(mutex_);
            drained = queue_.empty();
        }
        if (drained) {
            seal();
        }
        {
            std::lock_guard lock(mutex_);
            --inHand_;
        }
        changed_.notify_all();
    }
}

bool BackgroundRecorder::openHere(std::string& problem)
{
    const std::filesystem::path folder =
        setup_ && !setup_->folder.empty() ? setup_->folder : defaultStationFolder();
    std::shared_ptr<Ledger> opened = openStationLedger(location_, folder, problem);
    if (!opened) {
        return false;
    }
    ledger_ = opened;
    if (auto spooled = std::dynamic_pointer_cast<SpooledLedger>(opened)) {
        // The forwarder checks the shared ledger and signs, as the database may take its time.
        if (forwarder_) {
            {
                std::lock_guard lock(forwarder_->mutex);
                forwarder_->ledger = spooled;
            }
            forwarder_->changed.notify_all();
        }
        return true;
    }
    if (!setup_) {
        return true;
    }
    if (!station_) {
        station_ = Station::open(*setup_, problem);
        if (!station_) {
            problem = oneLine(problem);
            return true;
        }
    }
    const RecordingStart start = startRecording({}, {}, station_, ledger_);
    if (!start.ok() && start.refusal != RecordingStart::Refusal::Unreachable) {
        problem = start.message;
    }
    return true;
}

void BackgroundRecorder::seal()
{
    if (forwarder_) {
        // Forwarded, then signed, on the forwarder's thread.
        if (!unsealed_) {
            return;
        }
        unsealed_ = false;
        {
            std::lock_guard lock(forwarder_->mutex);
            forwarder_->due = true;
        }
        forwarder_->changed.notify_all();
        return;
    }
    if (!unsealed_ || !station_ || !ledger_) {
        return;
    }
    unsealed_ = false;
    const Station::Signed sealed = station_->signCheckpoint(*ledger_);
    if (!sealed.ok && onProblem_) {
        onProblem_(oneLine(sealed.message));
    }
}

} // namespace orv::ledger
