// orvctl provision SETUP.xml: cameras one after another, or many at once (--all).
#include "orvctl/camera_command.h"
#include "orvctl/command.h"

#include "lang/utf.h"
#include "link/records.h"
#include "orvctl/fleet_commands.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "persist/setup_document.h"
#include "provision/camera_actions.h"
#include "provision/camera_session.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

class ProvisionCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;
    using CameraCommand::workOnAllCameras;

    int provisionCameras()
    {
        ProvisionSettings settings;
        if (const int code = loadPlan(o_.operands[0], settings.plan)) {
            return code;
        }
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        settings.address = o_.address;
        settings.user = user_;
        settings.password = password_;
        settings.inventory = pathFromArgument(o_.inventory);
        settings.count = o_.count;
        settings.timeout = o_.timeout;
        settings.poll = o_.poll;
        int code = kExitDone;
        const std::optional<ledger::Recording> recording = startRecording(o_, c_, code);
        if (!recording) {
            return code;
        }
        settings.ledger = recording->ledger;
        settings.eventTemplate = startEvent(orvctlOrigin(), "provision");
        noteSetupFile(settings.eventTemplate, pathFromArgument(o_.operands[0]), setupBytes_);
        ProvisionHooks hooks;
        hooks.interrupted = c_.interrupted;
        hooks.onEvent = [this](const ProvisionEvent& e) {
            if (o_.json) {
                JsonWriter j;
                j.beginObject().key("camera").value(e.camera).key("step").value(provisionStepName(e.step));
                j.key("message").value(e.message);
                if (e.step == ProvisionStep::Failed) {
                    j.key("exitCode").value(e.exitCode);
                }
                j.endObject();
                c_.out << j.text() << std::endl;
            } else {
                c_.out << "[" << e.camera << "] " << e.message << std::endl;
            }
            if (c_.onProvisionEvent) {
                c_.onProvisionEvent(e);
            }
        };
        if (c_.setInterruptible) {
            c_.setInterruptible(true);
        }
        const ProvisionResult result = provision(settings, hooks);
        if (c_.setInterruptible) {
            c_.setInterruptible(false);
        }
        if (!result.ledgerProblem.empty()) {
            c_.err << "orvctl: ledger " << result.ledgerProblem << "; stopped: " << result.inventoryOnly
                   << (result.inventoryOnly == 1 ? " outcome is" : " outcomes are") << " in the inventory only ("
                   << o_.inventory << ")\n";
        }
        if (sealRecording(*recording, c_) != kExitDone) {
            return kExitFailed;
        }
        return result.exitCode;
    }
};

std::string check(CliOptions& o)
{
    return o.inventory.empty() ? "provision needs --inventory FILE.csv" : std::string();
}

int action(const CliOptions& o, CliContext& c)
{
    ProvisionCommand command(o, c);
    return o.all ? command.workOnAllCameras(RunMode::Apply) : command.provisionCameras();
}

} // namespace

constexpr Command kProvisionCommand{
    .name = "provision",
    .kind = CommandKind::Provision,
    .operands = "SETUP.xml",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Set cameras up one after another, or many at once (--all).",
    .details =
        R"(provision SETUP.xml --inventory FILE.csv [--count N]
  One camera after another: wait until a camera answers at the address, log in, apply and verify
  the setup, append a row (local time, device id, officer id, result) to the inventory, wait until
  that camera has gone (unplugged or switched to U-disk mode), start over. A camera that fails is
  recorded as failed and the loop goes on. Runs until N cameras are done or Ctrl+C, which lets the
  current camera finish first.

provision SETUP.xml --all --inventory FILE.csv [--roster FILE.csv] [--count N] [--retry-failed]
  Many cameras at once, found as scan finds them: each camera is logged into, named by its device
  id, given the setup and its own officer and unit from the roster, read back, and recorded in the
  inventory (time, interface or address, device id, officer id, result, fields that differ, clock
  offset). Keeps looking for more cameras, and takes on the next one plugged in where one has gone,
  until N cameras were taken on or Ctrl+C, which lets every camera finish the step it is in and
  sends nothing more. The roster is checked whole before anything is sent; with a roster the setup
  may hold no group (the officers alone are written). Cameras attached at once that report the
  same device id get no officer: each is recorded as "duplicate device id".)",
    .related = kManyCameraOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
