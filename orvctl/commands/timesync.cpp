// orvctl timesync: set the camera's clock from this computer.
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

class TimeSyncCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    // The time record read and written back with this computer's clock; the camera's clock offset
    // measured from the record it read goes into the ledger.
    int timesync()
    {
        if (const int code = start("timesync")) {
            return code;
        }
        const provision::ClockSyncResult result = provision::syncClock(link_);
        event_.clockOffsetSeconds = result.clockOffset;
        if (result.outcome == CameraOutcome::NoReply) {
            return failure(kExitUnreachable, "timesync: " + result.step,
                           std::string(outcomeText(result.outcome)) + "; nothing written");
        }
        if (result.outcome != CameraOutcome::Done) {
            return failure(kExitUnreachable, "timesync: " + result.step, std::string(outcomeText(result.outcome)));
        }
        printDone("timesync", "sent this computer's clock");
        return finish(kExitDone, "ok");
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return TimeSyncCommand(o, c).timesync();
}

} // namespace

constexpr Command kTimeSyncCommand{
    .name = "timesync",
    .kind = CommandKind::TimeSync,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Set the camera's clock from this computer.",
    .details = "The camera's time zone and summer time stay as they are.",
    .related = kRecordedOptions,
    .action = action,
};

} // namespace orv::cli
