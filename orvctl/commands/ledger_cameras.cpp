// orvctl ledger cameras: every camera in the ledger, its officer now and its last event.
#include "orvctl/command.h"
#include "orvctl/ledger_action.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

class CamerasAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = open()) {
            return code;
        }
        return cameras();
    }

private:
    int cameras()
    {
        std::vector<ledger::Event> events;
        if (!ledger_->readEvents({}, events)) {
            return readFailed();
        }
        warnUnreadable(events);
        const std::vector<ledger::CameraSummary> summaries = ledger::cameraSummaries(events);
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("cameras").beginArray();
            for (const ledger::CameraSummary& s : summaries) {
                j.beginObject().key("deviceId").value(s.deviceId);
                optionalText(j, "officer", s.officerNow);
                optionalText(j, "unit", s.unitNow);
                j.key("last");
                eventInJson(j, s.last);
                j.endObject();
            }
            j.endArray().endObject();
            c_.out << j.text() << "\n";
            return kExitDone;
        }
        for (const ledger::CameraSummary& s : summaries) {
            const ledger::Event& e = s.last;
            c_.out << s.deviceId << "  officer " << orDash(s.officerNow) << " (" << orDash(s.unitNow) << ")  last "
                   << e.kind << " " << ledger::localTimeText(e.timeUtc) << " by " << e.operatorName << "@" << e.station
                   << " at " << orDash(e.where) << ": " << orDash(e.result);
            if (e.clockOffsetSeconds) {
                c_.out << "  clock " << provision::clockOffsetText(*e.clockOffsetSeconds);
            }
            c_.out << "\n";
        }
        return kExitDone;
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return CamerasAction(o, c).run();
}

} // namespace

constexpr Command kLedgerCamerasCommand{
    .name = "cameras",
    .kind = CommandKind::LedgerCameras,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "List every camera in the ledger: its officer now, its last event.",
    .related = "--ledger --json",
    .action = action,
};

} // namespace orv::cli
