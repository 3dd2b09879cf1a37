#pragma once
// Records events on a thread of its own, so that a caller that must never wait for a database (a
// window's thread) hands an event over and goes on. The ledger is opened at the first event and
// again after it was lost. With a station, the station checks the ledger when it is opened, and
// signs a checkpoint each time the events handed over so far are recorded.
//
// A shared database is recorded to through the station's spool: appending is local and quick,
// and a forwarder thread of its own sends what waits to the shared ledger (at the start, after
// each run of events handed over, and while the database is away again and again with a growing
// pause), then signs a checkpoint. Destroying the recorder does not wait for a forward held up by
// a database that does not answer: what waits stays in the spool for the next forward.

#include "ledger/forwarding.h"
#include "ledger/ledger.h"
#include "ledger/station.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orv::ledger {

// What the forwarder has to say about the shared ledger: once when it stopped taking the events
// (they wait in the spool), and once when it took them again.
struct SharedLedgerNews
{
    enum class Kind : std::uint8_t { Away, Forwarded } kind = Kind::Away;
    std::string sinceUtc;       // Away: when the shared ledger stopped answering (a timeUtc)
    std::string why;            // Away: one line
    std::int64_t waiting = 0;   // Away: events in the spool
    std::int64_t forwarded = 0; // Forwarded: events it took since it was away
};

class BackgroundRecorder
{
public:
    // `onRecorded(event)` after an event was made durable (in the ledger or the spool);
    // `onProblem(message)` when one could not be, or the station could not check or sign (where
    // and why); `onNews` for the shared ledger away and back. Each on one of the recorder's
    // threads, never after the destructor returned.
    using Recorded = std::function<void(const Event&)>;
    using Problem = std::function<void(const std::string& message)>;
    using News = std::function<void(const SharedLedgerNews&)>;

    BackgroundRecorder(std::string location, Recorded onRecorded, Problem onProblem,
                       std::optional<StationSetup> station = std::nullopt, News onNews = {});
    // Records what was handed over before it returns: each event at most one connect or write
    // timeout of a ledger file, a moment in a spool. A forward still held up by the database
    // some 200 ms after it was asked to stop is let go of (its thread ends on its own). Call it
    // where nothing waits for it (after the window has gone).
    ~BackgroundRecorder();
    BackgroundRecorder(const BackgroundRecorder&) = delete;
    BackgroundRecorder& operator=(const BackgroundRecorder&) = delete;

    // Queues `event`; returns at once.
    void record(Event event);
    // Returns once every event handed over so far was recorded or given up (tests).
    void flush();
    // The pause after a forward the shared ledger did not take, doubled after each such forward
    // up to `longest`, and the first again once one was taken (default 2 s and 60 s).
    void setForwardBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest);

    // Forwarder threads of any recorder that have not ended yet, those let go of included (tests).
    static int forwardersRunning();

private:
    struct Forwarder;

    void work(std::stop_token stop);
    // Opens the ledger (and the station, checking the ledger); false with `problem`.
    bool openHere(std::string& problem);
    void seal();
    void stopForwarder();

    const std::string location_;
    const std::optional<StationSetup> setup_;
    std::shared_ptr<Station> station_; // the worker's own (a ledger file)
    bool unsealed_ = false;            // the worker's: events appended since the last checkpoint
    Recorded onRecorded_;
    Problem onProblem_;
    std::shared_ptr<Ledger> ledger_; // the worker's own

    // A shared database's: what the forwarder thread shares with the recorder (it may outlive it).
    std::shared_ptr<Forwarder> forwarder_;
    ForwardingThread forwarderThread_;

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Event> queue_;
    std::size_t inHand_ = 0;
    std::jthread worker_; // last: it ends before the members it uses
};

} // namespace orv::ledger
