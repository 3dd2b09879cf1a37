#pragma once
// What every forwarder of a station shares, whichever program runs it (the console's recorder,
// the search tool's desk): the thread it runs on, how long it waits before it tries again, and
// what the station does once events reached the shared ledger.

#include "ledger/spooled_ledger.h"
#include "ledger/station.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace orv::ledger {

// The thread a forwarder runs on, which closing a window never waits for long: stop() asks the
// body to end (through its token) and waits a moment for it; a body held up by the database (a
// connect or an answer, each bounded by the location's time) is let go and ends on its own. The
// body must hold what it uses through shared pointers of its own.
class ForwardingThread
{
public:
    static constexpr std::chrono::milliseconds kGrace{200};

    ForwardingThread() = default;
    ~ForwardingThread() { stop(); }
    ForwardingThread(const ForwardingThread&) = delete;
    ForwardingThread& operator=(const ForwardingThread&) = delete;

    // False when no thread could be had (nothing is forwarded then: what waits stays in the spool).
    bool start(std::function<void(std::stop_token)> body);
    void stop();
    // Forwarding threads of this program not ended yet, those let go of included (tests).
    static int running();

private:
    struct Ending;
    std::shared_ptr<Ending> ending_;
    std::stop_source stop_;
    std::thread thread_;
};

// The pause before the next forward: `first` after a forward the shared ledger did not take,
// doubled after each one more up to `longest`; none once one was taken.
class ForwardBackoff
{
public:
    static constexpr std::chrono::milliseconds kFirst{2'000};
    static constexpr std::chrono::milliseconds kLongest{60'000};

    void set(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    // After a forward that did not reach the shared ledger: the pause before the next one.
    std::chrono::milliseconds failed();
    // After one that did.
    void reached() { pause_ = {}; }
    std::chrono::milliseconds longest() const { return longest_; }

private:
    std::chrono::milliseconds first_{kFirst};
    std::chrono::milliseconds longest_{kLongest};
    std::chrono::milliseconds pause_{0};
};

// What the station does after a forward, as after a run: the first time the shared ledger
// answers, its check that the ledger still holds what this station saw; after events reached it,
// a checkpoint it signs over them. Without a station setup, nothing.
class ForwardSealer
{
public:
    using Problem = std::function<void(const std::string& message)>;

    explicit ForwardSealer(std::optional<StationSetup> setup);

    // After `outcome`, a forward of `ledger`. `problem` for what the station could not do (its
    // key, a history that changed, a checkpoint not signed). True when all is well.
    bool after(const ForwardOutcome& outcome, SpooledLedger& ledger, const Problem& problem);

private:
    std::optional<StationSetup> setup_;
    std::shared_ptr<Station> station_;
    bool stationTried_ = false;
    bool checked_ = false; // the station found the shared ledger holds what it saw
    bool toSign_ = false;  // events were forwarded since the last checkpoint
};

} // namespace orv::ledger
