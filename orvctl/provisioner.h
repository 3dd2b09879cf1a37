#pragma once
// Provisioning one camera after another: wait for a camera at the address, log in, apply and
// verify a setup, record it in the inventory and the ledger, wait for it to go, start over.

#include "ledger/ledger.h"
#include "provision/setup_apply.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::cli {

enum class ProvisionStep : std::uint8_t {
    WaitingForCamera,
    CameraFound,
    LoggedIn,
    Applying,
    Verified,
    Failed,
    Recorded,
    WaitingForRemoval,
    CameraGone,
    Interrupted,
};

std::string_view provisionStepName(ProvisionStep step);

struct ProvisionEvent
{
    int camera = 0; // 1 for the first camera of the run
    ProvisionStep step = ProvisionStep::WaitingForCamera;
    std::string message;
    int exitCode = 0; // Failed: what this camera would make the run exit with
};

struct ProvisionSettings
{
    std::string address;
    std::u16string user;
    std::u16string password;
    std::vector<provision::GroupPlan> plan;
    std::filesystem::path inventory;
    int count = 0; // 0: until interrupted
    std::chrono::milliseconds timeout{3000};
    std::chrono::milliseconds poll{500};
    // Where each outcome is recorded besides the inventory (null: the inventory only), opened
    // before the run; what every camera's event shares, stamped when its camera is done.
    std::shared_ptr<ledger::Ledger> ledger;
    ledger::Event eventTemplate;
};

struct ProvisionResult
{
    // 130 when interrupted, 1 when the inventory could not be written or the ledger was lost,
    // otherwise 0 when every camera passed or the code of the last camera that failed (3, 4 or 5).
    int exitCode = 0;
    std::string ledgerProblem; // the ledger was lost ("LOCATION: WHY"): the run stopped there
    int inventoryOnly = 0;     // outcomes recorded in the inventory but not in the ledger
};

struct ProvisionHooks
{
    const std::atomic<bool>* interrupted = nullptr;
    std::function<void(const ProvisionEvent&)> onEvent;
};

// Sleeps for `d`, waking early when `interrupted` is set; false then. Both provisioning loops
// wait this way so that Ctrl+C is noticed within a fraction of a second.
bool pauseUnlessInterrupted(std::chrono::milliseconds d, const std::atomic<bool>* interrupted);

ProvisionResult provision(const ProvisionSettings& settings, const ProvisionHooks& hooks);

} // namespace orv::cli
