#pragma once
// The search tool's way to the ledger. Opening it, checking that it answers and reading from it
// may wait for a database across the network, so all of that happens on one thread of the desk's
// own; each answer is handed to a callback on that thread (the window posts it to its own).
// The runner's workers append to the ledger the desk opened, each on its own thread. A shared
// database is recorded to through the station's spool: while its events wait there, a thread of
// a third kind, the forwarder, sends them on again and again, and says how the spool stands.

#include "fleet/worker_pool.h"
#include "ledger/ledger.h"
#include "ledger/spooled_ledger.h"
#include "ledger/station.h"
#include "report/custody_report.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
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
        // Set by prepareRun: the shared database is away and the run records into the station's
        // spool only (since when and why); `head` is then the last one this station saw.
        std::string offline;
        bool ok() const { return ledger && head && problem.empty(); }
    };
    struct Sealed
    {
        std::optional<ledger::ChainHead> head;
        std::string problem; // no checkpoint signed, and why
    };
    struct History
    {
        std::vector<ledger::Event> events;  // in number order
        std::vector<ledger::Event> waiting; // in the station's spool, not yet in the shared ledger; oldest first
        std::string problem;                // the ledger could not be read (the spool's events may still be there)
    };
    // How the station's spool for the location stands: after each forward, after a run, and when
    // the location changes.
    struct SpoolState
    {
        bool spooled = false; // the location is a shared database recorded to through the spool
        ledger::SpoolStatus status;
        std::string problem; // the spool itself cannot be had or read
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
    // The last event of each of these cameras that wrote something to it (a configuration); one
    // still waiting in the station's spool has the number 0. While the spool says the shared
    // database is away, only the spool is looked at: a look-up must not wait for it.
    void lastConfigured(std::vector<std::string> deviceIds,
                        std::function<void(const std::vector<ledger::Event>&)> done);

    // Told how the spool stands, on the desk's or the forwarder's thread (the window posts it).
    void setSpoolListener(std::function<void(const SpoolState&)> listener);
    // The forwarder's waits between tries while the shared database is away: `first`, doubled
    // after each failure up to `longest`; once nothing waits it looks again every `longest`.
    void setForwardBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest);

    // Drops everything queued; callbacks are not called any more. The forwarder is asked to stop
    // and let go of (within about 200 ms, else it ends on its own later: a forward stuck in a
    // database that does not answer is not waited for; what it did not send stays in the spool).
    void close();

    // Forwarders of every desk whose thread has not ended yet (tests).
    static int forwardersRunning();

private:
    class Forwarder;

    Opened openHere();
    // The ledger at the location, opened (a shared database through the station's spool) when it
    // is not yet; null with `problem`. Reads nothing from it.
    std::shared_ptr<ledger::Ledger> ledgerHere(std::string& where, std::string& problem);
    // The station's setup for the trusted keys asked for, worked out once per file.
    const ledger::StationSetup& setupHere();
    // The spool's status told to the listener (the desk's thread); pokes the forwarder when events wait.
    void tellSpool(ledger::SpooledLedger* spooled);
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
    std::optional<ledger::StationSetup> setup_; // the desk thread's
    std::filesystem::path setupTrusted_;        // the trusted keys setup_ was worked out for
    std::function<void(const SpoolState&)> listener_; // under mutex_
    std::chrono::milliseconds backoffFirst_{2000};    // under mutex_
    std::chrono::milliseconds backoffLongest_{60000}; // under mutex_
    std::atomic<bool> closed_{false};
    std::stop_source stopWaiting_; // asked by close(): the desk's tasks stop waiting for the database
    std::unique_ptr<Forwarder> forwarder_;
    fleet::WorkerPool pool_{1}; // last: it ends before the members it uses
};

} // namespace orv::search
