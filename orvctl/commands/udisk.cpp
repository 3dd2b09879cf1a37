// orvctl udisk: switch the camera to U-disk mode.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "provision/camera_actions.h"

namespace orv::cli {
namespace {

int action(const CliOptions& o, CliContext& c)
{
    return runDeviceAction(o, c, "udisk", provision::requestUDiskMode);
}

} // namespace

constexpr Command kUDiskCommand{
    .name = "udisk",
    .kind = CommandKind::UDisk,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Switch the camera to U-disk mode; it leaves the network.",
    .related = kRecordedOptions,
    .action = action,
};

} // namespace orv::cli
