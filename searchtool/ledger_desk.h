#pragma once
// The search tool's way to the ledger. Opening it, checking that it answers and reading from it
// may wait for a database across the network, so all of that happens on one thread of the desk's
// own; each answer is handed to a callback on that thread (the window posts it to its own).
// The runner's workers append to the ledger the desk opened, each on its own thread.

#include "fleet/worker_pool.h"
#include "ledger/ledger.h"
#include "ledger/station.h"
#include "report/custody_report.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orv::search {

class LedgerDesk
{
public:
    // The ledger at a location, opened and found answering (its chain head read); or why not.
    struct Opened
    {
        std::shared_ptr<ledger::Ledger> ledger;
        std::optional<ledger::ChainHead> head;
        std::string where; // the location as the ledger names it (never a password)
        std::string problem;
        // Set by prepareRun: the station refused (its key, trusted keys or witness file), or the
        // ledger's history changed since this station saw it (`evidence` keeps the proof).
        ledger::RecordingStart::Refusal refusal = ledger::RecordingStart::Refusal::None;
        std::string evidence;
        bool ok() const { return ledger && head && problem.empty(); }
    };
    struct Sealed
    {
        std::optional<ledger::ChainHead> head;
        std::string problem; // no checkpoint signed, and why
    };
    struct History
    {
        std::vector<ledger::Event> events; // in number order
        std::string problem;
    };

    LedgerDesk();
    ~LedgerDesk(); // what is queued and not begun is dropped, but for reports; the query in hand ends first
    LedgerDesk(const LedgerDesk&) = delete;
    LedgerDesk& operator=(const LedgerDesk&) = delete;

    // The location to use from now on ("" is the embedded default file).
    void setLocation(std::string location);
    std::string location() const;

    // The trusted keys from now on (empty: those the station remembers).
    void setTrustedKeys(std::filesystem::path file);

    // Opens the ledger (again, when it was lost or the location changed) and reads its head.
    void open(std::function<void(const Opened&)> done);
    // As open, and the station's check before a run: its key, trusted keys and witness file can be
    // used, and the ledger still holds what this station saw.
    void prepareRun(std::function<void(const Opened&)> done);
    // After a run: signs a checkpoint of the ledger, then reads its head.
    void seal(std::function<void(const Sealed&)> done);
    // The camera's events.
    void history(std::string deviceId, std::function<void(const History&)> done);
    // A custody report made with the desk's ledger and station (signed first, then recorded in
    // it); close() does not drop it. Qt's fonts must have been loaded on the user-interface thread
    // (report::reportFonts).
    void report(report::ReportRequest request, std::function<void(const report::ReportOutcome&)> done);
    // The last event of each of these cameras that wrote something to it (a configuration).
    void lastConfigured(std::vector<std::string> deviceIds,
                        std::function<void(const std::vector<ledger::Event>&)> done);

    // Drops everything queued; callbacks are not called any more.
    void close();

private:
    Opened openHere();
    // The station, opened on the desk's thread once; null with `error`.
    std::shared_ptr<ledger::Station> stationHere(std::string& error);
    bool post(std::function<void()> task);

    mutable std::mutex mutex_;
    std::string location_;
    std::shared_ptr<ledger::Ledger> ledger_; // the desk thread's; handed to runs
    std::string openedAt_;                   // the location ledger_ was opened at
    std::filesystem::path trustedKeys_;      // under mutex_
    std::shared_ptr<ledger::Station> station_; // the desk thread's
    std::filesystem::path stationTrusted_;     // the trusted keys station_ was opened with
    std::atomic<bool> closed_{false};
    fleet::WorkerPool pool_{1}; // last: it ends before the members it uses
};

} // namespace orv::search
