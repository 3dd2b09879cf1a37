#pragma once
// Records events on a thread of its own, so that a caller that must never wait for a database (a
// window's thread) hands an event over and goes on. The ledger is opened at the first event and
// again after it was lost. With a station, the station checks the ledger when it is opened, and
// signs a checkpoint each time the events handed over so far are recorded.

#include "ledger/ledger.h"
#include "ledger/station.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orv::ledger {

class BackgroundRecorder
{
public:
    // `onRecorded(event)` after an event was made durable; `onProblem(message)` when one could
    // not be (where and why); both on the recorder's thread.
    using Recorded = std::function<void(const Event&)>;
    using Problem = std::function<void(const std::string& message)>;

    BackgroundRecorder(std::string location, Recorded onRecorded, Problem onProblem,
                       std::optional<StationSetup> station = std::nullopt);
    // Records what was handed over before it returns: each event at most one connect or write
    // timeout. Call it where nothing waits for it (after the window has gone).
    ~BackgroundRecorder();
    BackgroundRecorder(const BackgroundRecorder&) = delete;
    BackgroundRecorder& operator=(const BackgroundRecorder&) = delete;

    // Queues `event`; returns at once.
    void record(Event event);
    // Returns once every event handed over so far was recorded or given up (tests).
    void flush();

private:
    void work(std::stop_token stop);
    // Opens the ledger (and the station, checking the ledger); false with `problem`.
    bool openHere(std::string& problem);
    void seal();

    const std::string location_;
    const std::optional<StationSetup> setup_;
    std::shared_ptr<Station> station_; // the worker's own
    bool unsealed_ = false;            // the worker's: events appended since the last checkpoint
    Recorded onRecorded_;
    Problem onProblem_;
    std::shared_ptr<Ledger> ledger_; // the worker's own

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Event> queue_;
    std::size_t inHand_ = 0;
    std::jthread worker_; // last: it ends before the members it uses
};

} // namespace orv::ledger
