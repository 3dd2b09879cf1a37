#include "ledger/background_recorder.h"

namespace orv::ledger {

BackgroundRecorder::BackgroundRecorder(std::string location, Recorded onRecorded, Problem onProblem,
                                       std::optional<StationSetup> station)
    : location_(std::move(location))
    , setup_(std::move(station))
    , onRecorded_(std::move(onRecorded))
    , onProblem_(std::move(onProblem))
    , worker_([this](std::stop_token stop) { work(stop); })
{
}

BackgroundRecorder::~BackgroundRecorder()
{
    flush();
    worker_.request_stop();
    changed_.notify_all();
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
    std::shared_ptr<Ledger> opened = openLedger(location_, problem);
    if (!opened) {
        return false;
    }
    ledger_ = opened;
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
