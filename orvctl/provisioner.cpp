#include "orvctl/provisioner.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "link/local_clock.h"
#include "orvctl/cli_options.h"
#include "orvctl/ledger_commands.h"
#include "provision/camera_identity.h"
#include "provision/inventory.h"
#include "provision/ledger_events.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace orv::cli {
using namespace orv::provision;
namespace {

// How often a pause looks at the interrupt flag.
constexpr std::chrono::milliseconds kInterruptCheck{50};

ProvisionResult endedWith(int exitCode)
{
    ProvisionResult result;
    result.exitCode = exitCode;
    return result;
}

class Run
{
public:
    Run(const ProvisionSettings& settings, const ProvisionHooks& hooks)
        : s_(settings)
        , hooks_(hooks)
    {
        link_.connectTimeout = s_.timeout;
        link_.replyTimeout = s_.timeout;
    }

    ProvisionResult run()
    {
        // Opened before the first camera: an inventory that cannot be written stops the run
        // with nothing sent, instead of losing the first camera's outcome.
        std::string error;
        if (!inventory_.open(s_.inventory, error)) {
            emit(ProvisionStep::Failed,
                 "cannot open the inventory " + utf::toUtf8(s_.inventory.u16string()) + ": " + error +
                     "; nothing was sent",
                 kExitFailed);
            return endedWith(kExitFailed);
        }
        int lastFailure = kExitDone;
        for (int camera = 1; s_.count == 0 || camera <= s_.count; ++camera) {
            camera_ = camera;
            emit(ProvisionStep::WaitingForCamera, "waiting for a camera at " + s_.address);
            if (!waitForCamera()) {
                return endedWith(interrupted());
            }
            const Outcome outcome = provisionOne();
            link_.Close();
            InventoryRow row{inventoryTime(), outcome.deviceId, outcome.officerId, outcome.result};
            if (!inventory_.append(row)) {
                emit(ProvisionStep::Failed,
                     "cannot append to the inventory " + utf::toUtf8(s_.inventory.u16string()) + "; stopping",
                     kExitFailed);
                return endedWith(kExitFailed);
            }
            if (s_.ledger && !recordInLedger(outcome)) {
                // The outcome is in the inventory; no camera is started that the ledger would miss.
                const std::string problem = ledgerProblem(*s_.ledger);
                emit(ProvisionStep::Failed, "recorded in the inventory only: the ledger " + problem + "; stopping",
                     kExitFailed);
                ProvisionResult lost = endedWith(kExitFailed);
                lost.ledgerProblem = problem;
                lost.inventoryOnly = 1;
                return lost;
            }
            emit(ProvisionStep::Recorded, "recorded: " + outcome.result);
            if (outcome.exitCode != kExitDone) {
                lastFailure = outcome.exitCode;
            }
            if (isInterrupted()) {
                return endedWith(interrupted());
            }
            if (s_.count != 0 && camera == s_.count) {
                break;
            }
            emit(ProvisionStep::WaitingForRemoval,
                 "waiting for the camera to go (unplug it or switch it to U-disk mode)");
            if (!waitForRemoval()) {
                return endedWith(interrupted());
            }
            emit(ProvisionStep::CameraGone, "camera gone");
        }
        return endedWith(lastFailure);
    }

private:
    struct Outcome : CameraOutcomeRecord
    {
        int exitCode = kExitDone;
    };

    bool recordInLedger(const Outcome& outcome)
    {
        ledger::Event event = outcomeEvent(s_.eventTemplate, outcome);
        return s_.ledger->append(event);
    }

    void emit(ProvisionStep step, std::string message, int exitCode = 0)
    {
        if (hooks_.onEvent) {
            hooks_.onEvent({camera_, step, std::move(message), exitCode});
        }
    }

    bool isInterrupted() const { return hooks_.interrupted && hooks_.interrupted->load(); }

    int interrupted()
    {
        emit(ProvisionStep::Interrupted, "interrupted");
        return kExitInterrupted;
    }

    // Sleeps for `d`, waking early when interrupted; false then.
    bool pause(std::chrono::milliseconds d)
    {
        return pauseUnlessInterrupted(d, hooks_.interrupted);
    }

    bool waitForCamera()
    {
        for (;;) {
            if (isInterrupted()) {
                return false;
            }
            if (openAndConnect(link_, s_.address)) {
                return true;
            }
            link_.Close();
            if (!pause(s_.poll)) {
                return false;
            }
        }
    }

    bool waitForRemoval()
    {
        for (;;) {
            if (isInterrupted()) {
                return false;
            }
            const bool present = openAndConnect(link_, s_.address);
            link_.Close();
            if (!present) {
                return true;
            }
            if (!pause(s_.poll)) {
                return false;
            }
        }
    }

    Outcome fail(Outcome outcome, const std::string& why, int exitCode)
    {
        outcome.result = "failed: " + why;
        outcome.exitCode = exitCode;
        emit(ProvisionStep::Failed, s_.address + ": " + why, exitCode);
        return outcome;
    }

    Outcome provisionOne()
    {
        Outcome outcome;
        outcome.where = s_.address;
        emit(ProvisionStep::CameraFound, "camera answers at " + s_.address + "; logging in as " + utf::toUtf8(s_.user));
        const CameraIdentity identity = identifyOnLink(link_, s_.user, s_.password);
        outcome.deviceId = identity.deviceId;
        outcome.officerId = identity.policeId;
        outcome.officerBefore = identity.policeId;
        outcome.unitBefore = identity.companyName;
        outcome.unitAfter = identity.companyName;
        outcome.clockOffset = identity.clockOffset;
        if (!identity.identified()) {
            return fail(outcome, identity.problem,
                        identity.login == LoginOutcome::Refused ? kExitLoginRefused : kExitUnreachable);
        }
        emit(ProvisionStep::LoggedIn, "logged in; device " + utf::toUtf8(outcome.deviceId));

        emit(ProvisionStep::Applying, "applying and verifying the setup");
        const ApplyReport report = applySetup(link_, s_.plan);
        outcome.sent = report.sent;
        outcome.differences = report.differences;
        outcome.notReadBack = deviceNotReadBack(s_.plan, report);
        for (const GroupValues& group : report.readBack) {
            if (group.group == Group::Device) {
                if (const FieldValue* officer = group.find("policeId")) {
                    outcome.officerId = officer->text;
                }
                if (const FieldValue* unit = group.find("companyName")) {
                    outcome.unitAfter = unit->text;
                }
            }
        }
        if (report.outcome != CameraOutcome::Done) {
            return fail(outcome,
                        std::string(groupName(report.failedGroup)) + ": " + report.failedStep + ": " +
                            std::string(outcomeText(report.outcome)),
                        kExitUnreachable);
        }
        if (!report.differences.empty()) {
            return fail(outcome, "differs: " + differenceList(report.differences), kExitDiffers);
        }
        outcome.result = "ok";
        emit(ProvisionStep::Verified, "verified");
        return outcome;
    }

    const ProvisionSettings& s_;
    const ProvisionHooks& hooks_;
    Inventory inventory_;
    CameraLink link_;
    int camera_ = 0;
};

} // namespace

std::string_view provisionStepName(ProvisionStep step)
{
    switch (step) {
        case ProvisionStep::WaitingForCamera:
            return "waiting";
        case ProvisionStep::CameraFound:
            return "found";
        case ProvisionStep::LoggedIn:
            return "logged-in";
        case ProvisionStep::Applying:
            return "applying";
        case ProvisionStep::Verified:
            return "verified";
        case ProvisionStep::Failed:
            return "failed";
        case ProvisionStep::Recorded:
            return "recorded";
        case ProvisionStep::WaitingForRemoval:
            return "waiting-removal";
        case ProvisionStep::CameraGone:
            return "gone";
        case ProvisionStep::Interrupted:
            return "interrupted";
    }
    return "";
}

bool pauseUnlessInterrupted(std::chrono::milliseconds d, const std::atomic<bool>* interrupted)
{
    const auto until = std::chrono::steady_clock::now() + d;
    while (!(interrupted && interrupted->load())) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kInterruptCheck));
    }
    return false;
}

ProvisionResult provision(const ProvisionSettings& settings, const ProvisionHooks& hooks)
{
    return Run(settings, hooks).run();
}

} // namespace orv::cli
