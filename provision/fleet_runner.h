#pragma once
// Provisioning many cameras at once. The runner keeps a fixed set of workers (at most `parallel`,
// started as work comes and kept for the session); each camera is one job of a run (one press of
// Apply or Check, one `provision --all`), on a CameraLink of its own: it is taken over from the
// watch, logged into, identified by its device id, given its officer from the roster, set up (or
// only checked), read back and recorded in the inventory, then handed back.

#include "fleet/candidate.h"
#include "fleet/roster.h"
#include "fleet/worker_pool.h"
#include "provision/camera_registry.h"
#include "provision/inventory.h"
#include "provision/ledger_events.h"
#include "provision/setup_apply.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orv::provision {

// What to do with a camera whose device id is not on the roster.
enum class NotOnRoster : std::uint8_t {
    Skip,     // send nothing; record "not on the roster"
    UseSetup, // configure it with the setup file's own identity
};

// The plan with the device group's officer and unit fields taken from the roster entry; the
// device group is added (before time) when the setup has none.
std::vector<GroupPlan> planForOfficer(std::span<const GroupPlan> plan, const fleet::RosterEntry& entry);

enum class RunMode : std::uint8_t {
    Apply, // send the setup, read it back
    Check, // read the camera and compare it with the setup and the roster; send nothing
};

enum class CameraStep : std::uint8_t {
    Queued, // handed to the runner, waiting for a worker (and for the watch to let go)
    Connecting,
    LoggingIn,
    Identifying, // reading the device record and the clock
    Sent,        // `group` was written
    ReadBack,    // `group` was read back
    Checked,     // Check: `group` was read and compared
    Finished,    // `result` says how it went
};

std::string_view cameraStepName(CameraStep step);

enum class CameraResult : std::uint8_t {
    Pending,
    Verified,    // Apply: sent and read back as sent; Check: holds what the setup says
    Differs,     // see `differences`
    NotOnRoster, // left untouched
    DuplicateId, // another camera present reports the same device id: left untouched
    Stopped,     // asked to stop before the camera was done; what was not sent is in `message`
    LoginRefused,
    Unreachable, // no connection, or the camera fell silent or went away
    // FleetSettings::vanishedIsNoCamera: nothing answered when its worker first connected, so the
    // camera was pulled out after the watch saw it. It is no camera: nothing is recorded.
    Vanished,
};

std::string_view cameraResultName(CameraResult result); // "ok", "differs", ...

// "usb1 192.168.2.158, usb3 192.168.2.158": the other cameras with a camera's device id.
std::string twinList(std::span<const std::string> twins);

struct CameraProgress
{
    std::size_t camera = 0; // the order in which cameras were added to the run, from 0
    fleet::Candidate candidate;
    CameraStep step = CameraStep::Queued;
    Group group = Group::Platform;           // Sent, ReadBack and Checked
    std::u16string deviceId;                 // once read
    std::u16string officerId;                // the camera's, then the one it was given once read back
    std::u16string officerBefore;            // as identified, before anything was sent
    std::u16string unitBefore;               // the device record's company name, before
    std::u16string unitAfter;                // the same, read back
    std::vector<Group> sent;                 // the groups written
    std::optional<std::int64_t> clockOffset; // once read: the camera's clock minus this computer's, s
    std::vector<std::string> twins;          // other cameras present with the same device id
    CameraResult result = CameraResult::Pending;
    std::string message;                      // Finished: the result in words, as in the inventory
    std::vector<FieldDifference> differences; // Finished
    bool recorded = false;                    // Finished: the inventory row was written
    std::int64_t ledgerEvent = 0;             // Finished: the event's number in the ledger (0: none)
    bool ledgerSpooled = false;               // Finished: recorded in the station's spool of a shared ledger (number 0 until forwarded)
    // Finished: what the device group gave the camera when it was sent and never read back.
    std::optional<UnconfirmedDevice> notReadBack;
};

// How one run treats its cameras.
struct FleetSettings
{
    std::u16string user;
    std::u16string password;
    std::vector<GroupPlan> plan;
    std::shared_ptr<const fleet::Roster> roster; // null: every camera gets the setup as it is
    NotOnRoster notOnRoster = NotOnRoster::Skip;
    RunMode mode = RunMode::Apply;
    std::chrono::milliseconds timeout{3000}; // connect and each reply
    std::uint16_t port = kCameraPort;
    // Where every outcome is recorded besides the inventory; null: the inventory only. Opened
    // (and so found reachable) before the run starts.
    std::shared_ptr<ledger::Ledger> ledger;
    // What every camera's event shares: origin, kind, setup file. Stamped when its camera finishes.
    ledger::Event eventTemplate;
    // The cameras come from the watch, which saw each one answer: one that no longer takes a
    // connection when its worker first connects was pulled out since (at a dock, right after its
    // outcome was written, while the watch looked at it again). It ends Vanished, with no
    // inventory row and no event, rather than as a failed camera without a device id.
    bool vanishedIsNoCamera = false;
};

class FleetRunner;

// How many cameras of a run ended how, kept whatever the run's length.
struct RunTally
{
    std::size_t added = 0;
    std::size_t finished = 0;
    std::array<std::size_t, 9> byResult{}; // indexed by CameraResult
    std::size_t inventoryOnly = 0;         // outcomes the ledger did not take (it was lost)
    // The last camera to finish that differs, was refused, could not be reached or has a twin.
    CameraResult lastTrouble = CameraResult::Pending;

    std::size_t count(CameraResult r) const { return byResult[static_cast<std::size_t>(r)]; }
};

// Whether a run keeps every camera's last report after it finished (a run of one press), or only
// its tally (a run that lasts a whole shift: its memory stays flat however many cameras it sees).
enum class Outcomes : std::uint8_t { Keep, TallyOnly };

// One run: the cameras added to it share its settings, its inventory and its listener. Shared by
// its owner and the runner's queued jobs, so it may outlive a window that closes.
class FleetRun
{
public:
    using Listener = std::function<void(const CameraProgress&)>;

    // `listener` hears every step of every camera, on the workers' threads, one call at a time;
    // it may call stop() and nothing else of the run. `inventory` may be null (nothing recorded).
    FleetRun(FleetSettings settings, std::shared_ptr<FleetInventory> inventory, Listener listener,
             Outcomes outcomes = Outcomes::Keep);

    // Every camera finishes the step it is in and is sent nothing more; cameras still queued are
    // recorded as stopped without being contacted. Returns at once.
    void stop();
    bool stopping() const { return stop_.load(); }
    // Returns when every camera added so far has finished.
    void wait() const;
    // The last word on every camera, in the order added; with Outcomes::TallyOnly, on the cameras
    // not finished yet only.
    std::vector<CameraProgress> outcomes() const;
    RunTally tally() const;
    std::size_t added() const;
    std::size_t finished() const;
    bool inventoryFailed() const { return inventoryFailed_.load(); }
    // The ledger was lost during the run, or its disk had no room for the next camera's outcome:
    // no camera was started after that.
    bool ledgerFailed() const { return ledgerFailed_.load(); }
    std::string ledgerProblem() const;
    const FleetSettings& settings() const { return settings_; }

private:
    friend class FleetRunner;

    std::size_t enter(const fleet::Candidate& candidate);
    CameraProgress camera(std::size_t number) const; // one not finished yet
    void report(CameraProgress& camera, CameraStep step);
    void finish(CameraProgress& camera, CameraResult result, std::string message);
    void recordInInventory(CameraProgress& camera);
    void recordInLedger(CameraProgress& camera);
    // Before a camera is sent anything: whether the ledger's disk has room for its outcome. When
    // it has not, the ledger counts as lost and the run stops.
    bool hasRoomToRecord();
    // The ledger counts as lost for `problem`: no camera is started after.
    void loseLedger(std::string problem);

    const FleetSettings settings_;
    const std::shared_ptr<FleetInventory> inventory_;
    Listener listener_;
    const Outcomes keep_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> inventoryFailed_{false};
    std::atomic<bool> ledgerFailed_{false};
    std::string ledgerProblem_; // under mutex_

    mutable std::mutex mutex_;
    mutable std::condition_variable finishedSignal_;
    std::map<std::size_t, CameraProgress> atWork_; // by number: the last report of each not finished
    std::vector<CameraProgress> kept_;             // Outcomes::Keep: every camera's, by number
    RunTally tally_;
    std::mutex listenerMutex_;
};

class FleetRunner
{
public:
    // `registry` is shared with the watch, so that the two never talk to one camera at once;
    // without one the runner keeps its own.
    explicit FleetRunner(std::size_t parallel = 16, std::shared_ptr<CameraRegistry> registry = {});
    ~FleetRunner(); // stops every run it has work of; each camera finishes its step; then joins
    FleetRunner(const FleetRunner&) = delete;
    FleetRunner& operator=(const FleetRunner&) = delete;

    // Hands the camera to `run`: from now on the watch starts nothing new on it, and a worker
    // takes it once the watch has let go. Returns its number in the run, or nullopt with `error`
    // when no worker thread could be started (nothing was queued then).
    std::optional<std::size_t> add(const std::shared_ptr<FleetRun>& run, const fleet::Candidate& candidate,
                                   std::string* error = nullptr);

    std::size_t workerCount() const { return pool_.workerCount(); }
    CameraRegistry& registry() { return *registry_; }

private:
    struct Outcome
    {
        CameraResult result = CameraResult::Pending;
        std::string message;
    };

    void runJob(FleetRun& run, std::size_t camera);
    void runCamera(FleetRun& run, CameraProgress& camera);
    // Everything a job says to the camera, on `link`; how it ended.
    Outcome workOn(FleetRun& run, CameraProgress& camera, CameraLink& link);

    std::shared_ptr<CameraRegistry> registry_;
    std::atomic<bool> closing_{false};
    std::mutex runsMutex_;
    std::vector<std::weak_ptr<FleetRun>> runs_; // to stop them when the runner ends
    fleet::WorkerPool pool_;                    // last: its workers end before anything they use
};

} // namespace orv::provision
