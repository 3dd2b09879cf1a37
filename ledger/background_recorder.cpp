#include "ledger/background_recorder.h"

namespace orv::ledger {

BackgroundRecorder::BackgroundRecorder(std::string location, Recorded onRecorded, Problem onProblem)
    : location_(std::move(location))
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
        if (!ledger_) {
            ledger_ = openLedger(location_, problem);
        }
        if (ledger_ && ledger_->append(event)) {
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
        {
            std::lock_guard lock(mutex_);
            --inHand_;
        }
        changed_.notify_all();
    }
}

} // namespace orv::ledger
