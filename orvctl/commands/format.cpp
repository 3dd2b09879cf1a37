// orvctl format --yes: format the camera's SD card.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "provision/camera_actions.h"

namespace orv::cli {
namespace {

int action(const CliOptions& o, CliContext& c)
{
    return runDeviceAction(o, c, "format", provision::formatCard);
}

} // namespace

constexpr Command kFormatCommand{
    .name = "format",
    .kind = CommandKind::Format,
    .operands = "--yes",
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Format the camera's SD card.",
    .details = "This cannot be undone: without --yes nothing is sent.",
    .related = "--yes --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json",
    .check = needsYes,
    .action = action,
};

} // namespace orv::cli
