#include "ledger/background_recorder.h"

#include "ledger/forwarding.h"
#include "ledger/spooled_ledger.h"

#include <algorithm>

namespace orv::ledger {

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

    void run(std::stop_token stop);
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

    std::mutex mutex;
    std::condition_variable changed;
    std::shared_ptr<SpooledLedger> ledger; // the worker's, once it opened it
    bool due = false;                      // events were appended since the last forward began
    bool stopping = false;                 // the recorder is going: nothing more is said
    ForwardBackoff backoff; // under `mutex`
};

void BackgroundRecorder::Forwarder::run(std::stop_token stop)
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
        const ForwardOutcome outcome = spooled->forward({}, stop);
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
    , worker_([this](std::stop_token stop) { work(stop); })
{
    if (forwarder_) {
        // Without a thread what waits stays in the spool, for the next start or orvctl ledger sync.
        forwarderThread_.start([f = forwarder_](std::stop_token stop) { f->run(stop); });
    }
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
    forwarder_->changed.notify_all();
    // Held up by the database it is let go: it says nothing more, and what waits stays in the
    // spool for the next forward.
    forwarderThread_.stop();
}

int BackgroundRecorder::forwardersRunning()
{
    return ForwardingThread::running();
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
