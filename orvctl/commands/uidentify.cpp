// orvctl uidentify on|off.
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

class UIdentifyCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int uidentify()
    {
        std::string error;
        const std::optional<Assignment> a = parseAssignment(Group::UIdentify, "uIdentify=" + o_.operands[0], error);
        if (const int code = start("uidentify")) {
            return code;
        }
        event_.groups = groupName(Group::UIdentify);
        const GroupResult result = writeGroup(link_, Group::UIdentify, std::span(&*a, 1));
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(Group::UIdentify, result);
        }
        printDone("uidentify", "sent " + o_.operands[0]);
        return finish(kExitDone, "ok");
    }
};

std::string check(CliOptions& o)
{
    if (o.operands[0] != "on" && o.operands[0] != "off") {
        return "uidentify takes on or off";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return UIdentifyCommand(o, c).uidentify();
}

} // namespace

constexpr Command kUIdentifyCommand{
    .name = "uidentify",
    .kind = CommandKind::UIdentify,
    .operands = "on|off",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Switch U-identify on or off.",
    .related = kRecordedOptions,
    .check = check,
    .action = action,
};

} // namespace orv::cli
