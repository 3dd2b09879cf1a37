// orvctl factory --yes: restore the camera's factory settings.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "provision/camera_actions.h"

namespace orv::cli {
namespace {

int action(const CliOptions& o, CliContext& c)
{
    return runDeviceAction(o, c, "factory", provision::factoryReset);
}

} // namespace

constexpr Command kFactoryCommand{
    .name = "factory",
    .kind = CommandKind::Factory,
    .operands = "--yes",
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Restore the camera's factory settings.",
    .details = "This cannot be undone: without --yes nothing is sent.",
    .related = "--yes --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json",
    .check = needsYes,
    .action = action,
};

} // namespace orv::cli
