#include "ledger/forwarding.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace orv::ledger {
namespace {

std::atomic<int> forwardingThreads{0};

} // namespace

// Whether the body has ended, shared with the thread, which may outlive its ForwardingThread.
struct ForwardingThread::Ending
{
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
};

bool ForwardingThread::start(std::function<void(std::stop_token)> body)
{
    stop();
    ending_ = std::make_shared<Ending>();
    stop_ = std::stop_source();
    forwardingThreads.fetch_add(1); // before the thread runs: a count read now includes it
    try {
        thread_ = std::thread([ending = ending_, token = stop_.get_token(), body = std::move(body)]() mutable {
            body(token);
            body = nullptr; // what the body held goes before the thread counts as ended
            {
                std::lock_guard lock(ending->mutex);
                ending->finished = true;
            }
            ending->ended.notify_all();
            ending.reset();
            forwardingThreads.fetch_sub(1); // its last step
        });
    } catch (const std::system_error&) {
        forwardingThreads.fetch_sub(1);
        return false;
    }
    return true;
}

void ForwardingThread::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    stop_.request_stop();
    bool ended = false;
    {
        std::unique_lock lock(ending_->mutex);
        ended = ending_->ended.wait_for(lock, kGrace, [this] { return ending_->finished; });
    }
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

int ForwardingThread::running()
{
    return forwardingThreads.load();
}

void ForwardBackoff::set(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    first_ = std::max(first, std::chrono::milliseconds(1));
    longest_ = std::max(longest, first_);
    pause_ = {};
}

std::chrono::milliseconds ForwardBackoff::failed()
{
    pause_ = pause_.count() == 0 ? first_ : std::min(pause_ * 2, longest_);
    return pause_;
}

ForwardSealer::ForwardSealer(std::optional<StationSetup> setup)
    : setup_(std::move(setup))
{
}

bool ForwardSealer::after(const ForwardOutcome& outcome, SpooledLedger& ledger, const Problem& problem)
{
    toSign_ = toSign_ || outcome.forwarded > 0;
    if (!setup_ || !outcome.reached) {
        return !setup_;
    }
    if (!stationTried_) {
        stationTried_ = true;
        std::string error;
        station_ = Station::open(*setup_, error);
        if (!station_) {
            problem(oneLine(error));
        }
    }
    if (!station_) {
        return false;
    }
    if (!checked_) {
        // The station's check before writing, against the shared ledger now that it answers
        // (what waited was forwarded first).
        const std::shared_ptr<Ledger> borrowed(std::shared_ptr<Ledger>(), &ledger);
        const RecordingStart start = startRecording({}, *setup_, station_, borrowed);
        checked_ = start.ok() && start.recording->offline.empty();
        if (!start.ok() && start.refusal != RecordingStart::Refusal::Unreachable) {
            problem(start.message);
        }
        if (!checked_) {
            return false;
        }
    }
    if (toSign_) {
        const Station::Signed sealed = station_->signCheckpoint(ledger);
        toSign_ = !sealed.ok;
        if (!sealed.ok) {
            problem(oneLine(sealed.message));
            return false;
        }
    }
    return true;
}

} // namespace orv::ledger
