#pragma once
// Provisioning many cameras at once: one worker and one CameraLink per camera, at most `parallel`
// of them at a time. Each camera is logged into, identified by its device id, given its officer
// from the roster, set up, read back and recorded in the inventory.

#include "fleet/candidate.h"
#include "fleet/roster.h"
#include "provision/inventory.h"
#include "provision/setup_apply.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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

enum class CameraStep : std::uint8_t {
    Queued, // found, waiting for a free worker
    Connecting,
    LoggingIn,
    Identifying, // reading the device record
    Sent,        // `group` was written
    ReadBack,    // `group` was read back
    Finished,    // `result` says how it went
};

std::string_view cameraStepName(CameraStep step);

enum class CameraResult : std::uint8_t {
    Pending,
    Verified,
    Differs,     // sent, but the read-back differs (see `differences`)
    NotOnRoster, // left untouched
    Stopped,     // asked to stop before the camera was done; what was not sent is in `message`
    LoginRefused,
    Unreachable, // no connection, or the camera fell silent or went away
};

std::string_view cameraResultName(CameraResult result); // "ok", "differs", ...

struct CameraProgress
{
    std::size_t camera = 0; // the order in which cameras were added, from 0
    fleet::Candidate candidate;
    CameraStep step = CameraStep::Queued;
    Group group = Group::Platform; // Sent and ReadBack
    std::u16string deviceId;       // once read
    std::u16string officerId;      // the camera's, then the one it was given once read back
    CameraResult result = CameraResult::Pending;
    std::string message;                      // Finished: the result in words, as in the inventory
    std::vector<FieldDifference> differences; // Finished
    bool recorded = false;                    // Finished: the inventory row was written
};

struct FleetSettings
{
    std::u16string user;
    std::u16string password;
    std::vector<GroupPlan> plan;
    const fleet::Roster* roster = nullptr; // null: every camera gets the setup as it is
    NotOnRoster notOnRoster = NotOnRoster::Skip;
    std::size_t parallel = 16;
    std::chrono::milliseconds timeout{3000}; // connect and each reply
    std::uint16_t port = kCameraPort;
};

class FleetRunner
{
public:
    // `listener` hears every step of every camera, on the workers' threads, one call at a time;
    // it may call stop() and nothing else of the runner. `inventory` may be null (nothing recorded).
    FleetRunner(FleetSettings settings, FleetInventory* inventory, std::function<void(const CameraProgress&)> listener);
    ~FleetRunner(); // stops and waits
    FleetRunner(const FleetRunner&) = delete;
    FleetRunner& operator=(const FleetRunner&) = delete;

    // Queues a camera; it starts as soon as fewer than `parallel` are at work. Once stopped, a
    // camera still queued is recorded as stopped without being contacted. Returns its number.
    std::size_t add(const fleet::Candidate& candidate);
    // Every camera finishes the step it is in and is sent nothing more.
    void stop();
    bool stopping() const { return stop_.load(); }
    // Returns when every camera added so far has finished.
    void wait();
    std::vector<CameraProgress> outcomes() const; // the last word on every camera, in order added
    bool inventoryFailed() const { return inventoryFailed_.load(); }

private:
    void work();
    void runCamera(CameraProgress& camera);
    void finish(CameraProgress& camera, CameraResult result, std::string message);
    void report(CameraProgress& camera, CameraStep step);

    FleetSettings settings_;
    FleetInventory* inventory_;
    std::function<void(const CameraProgress&)> listener_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> inventoryFailed_{false};

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<CameraProgress> cameras_; // by number: the last report of each
    std::vector<std::size_t> queue_;
    std::size_t working_ = 0;
    std::vector<std::thread> threads_;
    std::mutex listenerMutex_;
};

} // namespace orv::provision
